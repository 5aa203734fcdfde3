#include "app/cstartupdlg.h"
#include "app/logfile.h"
#include "app/logincycle.h"
#include "app/startup.h"
#include "app/xmlconfig.h"
#include "sip/cpjsipsua.h"
#include "ui/consoleparts.h"

#include <QApplication>

// Both logs exist before main() runs: logging works from its first line, and
// "logs" is created by the main log before the debug log opens in it.
[[maybe_unused]] static LogFile &s_debugLog = LogFile::debugLog();

int main(int argc, char *argv[])
{
    Startup::tuneAllocator();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tesmar"));

    Startup::parseCommandLine(QApplication::arguments());
    Startup::settleLocaleCodec(qgetenv("LANG"));
    Startup::initLibraries();
    CPJSIPSUA::startupLibrary();
    Startup::applyPalette();
    app.setStyleSheet(Startup::styleSheet());

    // A missing or unreadable file leaves the defaults in place.
    XMLConfig::instance().load();

    ConsoleParts parts([] { return new CStartupDlg; });
    LoginCycle cycle(parts, XMLConfig::instance());
    return cycle.run();
}
