#pragma once

#include <QPointer>

class EventFilter;
class QDialog;
class QWidget;
class XMLConfig;

// The rest of the program after start-up: show the login dialog, build and run
// the main window, tear it down, and go round again after Alt+Q or end the
// process. The cycle owns the order of things (log lines, configuration saves,
// window geometry, the relogin key, tear-down); what is built at each step is
// supplied by a Parts implementation, so the cycle itself stays independent of
// the subsystems. GUI thread; one instance, run once by main().
class LoginCycle
{
public:
    // What the cycle builds and tears down at its steps.
    class Parts
    {
    public:
        virtual ~Parts() = default;
        // Once: the event-socket client, the long-lived models and their wiring.
        virtual void createProcessObjects() = 0;
        // Each pass: a new login dialog (no parent); the cycle runs and deletes it.
        virtual QDialog *createLoginDialog() = 0;
        // Each login: the per-login objects and the main window, in that order.
        virtual QWidget *createSession() = 0;
        // Deletes what createSession() built: the window first.
        virtual void destroySession() = 0;
        // End of each login: SSH link, SIP agent, event socket.
        virtual void closeLinks() = 0;
        // Process end after a login: the models and the event-socket client.
        virtual void destroyProcessObjects() = 0;
        // Releases the SIP library; the SSH library too when loggedIn (the
        // path without a login leaves it to the process end).
        virtual void shutdownLibraries(bool loggedIn) = 0;
    };

    LoginCycle(Parts &parts, XMLConfig &config);
    ~LoginCycle();

    // Runs until the operator cancels the login or closes the window; always 0.
    int run();

    // Pause after the window went, letting worker threads wind down (200 ms).
    void setSettleDelayMs(int ms) { m_settleMs = ms; }
    QWidget *mainWindow() const { return m_window; }
    EventFilter *eventFilter() const { return m_filter; }

    // Set by Alt+Q; cleared before each main window is built. The login
    // dialog does not log in by itself while it is set.
    static bool reloginRequested();
    static void setReloginRequested(bool requested);
    // True while a main window is shown; the relogin key acts only then.
    static bool mainWindowShown();

private:
    void showMainWindow();
    void storeWindowGeometry();

    Parts &m_parts;
    XMLConfig &m_config;
    EventFilter *m_filter = nullptr;
    QPointer<QWidget> m_window;
    int m_settleMs = 200;
};
