// The dispatcher's conference control end to end against the lab that scripts/lab-up started:
// the console's objects wired in-process as after a login, its own SIP agent registered at the
// lab over real SIP, and the lab driven and read through its control port. Each scenario works
// in conferences of its own (the primary included), so the sample world stays as it was.

#include "app/xmlconfig.h"
#include "conferences/conferencecontrol.h"
#include "conferences/conferencelistmodel.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "esl/esl2.h"
#include "sip/cpjsipsua.h"
#include "tests/support/freemediaport.h"
#include "tests/support/labenv.h"
#include "users/userlistmodel.h"

#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

using PM = ConferenceParticipantsModel;

namespace {

// The console after a login: event-socket client, the two models, the conference control wired as
// the login cycle and the main window wire them, and the SIP agent with the dispatcher's account.
class Console
{
public:
    explicit Console(const LabEnv &lab) : m_lab(lab)
    {
        esl = std::make_unique<ESL2>();
        users = std::make_unique<UserListModel>(QStringLiteral("root"));
        QObject::connect(esl.get(), SIGNAL(connected()), users.get(), SLOT(eslConnected()),
                         Qt::QueuedConnection);
        QObject::connect(esl.get(), SIGNAL(registeredEvent(ESL2::Event)), users.get(),
                         SLOT(registeredEvent(ESL2::Event)), Qt::QueuedConnection);
        QObject::connect(esl.get(), SIGNAL(presence(ESL2::Event)), users.get(),
                         SLOT(presenceEvent(ESL2::Event)), Qt::QueuedConnection);
        conferences = std::make_unique<ConferenceListModel>();
        QObject::connect(users.get(), SIGNAL(userListReloaded()), conferences.get(), SLOT(eslConnected()));
        QObject::connect(esl.get(), SIGNAL(conferenceEvent(ESL2::Event)), conferences.get(),
                         SLOT(conferenceEvent(ESL2::Event)), Qt::QueuedConnection);
        control = std::make_unique<ConferenceControl>(esl.get(), conferences.get(), users.get(),
                                                      XMLConfig::instance());
        const char *const window[][2] = {
            {SIGNAL(callToConference(QString, QString)), SLOT(callToConference(QString, QString))},
            {SIGNAL(transferRequest(QString, QString, QString)),
             SLOT(transferRequest(QString, QString, QString))},
            {SIGNAL(userEnteredConference(QString, QString)), SLOT(userEnteredConference(QString, QString))},
            {SIGNAL(userLeftConference(QString, QString)), SLOT(userLeftConference(QString, QString))},
            {SIGNAL(dispatcherLeftConference(QString)), SLOT(dispatcherLeftConference())},
            {SIGNAL(dispatcherCallError(QString, QString)), SLOT(dispatcherCallError(QString, QString))}};
        for (const auto &w : window)
            QObject::connect(conferences.get(), w[0], control.get(), w[1]);
        QObject::connect(users.get(), SIGNAL(dispatcherRegistered()), control.get(),
                         SLOT(dispatcherLeftConference()));
        QObject::connect(
            control.get(), &ConferenceControl::message,
            [this](const QString &title, const QString &text) { messages << title + '/' + text; });
    }

    ~Console()
    {
        // As at the end of a login cycle: the agent goes down, then the event socket.
        CPJSIPSUA::instance().Deinit();
        CPJSIPSUA::instance().setRegistrarPort(0);
        esl->disconnectFromServer(); // the members go in reverse order: control first, the socket last
    }

    // Connects the event socket and waits for the directory and the conference snapshot.
    bool logIn()
    {
        QSignalSpy reloaded(users.get(), &UserListModel::userListReloaded);
        emit esl->sigConnect(m_lab.value("LAB_HOST"), m_lab.port("LAB_ESL_PORT"),
                             m_lab.value("LAB_ESL_PASSWORD"));
        // The snapshot request follows the reload; its reply is a round trip later.
        return QTest::qWaitFor([&] { return !reloaded.isEmpty() && users->hasUser(me()); }, 15000) &&
               (QTest::qWait(500), true);
    }

    // Starts the agent and registers the dispatcher at the lab's SIP side.
    bool registerAgent()
    {
        CPJSIPSUA &ua = CPJSIPSUA::instance();
        if (!ua.Init()) {
            qWarning() << "agent:" << ua.initError();
            return false;
        }
        QSignalSpy ok(&ua, &CPJSIPSUA::registrationOK);
        ua.setRegistrarPort(m_lab.port("LAB_SIP_PORT"));
        const XMLConfig &c = XMLConfig::instance();
        return ua.addAccount(c.currentLoginAddress.toUtf8(), c.currentSipPassword.toUtf8()) &&
               (!ok.isEmpty() || ok.wait(10000));
    }

    QString me() const { return control->dispatcherUri(); }

    QModelIndex row(const QString &conf, const QString &uri) const
    {
        const auto members =
            conferences->hasConference(conf) ? conferences->getParticipantsModel(conf) : nullptr;
        return members ? members->findRow(PM::UriRole, uri) : QModelIndex();
    }
    int state(const QString &conf, const QString &uri) const
    {
        const QModelIndex r = row(conf, uri);
        return r.isValid() ? r.data(PM::StateRole).toInt() : -1;
    }
    bool connected(const QString &conf, const QString &uri) const
    {
        return state(conf, uri) == PM::Connected;
    }

    // A new conference as the operator makes it, selected in the list.
    QString newSelectedConference()
    {
        const int r = conferences->addNewConference();
        control->conferenceSelected(conferences->index(r, 0));
        return conferences->index(r, 0).data(Qt::DisplayRole).toString();
    }

    // What the conference list view does when a member row is dropped on another conference.
    bool drag(const QString &from, const QString &uri, const QString &to)
    {
        const auto members = conferences->getParticipantsModel(from);
        const QModelIndexList target = conferences->match(
            conferences->index(0, 0), ConferenceListModel::ConferenceIdRole, to, 1, Qt::MatchExactly);
        if (!members || target.isEmpty())
            return false;
        std::unique_ptr<QMimeData> mime(members->mimeData({row(from, uri)}));
        return conferences->dropMimeData(mime.get(), Qt::CopyAction, -1, -1, target.first());
    }

    std::unique_ptr<ESL2> esl;
    std::unique_ptr<UserListModel> users;
    std::unique_ptr<ConferenceListModel> conferences;
    std::unique_ptr<ConferenceControl> control;
    QStringList messages;

private:
    const LabEnv &m_lab;
};

} // namespace

class E2eConferenceControlTest : public QObject
{
    Q_OBJECT

    LabEnv m_lab;
    QTemporaryDir m_dir;
    XMLConfig m_defaults;
    QString m_tag; // keeps this run's conferences apart from the world's and other runs'
    QStringList m_used;

    // The caller numbers of a conference's members at the lab, as the server lists them.
    QStringList labMembers(const QString &conf)
    {
        QStringList out;
        const QString xml = QString::fromUtf8(m_lab.control("api conference " + conf + " xml_list"));
        auto it = QRegularExpression("<caller_id_number>([^<]*)</caller_id_number>").globalMatch(xml);
        while (it.hasNext())
            out << it.next().captured(1);
        out.sort();
        return out;
    }
    // A subscriber the server calls into a conference, as if it had dialled in.
    void subscriberJoins(const QString &user, const QString &conf)
    {
        const QByteArray reply =
            m_lab.control("api originate user/" + user + "@127.0.0.1 " + conf + " XML conference");
        QVERIFY2(reply.startsWith("+OK"), reply.constData());
    }
    static int agentCalls() { return CPJSIPSUA::instance().activeCallCount(); }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_lab.load(&error), qPrintable(error));
        QVERIFY2(!m_lab.value("LAB_SIP_PORT").isEmpty(), "the lab serves no SIP: run scripts/lab-up again");
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        CPJSIPSUA::startupLibrary();
        CPJSIPSUA::instance().setDataDirectory(m_dir.filePath("sipdata"));
        m_tag = QStringLiteral("e2e%1-").arg(QCoreApplication::applicationPid());
        // A run killed midway leaves the dispatcher registered; every scenario logs in unregistered.
        m_lab.control("unregister " + m_lab.value("LAB_DISPATCHER_USER"));
    }

    void init()
    {
        XMLConfig &c = XMLConfig::instance();
        c = m_defaults;
        c.currentLoginUser = m_lab.value("LAB_DISPATCHER_USER");
        c.currentServerHost = m_lab.value("LAB_DOMAIN");
        c.currentLoginAddress = c.currentLoginUser + '@' + c.currentServerHost;
        c.currentSipPassword = m_lab.value("LAB_DISPATCHER_PASSWORD");
        c.currentEslPassword = m_lab.value("LAB_ESL_PASSWORD");
        c.eslPort = m_lab.port("LAB_ESL_PORT");
        c.mediaPort = freeMediaPort();
        c.callTimeout = 20;
        c.alarmDelay = 60; // no loud-alarm legs while the callee rings
        c.primaryConferenceId = m_tag + "primary";
        c.newConferencePrefix = m_tag + "room-";
        m_used = QStringList{c.primaryConferenceId};
    }

    void cleanup()
    {
        for (const QString &name : qAsConst(m_used))
            m_lab.control("api conference " + name + " kick all");
        QTRY_COMPARE_WITH_TIMEOUT(agentCalls(), 0, 10000);
        // The logout took the registration away at the server too.
        QVERIFY(m_lab.control("api list_users user " + m_lab.value("LAB_DISPATCHER_USER"))
                    .contains("|error/user_not_registered|"));
    }

    void cleanupTestCase() { CPJSIPSUA::shutdownLibrary(); }

    void permanentModeKeepsTheDispatcherInThePrimary()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchPermanent;
        Console console(m_lab);
        const QString primary = XMLConfig::instance().primaryConferenceId;
        QVERIFY(console.logIn());
        // Nobody is called before the agent is registered.
        QCOMPARE(labMembers(primary), QStringList());
        QVERIFY(console.registerAgent());

        // The registration brings the dispatcher in: the row, the lab's member and the agent's call.
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(primary, console.me()), 15000);
        QCOMPARE(labMembers(primary), QStringList{m_lab.value("LAB_DISPATCHER_USER")});
        QTRY_COMPARE_WITH_TIMEOUT(agentCalls(), 1, 5000);
        QVERIFY(CPJSIPSUA::instance().activeSpeakerGain() >= 0);

        // Thrown out at the server, it is called back in.
        const QString firstId = console.row(primary, console.me()).data(PM::MemberIdRole).toString();
        QVERIFY(m_lab.control("api conference " + primary + " kick " + firstId).startsWith("+OK kicked"));
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(primary, console.me()) &&
                                     console.row(primary, console.me()).data(PM::MemberIdRole).toString() !=
                                         firstId,
                                 15000);
        QCOMPARE(labMembers(primary), QStringList{m_lab.value("LAB_DISPATCHER_USER")});
        QTRY_COMPARE_WITH_TIMEOUT(agentCalls(), 1, 5000);
        QCOMPARE(console.messages, QStringList());
    }

    void autoModeFollowsTheSubscribersOfThePrimary()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchAuto;
        Console console(m_lab);
        const QString primary = XMLConfig::instance().primaryConferenceId;
        const QString technician = m_lab.value("LAB_TECHNICIAN_USER");
        const QString subscriber = m_lab.value("LAB_SUBSCRIBER_USER");
        QVERIFY(console.logIn());
        QVERIFY(console.registerAgent());

        // A technician in the primary does not bring the dispatcher.
        subscriberJoins(technician, primary);
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(primary, technician + "@127.0.0.1"), 5000);
        QTest::qWait(1500);
        QCOMPARE(labMembers(primary), QStringList{technician});
        QCOMPARE(agentCalls(), 0);

        // A subscriber does.
        subscriberJoins(subscriber, primary);
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(primary, console.me()), 15000);
        QCOMPARE(labMembers(primary),
                 (QStringList{m_lab.value("LAB_DISPATCHER_USER"), technician, subscriber}));
        QTRY_COMPARE_WITH_TIMEOUT(agentCalls(), 1, 5000);

        // The subscriber hangs up: the dispatcher leaves, the technician stays.
        const QString id = console.row(primary, subscriber + "@127.0.0.1").data(PM::MemberIdRole).toString();
        QVERIFY(m_lab.control("api conference " + primary + " kick " + id).startsWith("+OK kicked"));
        QTRY_COMPARE_WITH_TIMEOUT(agentCalls(), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(labMembers(primary), QStringList{technician}, 5000);
        QVERIFY(!console.connected(primary, console.me()));
        QCOMPARE(console.messages, QStringList());
    }

    void failedCallsAndPublicNetworkNumbers()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchManual;
        Console console(m_lab);
        QVERIFY(console.logIn());
        QVERIFY(console.registerAgent());
        const QString room = console.newSelectedConference();
        m_used << room;

        // One answers, one is busy: the busy one shows why.
        console.control->callToConference(QSet<QString>{"2001@127.0.0.1", "2002@127.0.0.1"});
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(room, "2001@127.0.0.1"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(console.state(room, "2002@127.0.0.1"), int(PM::Failed), 10000);
        QCOMPARE(console.row(room, "2002@127.0.0.1").data(Qt::ToolTipRole).toString(),
                 QString("Пользователь занят"));

        // Numbers from the dial dialog: 8... answers and joins through the gateway, 7... is busy.
        console.control->callPstnNumber("89001234567");
        console.control->callPstnNumber("71234567");
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(room, "89001234567"), 10000);
        QVERIFY(console.row(room, "89001234567").data(PM::PstnRole).toBool());
        QCOMPARE(labMembers(room), (QStringList{"2001", "pstn:89001234567"}));
        QTRY_COMPARE_WITH_TIMEOUT(console.state(room, "71234567"), int(PM::Failed), 10000);
        QCOMPARE(console.row(room, "71234567").data(Qt::ToolTipRole).toString(),
                 QString("Пользователь занят"));

        // Starting the conference again re-calls the failed rows, each as what it is, and they fail
        // again the same way; the connected members are not called twice.
        QCOMPARE(console.conferences->getParticipantsModel(room)->rowCount(), 4);
        console.control->startConference();
        QTRY_VERIFY_WITH_TIMEOUT(console.state(room, "2002@127.0.0.1") == PM::Calling &&
                                     console.state(room, "71234567") == PM::Calling,
                                 5000);
        QTRY_VERIFY_WITH_TIMEOUT(console.state(room, "2002@127.0.0.1") == PM::Failed &&
                                     console.state(room, "71234567") == PM::Failed,
                                 10000);
        QCOMPARE(console.row(room, "71234567").data(Qt::ToolTipRole).toString(),
                 QString("Пользователь занят"));
        QCOMPARE(console.conferences->getParticipantsModel(room)->rowCount(), 4);
        QCOMPARE(labMembers(room), (QStringList{"2001", "pstn:89001234567"}));
        QCOMPARE(console.messages, QStringList());
        QCOMPARE(agentCalls(), 0);
    }

    void twoConferencesCallTheAgentAndAMemberIsMoved()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchManual;
        Console console(m_lab);
        QVERIFY(console.logIn());
        QVERIFY(console.registerAgent());
        const QString first = console.newSelectedConference();
        const QString second = console.newSelectedConference();
        m_used << first << second;
        const QString dispatcher = m_lab.value("LAB_DISPATCHER_USER");

        // Both conferences call the dispatcher at once; both calls stay up with media.
        console.control->callToConference(first, console.me());
        console.control->callToConference(second, console.me());
        console.control->callToConference(first, "2001@127.0.0.1");
        QTRY_VERIFY_WITH_TIMEOUT(
            console.connected(first, console.me()) && console.connected(second, console.me()), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(agentCalls(), 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(first, "2001@127.0.0.1"), 10000);
        QTest::qWait(3000);
        QCOMPARE(agentCalls(), 2);
        QVERIFY(CPJSIPSUA::instance().activeSpeakerGain() >= 0);
        QCOMPARE(labMembers(first), (QStringList{dispatcher, "2001"}));
        QCOMPARE(labMembers(second), QStringList{dispatcher});

        // The subscriber dragged onto the second conference moves there, keeping its member id.
        const QString id = console.row(first, "2001@127.0.0.1").data(PM::MemberIdRole).toString();
        QVERIFY(console.drag(first, "2001@127.0.0.1", second));
        QTRY_COMPARE_WITH_TIMEOUT(labMembers(second), (QStringList{dispatcher, "2001"}), 5000);
        QCOMPARE(labMembers(first), QStringList{dispatcher});
        QTRY_VERIFY_WITH_TIMEOUT(console.connected(second, "2001@127.0.0.1"), 5000);
        QCOMPARE(console.row(second, "2001@127.0.0.1").data(PM::MemberIdRole).toString(), id);
        QVERIFY(!console.connected(first, "2001@127.0.0.1"));
        QCOMPARE(agentCalls(), 2);
        QCOMPARE(console.messages, QStringList());
    }
};

QTEST_MAIN(E2eConferenceControlTest)
#include "e2econferencecontrol_test.moc"
