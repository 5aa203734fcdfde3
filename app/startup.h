#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QTextCodec;

// The start-up steps of the console and the process-wide values they settle:
// whether automatic log-in was disabled on the command line or a relogin is
// under way, and the text codec of the locale (the SSH link decodes the
// library's error texts with it).
// Static only; used on the GUI thread by main() and read later by the login
// dialog and the SSH link.
class Startup
{
public:
    Startup() = delete;

    // Parses the command line (-n/--disable-autologin, help, version). Help,
    // version and unknown options end the process the Qt way.
    static void parseCommandLine(const QStringList &arguments);

    // Makes the codec named after the first '.' of a LANG value the codec for
    // locale, when Qt knows it, and remembers the resulting locale codec.
    static QTextCodec *settleLocaleCodec(const QByteArray &lang);

    // ssh_init() now, ssh_finalize() when the process ends.
    static void initLibraries();
    // Keeps freed memory in the process for the next reply instead of handing it back to the
    // kernel; call before anything allocates much.
    static void tuneAllocator();
    static void finalizeLibraries();

    // Solid window background in the active colour group.
    static void applyPalette();
    // The application style sheet compiled into the program.
    static QString styleSheet();

    static bool autologinDisabled();
    static void setAutologinDisabled(bool disabled);
    // Set when the operator asks to log in again (Alt+Q); the login dialog then
    // does not log in by itself.
    static bool reloginRequested();
    static void setReloginRequested(bool requested);
    static QTextCodec *localeCodec();
};
