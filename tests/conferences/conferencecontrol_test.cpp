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

const ESL2::Event kDispatcherRegisters{
    {"Event-Subclass", "sofia::register"}, {"from-user", "1000"}, {"from-host", "pbx"}};

// The placeholder event as sent (the fake server reports commands without their blank line).
QString placeholderSent(const QString &conf, const QString &presence, const QString &call, const QString &job)
{
    return "sendevent\nEvent-Name: CUSTOM\nEvent-Subclass: conference::maintenance\nConference-Name: " +
           conf + "\nAction: add-member\nChannel-Presence-ID: " + presence +
           "\nMember-ID: virtual\nMember-Type: member\nChannel-Call-UUID: " + call +
           "\nMember-Job-UUID: " + job;
}

// The originate's dial string as the lab parses it: sorted global names, then each leg's variables and
// endpoint.
QStringList dialParts(const QString &originate, LabDialString *d)
{
    QString error;
    if (!LabDialString::parse(originate.mid(QString("bgapi originate ").size()), d, &error))
        return {error};
    QStringList out{QStringList(d->globals.keys()).join(',')};
    for (const LabDialLeg &leg : qAsConst(d->legs))
        out << QStringList(leg.vars.keys()).join(',') + ']' + leg.endpoint;
    return out;
}
} // namespace

class ConferenceControlTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<UserListModel> m_users;
    std::unique_ptr<FakeEslServer> m_server;
    std::unique_ptr<ESL2> m_esl;
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
    void send(std::initializer_list<ESL2::Event> events)
    {
        for (const ESL2::Event &event : events)
            m_model->conferenceEvent(event);
    }
    ESL2::Event leave(const QString &c, const QString &id)
    {
        return confEvent("del-member", c, {"Member-ID", id});
    }
    std::shared_ptr<PM> create(const QString &conf)
    {
        send({confEvent("conference-create", conf)});
        return m_model->getParticipantsModel(conf);
    }
    void fail(const QString &job) { emit m_esl->backgroundJob(jobResult(job, "-ERR USER_NOT_REGISTERED")); }

private slots:
    void init()
    {
        resetConfigAndDirectory();
        MemberDirectory::setOverrideForTest({});
        XMLConfig &c = XMLConfig::instance();
        std::tie(c.callTimeout, c.alarmDelay, c.srtpMode, c.switchToConference) =
            std::make_tuple(30, 5, 0, 0);
        // The directory first, so that its role and group requests do not reach the server.
        m_users = std::make_unique<UserListModel>();
        m_users->userListReceived(kUsers, {});
        m_users->userRoleReceived("dispatcher", "1000@pbx");
        m_users->userRoleReceived("technician", "1009@pbx");
        m_server = std::make_unique<FakeEslServer>();
        m_esl = std::make_unique<ESL2>();
        emit m_esl->sigConnect(m_server->host(), m_server->port(), m_server->password());
        QTRY_VERIFY(m_server->isSubscribed());
        m_model = std::make_unique<LM>();
        connect(m_esl.get(), &ESL2::conferenceEvent, m_model.get(), &LM::conferenceEvent);
        m_control = std::make_unique<ConferenceControl>(m_esl.get(), m_model.get(), m_users.get(), c);
        m_control->setTimersForTest(300, 100);
        // The window's connections, by name as it makes them.
        const char *const wiring[][2] = {
            {SIGNAL(userEnteredConference(QString, QString)), SLOT(userEnteredConference(QString, QString))},
            {SIGNAL(userLeftConference(QString, QString)), SLOT(userLeftConference(QString, QString))},
            {SIGNAL(dispatcherLeftConference(QString)), SLOT(dispatcherLeftConference())},
            {SIGNAL(dispatcherCallError(QString, QString)), SLOT(dispatcherCallError(QString, QString))},
            {SIGNAL(transferRequest(QString, QString, QString)),
             SLOT(transferRequest(QString, QString, QString))}};
        for (const auto &w : wiring)
            QVERIFY(connect(m_model.get(), w[0], m_control.get(), w[1]));
        QVERIFY(connect(m_users.get(), SIGNAL(dispatcherRegistered()), m_control.get(),
                        SLOT(dispatcherLeftConference())));
        m_messages = std::make_unique<QSignalSpy>(m_control.get(), &ConferenceControl::message);
        m_seen = m_server->commands().size();
    }

    void cleanup()
    {
        m_messages.reset();
        m_control.reset();
        m_model.reset();
        m_esl.reset();
        m_server.reset();
        m_users.reset();
    }

    void callChainFillsBothTemplates()
    {
        auto room1 = create("room1");
        m_control->callToConference("room1", "1003@pbx");
        QStringList sent = commands(3);
        QString uuid = m_server->createdUuids().last();
        QCOMPARE(sent,
                 (QStringList{"api create_uuid",
                              "bgapi originate {originate_timeout=30,origination_caller_id_name='room1',rtp_"
                              "secure_media=forbidden,origination_caller_id_number=room1,origination_callee_"
                              "id_name='Иван Петров'}[api_hangup_hook='originate loopback/1003@pbx/answered "
                              "0',origination_uuid=" +
                                  uuid +
                                  "]user/1003@pbx,[leg_delay_start=5]loopback/"
                                  "1003@pbx/alarm room1 XML conference",
                              placeholderSent("room1", "1003@pbx", uuid, m_server->jobUuids().last())}));

        // The echoed placeholder rings, tied to its job; ringing or connected, nobody is called twice.
        QTRY_COMPARE(state(memberByUri(*room1, "1003@pbx")), int(PM::Calling));
        QCOMPARE(memberByUri(*room1, "1003@pbx").data(PM::JobUuidRole).toString(),
                 m_server->jobUuids().last());
        m_control->callToConference("room1", "1003@pbx");
        send({addMember("room1", "12", "1003@pbx")});
        m_control->callToConference("room1", "1003@pbx");
        QCOMPARE(commands(0), QStringList());

        // A number from the dial dialog goes to the selected conference, through the PSTN context.
        XMLConfig::instance().srtpMode = XMLConfig::SrtpMandatory;
        m_control->callPstnNumber("89001234567");
        QCOMPARE(emitted(*m_messages), QStringList{"Ошибка/Ошибка: не выбрана конференция"});
        m_control->conferenceSelected(m_model->index(1, 0)); // room1
        QCOMPARE(m_control->shownParticipants(), room1.get());
        m_control->callPstnNumber("89001234567");
        sent = commands(3);
        uuid = m_server->createdUuids().last();
        QCOMPARE(
            sent.mid(1),
            (QStringList{"bgapi originate {originate_timeout=30,origination_caller_id_name='room1',"
                         "rtp_secure_media=mandatory,origination_caller_id_number=room1,origination_"
                         "callee_id_name='ТСОП',origination_callee_id_number=pstn:89001234567}["
                         "origination_uuid=" +
                             uuid +
                             "]loopback/89001234567/pstn/XML room1 XML "
                             "conference",
                         placeholderSent("room1", "pstn:89001234567", uuid, m_server->jobUuids().last())}));
        QTRY_VERIFY(memberByUri(*room1, "89001234567").data(PM::PstnRole).toBool());
    }

    void failedStepsGiveFailedPlaceholdersAndRecallKeepsTheKind()
    {
        auto room2 = create("room2");
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

        // Start re-calls both failed rows, each as what it is; both show as pending until answered.
        m_control->conferenceSelected(m_model->index(1, 0)); // room2
        m_control->startConference();
        QCOMPARE(memberByUri(*room2, "555").data(PM::PendingRole).toString(), "Вызов..."_q);
        const QStringList originates = commands(6).filter("bgapi originate");
        QCOMPARE(originates.size(), 2);
        QVERIFY(originates.first().contains("user/1003@pbx,") &&
                originates.last().contains("loopback/555/pstn/XML"));
        QTRY_VERIFY(memberByUri(*room2, "555").data(PM::PendingRole).toString().isEmpty());
    }

    void autoModeJoinsOnceWithinTheGuardAndLeaves()
    {
        XMLConfig::instance().switchToConference = XMLConfig::SwitchAuto;
        auto primary = create("0");
        send({addMember("0", "5", "1009@pbx")}); // privileged: nothing
        QCOMPARE(commands(0), QStringList());
        send({addMember("0", "6", "1003@pbx")});
        QVERIFY(commands(3).value(1).contains("user/1000@pbx,"));
        QVERIFY(m_control->primaryCallGuardActive());
        QTRY_COMPARE(state(memberByUri(*primary, kDispatcher)), int(PM::Calling));
        fail(m_server->jobUuids().last());
        send({addMember("0", "7", "1004@pbx")});
        QCOMPARE(commands(0), QStringList());
        // After the guard the next outsider brings the dispatcher in.
        QTRY_VERIFY_WITH_TIMEOUT(!m_control->primaryCallGuardActive(), 2000);
        send({leave("0", "7"), addMember("0", "7", "1004@pbx")});
        QCOMPARE(commands(3).first(), "api create_uuid"_q);
        QTRY_COMPARE(state(memberByUri(*primary, kDispatcher)), int(PM::Calling));

        // Answered; when the outsiders are gone the dispatcher leaves, pending until the server confirms.
        m_server->addApiReply("api conference 0 kick 50", "+OK kicked 50\n");
        send({addMember("0", "50", kDispatcher), leave("0", "6"), leave("0", "7")});
        QCOMPARE(commands(1), QStringList{"api conference 0 kick 50"});
        const QModelIndex me = primary->participantIndex("50");
        QCOMPARE(me.data(PM::PendingRole).toString(), "Отключение..."_q);
        send({leave("0", "50")});
        QVERIFY(me.data(PM::PendingRole).toString().isEmpty());

        // A dispatcher who joined the primary while no outsider was there stays when others leave.
        send({confEvent("conference-destroy", "0"), confEvent("conference-create", "0"),
              addMember("0", "51", kDispatcher), addMember("0", "52", "1009@pbx"), leave("0", "52")});
        QCOMPARE(commands(0), QStringList());
    }

    void permanentAndForcedModes()
    {
        // Permanent: every self-call fails and is retried; the dispatcher's registration starts the first.
        XMLConfig::instance().switchToConference = XMLConfig::SwitchPermanent;
        auto primary = create("0");
        connect(m_server.get(), &FakeEslServer::requestReceived, this, [this](const QString &request) {
            if (request.startsWith("bgapi originate"))
                QTimer::singleShot(20, this, [this] { fail(m_server->jobUuids().last()); });
        });
        m_users->registeredEvent(kDispatcherRegisters);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->countRequests("api create_uuid") >= 3, 3000);
        disconnect(m_server.get(), &FakeEslServer::requestReceived, this, nullptr);
        QTRY_COMPARE(state(memberByUri(*primary, kDispatcher)), int(PM::Calling));
        // Answered: the retries stop.
        send({addMember("0", "60", kDispatcher)});
        commands(0);
        QCOMPARE(commands(0), QStringList());

        // Forced, the dispatcher nowhere and not registered: only the log says so.
        XMLConfig::instance().switchToConference = XMLConfig::SwitchForced;
        create("room2");
        ESL2::Event unregisters = kDispatcherRegisters;
        unregisters["Event-Subclass"] = "sofia::unregister";
        m_users->registeredEvent(unregisters);
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("диспетчер не в конференции в режиме подключения"));
        send({leave("0", "60"), addMember("0", "5", "1003@pbx")});
        QCOMPARE(commands(0), QStringList());
        // In another conference it is moved; leaving that one during the move places no self-call.
        send({addMember("room2", "70", kDispatcher)});
        m_users->registeredEvent(kDispatcherRegisters);
        send({addMember("0", "6", "1004@pbx")});
        QCOMPARE(commands(1), QStringList{"api conference room2 transfer 0 70"});
        QVERIFY(m_control->transferInProgress());
        send({leave("room2", "70"), addMember("0", "71", kDispatcher)});
        QVERIFY(!m_control->transferInProgress());
        QCOMPARE(commands(0), QStringList());
    }

    void transfersKicksAndEnd()
    {
        auto room1 = create("room1");
        create("0");
        // Both success forms of the server's answer; anything else fails on the row, in the log and a box.
        m_server->addApiReply("api conference room1 transfer 0 3", "+OK Member '3' sent to conference 0.\n");
        m_server->addApiReply("api conference room1 transfer 0 4", "OK Member '4' sent to conference 0.\n");
        m_server->addApiReply("api conference room1 transfer 0 5", "-ERR No Member 5 in conference room1.\n");
        send({addMember("room1", "3", "1003@pbx"), addMember("room1", "4", "1004@pbx"),
              addMember("room1", "5", "1007@pbx")});
        std::unique_ptr<QMimeData> three(drag("application/x-conference-member", {"room1", "3", "4", "5"}));
        QTest::ignoreMessage(QtWarningMsg,
                             "Перевод участника 5 из конференции room1 в 0 не выполнен: -ERR No "
                             "Member 5 in conference room1.");
        m_model->dropMimeData(three.get(), Qt::CopyAction, -1, -1, m_model->index(0, 0));
        QCOMPARE(room1->participantIndex("3").data(PM::PendingRole).toString(),
                 "Перевод в конференцию 0..."_q);
        QCOMPARE(commands(3).last(), "api conference room1 transfer 0 5"_q);
        QTRY_COMPARE(
            emitted(*m_messages, 1),
            QStringList{"Ошибка перевода в основную конференцию: -ERR No Member 5 in conference room1.\n"});
        QCOMPARE(room1->participantIndex("5").data(Qt::ToolTipRole).toString(),
                 "Ошибка перевода: -ERR No Member 5 in conference room1."_q);
        QVERIFY(room1->participantIndex("5").data(PM::PendingRole).toString().isEmpty());
        QCOMPARE(room1->participantIndex("4").data(PM::PendingRole).toString(),
                 "Перевод в конференцию 0..."_q);
        // End: planned rows go without the server, ringing calls are hung up, members kicked, ended rows
        // stay.
        send({leave("room1", "3"), leave("room1", "4"), leave("room1", "5"),
              confEvent("conference-destroy", "room1")});
        std::unique_ptr<QMimeData> planned(drag("application/x-useruri", {"1009@pbx"}));
        m_model->dropMimeData(planned.get(), Qt::CopyAction, -1, -1, m_model->index(1, 0));
        send({addMember("room1", "8", "1004@pbx"), placeholder("room1", "1006@pbx", "call-6", "job-6")});
        m_server->addApiReply("api uuid_kill call-6", "-ERR No such channel!\n");
        m_control->conferenceSelected(m_model->index(1, 0)); // room1
        m_control->endConference();
        QCOMPARE(commands(2), (QStringList{"api conference room1 kick 8", "api uuid_kill call-6"}));
        QCOMPARE(room1->rowCount(), 4);
        // The call was already gone: its row goes; the refused kick names its cause.
        QTRY_COMPARE(room1->rowCount(), 3);
        QTRY_COMPARE(room1->participantIndex("8").data(Qt::ToolTipRole).toString(),
                     "Ошибка отключения: -ERR conference Command not found!"_q);
    }

    void hostileNamesStayInsideTheirValues()
    {
        create("room1");
        const std::pair<QString, QString> names[] = {{"1006@pbx", "x’,api_hangup_hook=’system rm’"},
                                                     {"1007@pbx", "a)user/evil,(b (c)"}};
        for (const auto &name : names) {
            m_control->callToConference("room1", name.first);
            LabDialString d;
            QCOMPARE(dialParts(commands(3).value(1), &d),
                     (QStringList{"originate_timeout,origination_callee_id_name,origination_caller_id_name,"
                                  "origination_caller_id_number,rtp_secure_media",
                                  "api_hangup_hook,origination_uuid]user/" + name.first,
                                  "leg_delay_start]loopback/" + name.first + "/alarm"}));
            QCOMPARE(d.var(0, "api_hangup_hook"), "originate loopback/" + name.first + "/answered 0");
            QCOMPARE(d.globals.value("origination_callee_id_name"), name.second);
        }

        // Names that would split the command are refused, with the reason, before anything is sent.
        send({confEvent("conference-create", "evil XML x")});
        m_control->callToConference("evil XML x", "1003@pbx");
        m_control->callToConference("room1", "1003@pbx,user/1004@pbx");
        m_control->callToConference("room1", "555\nContent-Length: 5", true);
        m_control->transferRequest("room1", "evil XML x", "3");
        QCOMPARE(commands(0), QStringList());
        QCOMPARE(m_messages->count(), 4);
        QCOMPARE(
            m_messages->at(1).at(1).toString(),
            "Вызов 1003@pbx,user/1004@pbx в конференцию room1 не выполнен. Недопустимое значение для команды "
            "сервера «1003@pbx,user/1004@pbx»: символ «,» недопустим"_q);
    }
};

QTEST_MAIN(ConferenceControlTest)
#include "conferencecontrol_test.moc"
