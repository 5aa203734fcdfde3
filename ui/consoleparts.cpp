#include "ui/consoleparts.h"

#include "admin/sshcommands.h"
#include "admin/sshsftplink.h"
#include "app/startup.h"
#include "app/xmlconfig.h"
#include "conferences/conferencelistmodel.h"
#include "esl/esl2.h"
#include "records/recordlistmodel.h"
#include "sip/cpjsipsua.h"
#include "ui/mainappframewindow3.h"
#include "users/userlistmodel.h"

#include <QDialog>

ConsoleParts::ConsoleParts(DialogFactory loginDialog) : m_loginDialog(std::move(loginDialog))
{}

ConsoleParts::~ConsoleParts()
{
    delete m_window;
    delete m_ssh;
    delete m_records;
}

void ConsoleParts::createProcessObjects()
{
    m_esl = new ESL2;
    m_users = new UserListModel(QStringLiteral("root"));
    QObject::connect(m_esl, SIGNAL(connected()), m_users, SLOT(eslConnected()), Qt::QueuedConnection);
    QObject::connect(m_esl, SIGNAL(registeredEvent(ESL2::Event)), m_users, SLOT(registeredEvent(ESL2::Event)),
                     Qt::QueuedConnection);
    QObject::connect(m_esl, SIGNAL(presence(ESL2::Event)), m_users, SLOT(presenceEvent(ESL2::Event)),
                     Qt::QueuedConnection);
    m_conferences = new ConferenceListModel;
    QObject::connect(m_users, SIGNAL(userListReloaded()), m_conferences, SLOT(eslConnected()));
    QObject::connect(m_esl, SIGNAL(conferenceEvent(ESL2::Event)), m_conferences,
                     SLOT(conferenceEvent(ESL2::Event)), Qt::QueuedConnection);
}

MainAppFrameWindow3 *ConsoleParts::window() const
{
    return m_window;
}

QDialog *ConsoleParts::createLoginDialog()
{
    return m_loginDialog();
}

QWidget *ConsoleParts::createSession()
{
    const XMLConfig &config = XMLConfig::instance();
    // The window finds this login's recording list; it is built first and goes last.
    m_records = new RecordListModel;
    // The SSH account's password is the event-socket password the login read.
    m_ssh = new SSHCommands(&SSHSFTPLink::instance(), config.currentServerHost, config.currentEslPassword,
                            config.sshPort);
    m_window = new MainAppFrameWindow3(m_ssh);
    return m_window;
}

void ConsoleParts::destroySession()
{
    // The window stops the SSH thread before the front it ran goes.
    delete m_window;
    delete m_ssh;
    m_ssh = nullptr;
    delete m_records;
    m_records = nullptr;
}

void ConsoleParts::closeLinks()
{
    SSHSFTPLink::instance().disconnect();
    CPJSIPSUA::instance().Deinit();
    m_esl->disconnectFromServer();
}

void ConsoleParts::destroyProcessObjects()
{
    delete m_users;
    m_users = nullptr;
    delete m_conferences;
    m_conferences = nullptr;
    delete m_esl;
    m_esl = nullptr;
}

void ConsoleParts::shutdownLibraries(bool loggedIn)
{
    if (!m_shutdownLibraries)
        return;
    if (loggedIn)
        Startup::finalizeLibraries();
    CPJSIPSUA::shutdownLibrary();
}
