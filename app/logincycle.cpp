#include "app/logincycle.h"

#include "app/eventfilter.h"
#include "app/logfile.h"
#include "app/xmlconfig.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QDialog>
#include <QIcon>
#include <QWidget>

#include <time.h>

namespace {
bool s_reloginRequested = false;
bool s_mainWindowShown = false;

const int kMaximized = Qt::WindowMaximized;
const int kFullScreen = Qt::WindowFullScreen;

void logInfo(const QString &text)
{
    LogFile::mainLog().write(INFO, text);
}
} // namespace

bool LoginCycle::reloginRequested()
{
    return s_reloginRequested;
}

void LoginCycle::setReloginRequested(bool requested)
{
    s_reloginRequested = requested;
}

bool LoginCycle::mainWindowShown()
{
    return s_mainWindowShown;
}

LoginCycle::LoginCycle(Parts &parts, XMLConfig &config)
    : m_parts(parts)
    , m_config(config)
{}

LoginCycle::~LoginCycle()
{
    delete m_filter;
}

int LoginCycle::run()
{
    m_filter = new EventFilter;
    m_parts.createProcessObjects();

    do {
        logInfo(QStringLiteral("Программа запущенна, Tesmar"));
        logInfo(QStringLiteral("Конфигурация загружена"));
        m_config.clearCurrentLogin();
        logInfo(QStringLiteral("Начат процесс подключения к FreeSwitch серверу"));

        QDialog *dialog = m_parts.createLoginDialog();
        const int result = dialog->exec();
        m_config.loginDialogScreen = QApplication::desktop()->primaryScreen();
        m_config.loginDialogX = dialog->x();
        m_config.loginDialogY = dialog->y();
        delete dialog;

        if (result == 0) {
            logInfo(QStringLiteral("Выход из программы, подключения к Freeswitch серверу не было"));
            m_parts.shutdownLibraries(false);
            return 0;
        }

        QIcon icon;
        icon.addFile(QStringLiteral(":/Data/blue.ico"), QSize(), QIcon::Normal, QIcon::Off);
        QApplication::setWindowIcon(icon);
        m_config.save();
        s_reloginRequested = false;
        m_window = m_parts.createSession();
        m_filter->setMainWindow(m_window);
        qApp->installEventFilter(m_filter);
        showMainWindow();

        QApplication::exec();

        s_mainWindowShown = false;
        storeWindowGeometry();
        m_config.save();

        // The log must not write into a viewer that is about to go.
        LogFile::mainLog().setViewer(nullptr);
        m_parts.destroySession();
        const struct timespec pause = {m_settleMs / 1000, (m_settleMs % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
        qApp->removeEventFilter(m_filter);
        m_filter->setMainWindow(nullptr);

        m_parts.closeLinks();
    } while (s_reloginRequested);

    m_parts.destroyProcessObjects();
    m_parts.shutdownLibraries(true);
    logInfo(QStringLiteral("Выход из программы, было подключение к Freeswitch серверу"));
    return 0;
}

void LoginCycle::showMainWindow()
{
    const int state = m_config.mainWindowState;
    if (state == -1) {
        m_window->showMaximized();
    } else {
        m_window->setWindowState(Qt::WindowStates(state));
        if (!(state & (kMaximized | kFullScreen))) {
            m_window->move(m_config.mainWindowX, m_config.mainWindowY);
            if (m_config.mainWindowWidth != 0 && m_config.mainWindowHeight != 0)
                m_window->resize(m_config.mainWindowWidth, m_config.mainWindowHeight);
        }
        m_window->show();
    }
    // Armed on the very first run too, so Alt+Q works from the first login.
    s_mainWindowShown = true;
}

void LoginCycle::storeWindowGeometry()
{
    if (!m_window)
        return;
    m_config.mainWindowX = m_window->x();
    m_config.mainWindowY = m_window->y();
    m_config.mainWindowWidth = m_window->geometry().width();
    m_config.mainWindowHeight = m_window->geometry().height();
    m_config.mainWindowState = int(m_window->windowState());
}
