#include "conferencetestutil.h"

#include "conferences/conferencecontrol.h"
#include "lab/labdialstring.h"
#include "tests/support/fakeeslserver.h"
#include "users/userlistmodel.h"

#include <QtTest>

using namespace conftest;

namespace {
// 1000 is the dispatcher (not yet registered), 1009 a technician; 1006 and 1007 carry hostile names.
const QString kUsers = "userid|context|domain|group|contact|callgroup|effective_caller_id_name|x\n"
                       "1000|default|pbx|default|error/user_not_registered||Диспетчер|\n"
                       "1003|default|pbx|default|error/user_not_registered||Иван Петров|\n"
                       "1004|default|pbx|default|error/user_not_registered||Анна|\n"
                       "1006|default|pbx|default|error/user_not_registered||x',api_hangup_hook='system rm'|\n"
                       "1007|default|pbx|default|error/user_not_registered||a}user/evil,{b [c]|\n"
                       "1009|default|pbx|default|error/user_not_registered||Техник|\n";

// The placeholder event as sent (the fake server reports commands without their blank line).
QString placeholderSent(const QString &conf, const QString &presence, const QString &call, const QString &job)
{
    return "sendevent\nEvent-Name: CUSTOM\nEvent-Subclass: conference::maintenance\nConference-Name: " +
           conf + "\nAction: add-member\nChannel-Presence-ID: " + presence +
           "\nMember-ID: virtual\nMember-Type: member\nChannel-Call-UUID: " + call +
           "\nMember-Job-UUID: " + job;
}

LabDialString dial(const QString &originate)
{
    LabDialString d;
    QString error;
    if (!LabDialString::parse(originate.mid(QString("bgapi originate ").size()), &d, &error))
        qWarning() << "unparsable dial string:" << error;
    return d;
}

QStringList legs(const LabDialString &d)
{
    QStringList out;
    for (const LabDialLeg &leg : d.legs)
        out << QStringList(leg.vars.keys()).join(',') + ']' + leg.endpoint;
    return out;
}
} // namespace

class ConferenceControlTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeEslServer> m_server;
    std::unique_ptr<ESL2> m_esl;
    std::unique_ptr<UserListModel> m_users;
    std::unique_ptr<LM> m_model;
    std::unique_ptr<ConferenceControl> m_control;
    std::unique_ptr<QSignalSpy> m_messages;
    int m_seen = 0;

    // The next count commands the server receives (waits for them), then any already there.
    QStringList commands(int count)
    {
        const int from = m_seen;
        if (!QTest::qWaitFor([&] { return m_server->commands().size() >= from + count; }, 3000))
            qWarning() << "waited in vain for" << count << "commands";
        if (count == 0)
            QTest::qWait(150);
        const QStringList got = m_server->commands().mid(from);
        m_seen = from + got.size();
        return got;
    }
    std::shared_ptr<PM> create(const QString &conf)
    {
        m_model->conferenceEvent(confEvent("conference-create", conf));
        return m_model->getParticipantsModel(conf);
    }
    void select(const QString &conf)
    {
        m_control->conferenceSelected(
            m_model->match(m_model->index(0, 0), LM::ConferenceIdRole, conf).value(0));
    }
    void fail(const QString &job, const QString &body = "-ERR USER_NOT_REGISTERED")
    {
        emit m_esl->backgroundJob(jobResult(job, body));
    }

private slots:
    void init()
    {
        resetConfigAndDirectory();
        MemberDirectory::setOverrideForTest({});
        XMLConfig &c = XMLConfig::instance();
        c.callTimeout = 30;
        c.alarmDelay = 5;
        c.srtpMode = XMLConfig::SrtpDisabled;
        c.switchToConference = XMLConfig::SwitchManual;
        // The directory first, so that its role and group requests do not reach the server.
        m_users = std::make_unique<UserListModel>();
        m_users->userListReceived(kUsers, {});
        m_users->userRoleReceived("dispatcher", "1000@pbx");
        m_users->userRoleReceived("technician", "1009@pbx");
        m_server = std::make_unique<FakeEslServer>();
        m_esl = std::make_unique<ESL2>();
        m_esl->setTimerIntervalsForTest(3000, 10000, 50);
        emit m_esl->sigConnect(m_server->host(), m_server->port(), m_server->password());
        QTRY_VERIFY(m_server->isSubscribed());
        m_model = std::make_unique<LM>();
        connect(m_esl.get(), &ESL2::conferenceEvent, m_model.get(), &LM::conferenceEvent);
        m_control = std::make_unique<ConferenceControl>(m_esl.get(), m_model.get(), m_users.get(), c);
        m_control->setTimersForTest(300, 100);
        ConferenceControl *control = m_control.get();
        // The window's connections.
        connect(m_model.get(), &LM::userEnteredConference, control,
                &ConferenceControl::userEnteredConference);
        connect(m_model.get(), &LM::userLeftConference, control, &ConferenceControl::userLeftConference);
        connect(m_model.get(), &LM::dispatcherLeftConference, control,
                &ConferenceControl::dispatcherLeftConference);
        connect(m_model.get(), &LM::dispatcherCallError, control, &ConferenceControl::dispatcherCallError);
        connect(m_model.get(), &LM::transferRequest, control, &ConferenceControl::transferRequest);
        connect(m_users.get(), &UserListModel::dispatcherRegistered, control,
                &ConferenceControl::dispatcherLeftConference);
        m_messages = std::make_unique<QSignalSpy>(control, &ConferenceControl::message);
        m_seen = m_server->commands().size();
    }

    void cleanup()
    {
        m_messages.reset();
        m_control.reset();
        m_model.reset();
        m_users.reset();
        m_esl.reset();
        m_server.reset();
    }

    void callChainFillsBothTemplates()
    {
        auto room1 = create("room1");
        m_control->callToConference("room1", "1003@pbx");
        QStringList sent = commands(3);
        QString uuid = m_server->createdUuids().last();
        QCOMPARE(
            sent,
            (QStringList{
                "api create_uuid",
                "bgapi originate {originate_timeout=30,origination_caller_id_name='room1',rtp_secure_"
                "media=forbidden,origination_caller_id_number=room1,origination_callee_id_name='Иван "
                "Петров'}[api_hangup_hook='originate loopback/1003@pbx/answered 0',origination_uuid=" +
                    uuid + "]user/1003@pbx,[leg_delay_start=5]loopback/1003@pbx/alarm room1 XML conference",
                placeholderSent("room1", "1003@pbx", uuid, m_server->jobUuids().last())}));
        const LabDialString user = dial(sent.at(1));
        QCOMPARE(legs(user), (QStringList{"api_hangup_hook,origination_uuid]user/1003@pbx",
                                          "leg_delay_start]loopback/1003@pbx/alarm"}));
        QCOMPARE(user.conference(), "room1"_q);

        // The echoed placeholder rings, tied to its job; ringing or connected, nobody is called twice.
        QTRY_COMPARE(state(memberByUri(*room1, "1003@pbx")), int(PM::Calling));
        QCOMPARE(memberByUri(*room1, "1003@pbx").data(PM::JobUuidRole).toString(),
                 m_server->jobUuids().last());
        m_control->callToConference("room1", "1003@pbx");
        m_model->conferenceEvent(addMember("room1", "12", "1003@pbx"));
        m_control->callToConference("room1", "1003@pbx");
        QCOMPARE(commands(0), QStringList());

        // A number from the dial dialog goes to the selected conference, through the PSTN context.
        XMLConfig::instance().srtpMode = XMLConfig::SrtpMandatory;
        m_control->callPstnNumber("89001234567");
        QCOMPARE(emitted(*m_messages), QStringList{"Ошибка/Ошибка: не выбрана конференция"});
        QSignalSpy title(m_control.get(), &ConferenceControl::titleChanged);
        select("room1");
        QCOMPARE(m_control->shownParticipants(), room1.get());
        m_control->callPstnNumber("89001234567");
        sent = commands(3);
        uuid = m_server->createdUuids().last();
        QCOMPARE(sent.value(1),
                 "bgapi originate {originate_timeout=30,origination_caller_id_name='room1',rtp_"
                 "secure_media=mandatory,origination_caller_id_number=room1,origination_callee_id_"
                 "name='ТСОП',origination_callee_id_number=pstn:89001234567}[origination_uuid=" +
                     uuid + "]loopback/89001234567/pstn/XML room1 XML conference");
        QCOMPARE(sent.value(2),
                 placeholderSent("room1", "pstn:89001234567", uuid, m_server->jobUuids().last()));
        QCOMPARE(dial(sent.value(1)).conference(), "room1"_q);
        QTRY_VERIFY(memberByUri(*room1, "89001234567").data(PM::PstnRole).toBool());

        // A rename of the shown conference retitles it.
        m_model->setData(m_model->index(1, 0), "room1b", Qt::DisplayRole);
        QCOMPARE(emitted(title), (QStringList{"room1", "room1b"}));
    }

    void failedStepsGiveFailedPlaceholdersAndRecallKeepsTheKind()
    {
        auto room2 = create("room2");
        m_server->clearReplies();
        m_server->addApiReply("api create_uuid", "-ERR no more uuids\n");
        m_control->callToConference("room2", "1003@pbx");
        QCOMPARE(commands(2),
                 (QStringList{"api create_uuid", placeholderSent("room2", "1003@pbx",
                                                                 "Ошибка вызова: -ERR no more uuids", "")}));
        QTRY_COMPARE(state(memberByUri(*room2, "1003@pbx")), int(PM::Failed));

        m_server->clearReplies();
        m_server->addCommandReply(QRegularExpression("^bgapi originate"), "-ERR INVALID_GATEWAY");
        m_control->callToConference("room2", "555", true);
        const QString sentPlaceholder = commands(3).value(2);
        QCOMPARE(sentPlaceholder, placeholderSent("room2", "pstn:555", m_server->createdUuids().value(0),
                                                  "Ошибка вызова: -ERR INVALID_GATEWAY"));
        QTRY_COMPARE(memberByUri(*room2, "555").data(Qt::ToolTipRole).toString(),
                     "Ошибка вызова: -ERR INVALID_GATEWAY"_q);

        // Start re-calls both failed rows, each as what it is; both show as pending at once.
        select("room2");
        m_control->startConference();
        QCOMPARE(memberByUri(*room2, "555").data(PM::PendingRole).toString(), "Вызов..."_q);
        const QStringList sent = commands(6);
        QCOMPARE(sent.filter("bgapi originate").size(), 2);
        QVERIFY(sent.filter("bgapi originate").first().contains("user/1003@pbx,"));
        QVERIFY(sent.filter("bgapi originate").last().contains("loopback/555/pstn/XML"));
        QTRY_VERIFY(memberByUri(*room2, "555").data(PM::PendingRole).toString().isEmpty());
    }

    void autoModeJoinsOnceWithinTheGuardAndLeaves()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchAuto;
        auto primary = create("0");
        m_model->conferenceEvent(addMember("0", "5", "1009@pbx")); // privileged: nothing
        QCOMPARE(commands(0), QStringList());
        m_model->conferenceEvent(addMember("0", "6", "1003@pbx"));
        QCOMPARE(commands(3).value(1).contains("user/1000@pbx,"), true);
        QVERIFY(m_control->primaryCallGuardActive());
        QTRY_COMPARE(state(memberByUri(*primary, kDispatcher)), int(PM::Calling));
        fail(m_server->jobUuids().last());
        m_model->conferenceEvent(addMember("0", "7", "1004@pbx"));
        QCOMPARE(commands(0), QStringList());
        // After the guard the next outsider brings the dispatcher in.
        QTRY_VERIFY_WITH_TIMEOUT(!m_control->primaryCallGuardActive(), 2000);
        m_model->conferenceEvent(confEvent("del-member", "0", {"Member-ID", "7"}));
        m_model->conferenceEvent(addMember("0", "7", "1004@pbx"));
        QCOMPARE(commands(3).first(), "api create_uuid"_q);
        QTRY_COMPARE(state(memberByUri(*primary, kDispatcher)), int(PM::Calling));

        // Answered; when the outsiders are gone the dispatcher leaves, pending until the server confirms.
        m_model->conferenceEvent(addMember("0", "50", kDispatcher));
        m_server->addApiReply("api conference 0 kick 50", "+OK kicked 50\n");
        m_model->conferenceEvent(confEvent("del-member", "0", {"Member-ID", "6"}));
        m_model->conferenceEvent(confEvent("del-member", "0", {"Member-ID", "7"}));
        QCOMPARE(commands(1), QStringList{"api conference 0 kick 50"});
        const QModelIndex me = m_model->getParticipantsModel("0")->participantIndex("50");
        QCOMPARE(me.data(PM::PendingRole).toString(), "Отключение..."_q);
        m_model->conferenceEvent(confEvent("del-member", "0", {"Member-ID", "50"}));
        QVERIFY(me.data(PM::PendingRole).toString().isEmpty());

        // A dispatcher who joined the primary while no outsider was there stays when others leave.
        m_model->conferenceEvent(confEvent("conference-destroy", "0"));
        m_model->conferenceEvent(confEvent("conference-create", "0"));
        m_model->conferenceEvent(addMember("0", "51", kDispatcher));
        m_model->conferenceEvent(addMember("0", "52", "1009@pbx"));
        m_model->conferenceEvent(confEvent("del-member", "0", {"Member-ID", "52"}));
        QCOMPARE(commands(0), QStringList());
    }

    void permanentModeRetriesEverySecondWhileFailing()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchPermanent;
        create("0");
        // Every self-call fails; the dispatcher's registration starts the first.
        connect(m_server.get(), &FakeEslServer::requestReceived, this, [this](const QString &request) {
            if (request.startsWith("bgapi originate"))
                QTimer::singleShot(20, this, [this] { fail(m_server->jobUuids().last()); });
        });
        m_users->registeredEvent(
            {{"Event-Subclass", "sofia::register"}, {"from-user", "1000"}, {"from-host", "pbx"}});
        QTRY_VERIFY_WITH_TIMEOUT(m_server->countRequests("api create_uuid") >= 3, 3000);
        disconnect(m_server.get(), &FakeEslServer::requestReceived, this, nullptr);
        QTRY_COMPARE(state(memberByUri(*m_model->getParticipantsModel("0"), kDispatcher)), int(PM::Calling));
        // Answered: the retries stop.
        m_model->conferenceEvent(addMember("0", "60", kDispatcher));
        commands(0);
        QCOMPARE(commands(0), QStringList());
    }

    void forcedModePullsTheDispatcherIntoThePrimary()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchForced;
        create("0");
        create("room2");
        // Nowhere: only the log says so (the permanent rule brings the dispatcher in).
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("диспетчер не в конференции в режиме подключения"));
        m_model->conferenceEvent(addMember("0", "5", "1003@pbx"));
        QCOMPARE(commands(0), QStringList());

        m_model->conferenceEvent(addMember("room2", "70", kDispatcher));
        m_users->registeredEvent(
            {{"Event-Subclass", "sofia::register"}, {"from-user", "1000"}, {"from-host", "pbx"}});
        m_model->conferenceEvent(addMember("0", "6", "1004@pbx"));
        QCOMPARE(commands(1), QStringList{"api conference room2 transfer 0 70"});
        QVERIFY(m_control->transferInProgress());
        // Leaving room2 during the transfer places no self-call.
        m_model->conferenceEvent(confEvent("del-member", "room2", {"Member-ID", "70"}));
        m_model->conferenceEvent(addMember("0", "71", kDispatcher));
        QVERIFY(!m_control->transferInProgress());
        QCOMPARE(commands(0), QStringList());
    }

    void transfersKicksAndEnd()
    {
        auto room1 = create("room1");
        create("0");
        m_server->addApiReply(QRegularExpression("^api conference room1 transfer 0"), "+OK Member sent\n");
        m_model->conferenceEvent(addMember("room1", "3", "1003@pbx"));
        m_model->conferenceEvent(addMember("room1", "4", "1004@pbx"));
        std::unique_ptr<QMimeData> two(drag("application/x-conference-member", {"room1", "3", "4"}));
        m_model->dropMimeData(two.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0));
        QCOMPARE(room1->participantIndex("3").data(PM::PendingRole).toString(),
                 "Перевод в конференцию 0..."_q);
        QCOMPARE(commands(2),
                 (QStringList{"api conference room1 transfer 0 3", "api conference room1 transfer 0 4"}));
        // Both reply forms succeed; anything else is a failure on the row, in the log and in a box.
        m_control->transferResult("+OK Member '3' sent to conference 0.\n", {});
        m_control->transferResult("OK Member '4' sent to conference 0.\n", {});
        QCOMPARE(m_messages->count(), 0);
        QVariantHash ctx{{"from", "room1"}, {"to", "0"}, {"memberId", "4"}};
        QTest::ignoreMessage(QtWarningMsg,
                             "Перевод участника 4 из конференции room1 в 0 не выполнен: -ERR No Member 4 "
                             "in conference room1.");
        m_control->transferResult("-ERR No Member 4 in conference room1.\n", ctx);
        QCOMPARE(
            emitted(*m_messages, 1),
            QStringList{"Ошибка перевода в основную конференцию: -ERR No Member 4 in conference room1.\n"});
        const QModelIndex four = room1->participantIndex("4");
        QVERIFY(four.data(PM::PendingRole).toString().isEmpty());
        QCOMPARE(four.data(Qt::ToolTipRole).toString(),
                 "Ошибка перевода: -ERR No Member 4 in conference room1."_q);

        // End: the planned row goes without the server, ringing calls are hung up, members kicked.
        std::unique_ptr<QMimeData> planned(drag("application/x-useruri", {"1009@pbx"}));
        m_model->conferenceEvent(confEvent("conference-destroy", "room1"));
        m_model->dropMimeData(planned.get(), Qt::CopyAction, -1, -1, m_model->index(1, 0));
        m_model->conferenceEvent(placeholder("room1", "1006@pbx", "call-6", "job-6"));
        m_server->addApiReply("api uuid_kill call-6", "-ERR No such channel!\n");
        select("room1");
        m_control->endConference();
        QCOMPARE(commands(3), (QStringList{"api conference room1 kick 3", "api conference room1 kick 4",
                                           "api uuid_kill call-6"}));
        QVERIFY(!memberByUri(*room1, "1009@pbx").isValid());
        // The call was already gone: its row goes; the refused kicks name their cause.
        QTRY_VERIFY(!memberByUri(*room1, "1006@pbx").isValid());
        QTRY_COMPARE(room1->participantIndex("3").data(Qt::ToolTipRole).toString(),
                     "Ошибка отключения: -ERR conference Command not found!"_q);
    }

    void hostileNamesStayInsideTheirValues()
    {
        create("room1");
        for (const char *uri : {"1006@pbx", "1007@pbx"}) {
            m_control->callToConference("room1", uri);
            const LabDialString d = dial(commands(3).value(1));
            QCOMPARE(
                QStringList(d.globals.keys()),
                (QStringList{"originate_timeout", "origination_callee_id_name", "origination_caller_id_name",
                             "origination_caller_id_number", "rtp_secure_media"}));
            QCOMPARE(legs(d), (QStringList{"api_hangup_hook,origination_uuid]user/" + QString(uri),
                                           "leg_delay_start]loopback/" + QString(uri) + "/alarm"}));
            QCOMPARE(d.var(0, "api_hangup_hook"), "originate loopback/" + QString(uri) + "/answered 0");
        }
        QString command;
        QString why;
        QVERIFY(m_control->userOriginate("room1", "1006@pbx", &command, &why));
        QCOMPARE(dial(command).globals.value("origination_callee_id_name"),
                 "x’,api_hangup_hook=’system rm’"_q);
        QVERIFY(m_control->userOriginate("room1", "1007@pbx", &command, &why));
        QCOMPARE(dial(command).globals.value("origination_callee_id_name"), "a)user/evil,(b (c)"_q);

        // Names that would split the command are refused, with the reason, before anything is sent.
        m_model->conferenceEvent(confEvent("conference-create", "evil XML x"));
        m_control->callToConference("evil XML x", "1003@pbx");
        m_control->callToConference("room1", "1003@pbx,user/1004@pbx");
        m_control->callToConference("room1", "555\nContent-Length: 5", true);
        m_control->transferRequest("room1", "evil XML x", "3");
        QCOMPARE(commands(0), QStringList());
        QCOMPARE(
            emitted(*m_messages, 1),
            (QStringList{
                "Вызов 1003@pbx в конференцию evil XML x не выполнен. Недопустимое имя конференции «evil "
                "XML x»: пробелы, табуляция и переводы строк недопустимы",
                "Вызов 1003@pbx,user/1004@pbx в конференцию room1 не выполнен. Недопустимое значение для "
                "команды сервера «1003@pbx,user/1004@pbx»: символ «,» недопустим",
                "Вызов 555\nContent-Length: 5 в конференцию room1 не выполнен. Недопустимое значение для "
                "команды сервера «555\nContent-Length: 5»: пробелы, табуляция и переводы строк недопустимы",
                "Перевод участника не выполнен. Недопустимое имя конференции «evil XML x»: пробелы, "
                "табуляция и переводы строк недопустимы"}));
    }
};

QTEST_MAIN(ConferenceControlTest)
#include "conferencecontrol_test.moc"
