#pragma once

#include "app/logincycle.h"

#include <QPointer>

#include <functional>

class ConferenceListModel;
class ESL2;
class MainAppFrameWindow3;
class RecordListModel;
class SSHCommands;
class UserListModel;

// The console's own parts for the login cycle: builds the event-socket client
// and the two long-lived models with their connections, the login dialog and,
// per login, the recording list and the main window; closes the links at the end of each login.
// GUI thread; one instance, owned by main().
class ConsoleParts final : public LoginCycle::Parts
{
public:
    using DialogFactory = std::function<QDialog *()>;

    explicit ConsoleParts(DialogFactory loginDialog);
    ~ConsoleParts() override;

    void createProcessObjects() override;
    QDialog *createLoginDialog() override;
    QWidget *createSession() override;
    void destroySession() override;
    void closeLinks() override;
    void destroyProcessObjects() override;
    void shutdownLibraries(bool loggedIn) override;

    ESL2 *esl() const { return m_esl; }
    UserListModel *users() const { return m_users; }
    ConferenceListModel *conferences() const { return m_conferences; }
    MainAppFrameWindow3 *window() const;
    RecordListModel *records() const { return m_records; }

    // Tests keep the process-wide libraries alive between runs.
    void setShutdownLibraries(bool shutdown) { m_shutdownLibraries = shutdown; }

private:
    DialogFactory m_loginDialog;
    ESL2 *m_esl = nullptr;
    UserListModel *m_users = nullptr;
    ConferenceListModel *m_conferences = nullptr;
    QPointer<MainAppFrameWindow3> m_window;
    RecordListModel *m_records = nullptr;
    SSHCommands *m_ssh = nullptr;
    bool m_shutdownLibraries = true;
};
