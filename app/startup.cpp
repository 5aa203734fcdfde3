#include "app/startup.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QFile>
#include <QPalette>
#include <QTextCodec>

#include <libssh/libssh.h>

namespace {

bool s_autologinDisabled = false;
bool s_reloginRequested = false;
QTextCodec *s_localeCodec = nullptr;

} // namespace

void Startup::parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tesmar"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption noAutologin(
        QStringList{QStringLiteral("n"), QStringLiteral("disable-autologin")},
        QStringLiteral("Disable autologin"));
    parser.addOption(noAutologin);
    parser.process(arguments);
    s_autologinDisabled = parser.isSet(noAutologin);
}

QTextCodec *Startup::settleLocaleCodec(const QByteArray &lang)
{
    const int dot = lang.indexOf('.');
    if (dot >= 0) {
        if (QTextCodec *codec = QTextCodec::codecForName(lang.mid(dot + 1)))
            QTextCodec::setCodecForLocale(codec);
    }
    s_localeCodec = QTextCodec::codecForLocale();
    return s_localeCodec;
}

void Startup::initLibraries()
{
    if (ssh_init() < 0)
        qWarning("Startup::initLibraries(): ssh_init() failed");
}

void Startup::tuneAllocator()
{
#ifdef __GLIBC__
    // The directory and conference replies run to megabytes and come again with every load.
    // By default each such buffer is a fresh mapping that is returned on free, so every load
    // faults its pages in anew; on a virtual machine that doubled the load. Below 64 MB a
    // buffer now comes from the heap, and the heap keeps up to 128 MB of freed memory.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
#endif
}

void Startup::finalizeLibraries()
{
    ssh_finalize();
}

void Startup::applyPalette()
{
    QPalette palette = QApplication::palette();
    palette.setBrush(QPalette::Active, QPalette::Window,
                     QBrush(palette.color(QPalette::Active, QPalette::Window), Qt::SolidPattern));
    QApplication::setPalette(palette);
}

QString Startup::styleSheet()
{
    // The resources live in this static library, so they must be registered by hand.
    Q_INIT_RESOURCE(app);
    QFile file(QStringLiteral(":/app/stylesheet.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool Startup::autologinDisabled()
{
    return s_autologinDisabled;
}

void Startup::setAutologinDisabled(bool disabled)
{
    s_autologinDisabled = disabled;
}

bool Startup::reloginRequested()
{
    return s_reloginRequested;
}

void Startup::setReloginRequested(bool requested)
{
    s_reloginRequested = requested;
}

QTextCodec *Startup::localeCodec()
{
    return s_localeCodec ? s_localeCodec : QTextCodec::codecForLocale();
}
