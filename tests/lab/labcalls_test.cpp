// Calls and conferences end to end through the lab: the console's originate templates,
// answer behaviours and their failure causes, the loud-alarm leg, public-network parties,
// uuid_kill, and the conference member commands with the real reply texts.

#include "lab/labdialstring.h"
#include "lab/labevent.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QTest>

class LabCallsTest : public QObject
{
    Q_OBJECT
private slots:
    void consoleDialStringsAreUnderstood();
    void answeredUserJoinsAndLeavesTheConference();
    void failedCallsEndWithTheRealCauseAfterTheAlarm();
    void ringingCallCanBeKilled();
    void publicNetworkPartyJoinsUnderItsContext();
    void memberCommandsFollowTheRealServer();
};

namespace {

// The two templates the console sends, filled as it fills them.
QByteArray userOriginate(const QString &conf, const QString &uri, const QString &uuid, int alarmDelay = 30,
                         int timeout = 30)
{
    return QStringLiteral(
               "bgapi originate {originate_timeout=%1,origination_caller_id_name='%2',rtp_secure_media=%3,"
               "origination_caller_id_number=%2,origination_callee_id_name='%9'}[api_hangup_hook='originate "
               "loopback/%4/answered 0',origination_uuid=%10]user/%5,[leg_delay_start=%6]loopback/%4/alarm "
               "%2 "
               "XML conference\n\n")
        .arg(timeout)
        .arg(conf, QStringLiteral("forbidden"), uri, uri)
        .arg(alarmDelay)
        .arg(QStringLiteral("Тест"), uuid)
        .toUtf8();
}

QByteArray pstnOriginate(const QString &conf, const QString &context, const QString &number,
                         const QString &uuid)
{
    return QStringLiteral(
               "bgapi originate {originate_timeout=%1,origination_caller_id_name='%2',rtp_secure_media=%3,"
               "origination_caller_id_number=%2,origination_callee_id_name='ТСОП',origination_callee_id_"
               "number=%4:%5}[origination_uuid=%9]loopback/%5/%4/XML %2 XML conference\n\n")
        .arg(30)
        .arg(conf, QStringLiteral("forbidden"), context, number, uuid)
        .toUtf8();
}

QString jobResult(LabClient &c, const QByteArray &job, int timeoutMs = 3000)
{
    return c
        .waitEvent(
            [&](const LabFrame &f) {
                return f.field(QStringLiteral("Event-Name")) == QLatin1String("BACKGROUND_JOB") &&
                       f.field(QStringLiteral("Job-UUID")) == QString::fromUtf8(job);
            },
            timeoutMs)
        .field(QStringLiteral("_body"));
}

QStringList missingFields(const LabFrame &ours, const QString &stem)
{
    QStringList missing;
    for (const QString &k : LabFixture::referenceFields(stem)) {
        if (!ours.json().contains(k))
            missing << k;
    }
    return missing;
}

bool isPresence(const LabFrame &f, const QString &from, const QString &state)
{
    return f.field(QStringLiteral("Event-Name")) == QLatin1String("PRESENCE_IN") &&
           f.field(QStringLiteral("from")) == from &&
           f.field(QStringLiteral("presence-call-info-state")) == state;
}

} // namespace

void LabCallsTest::consoleDialStringsAreUnderstood()
{
    LabDialString d;
    QString error;
    QVERIFY(LabDialString::parse(
        QString::fromUtf8(
            userOriginate(QStringLiteral("room1"), QStringLiteral("1005@127.0.0.1"), QStringLiteral("U1"))
                .mid(16)
                .trimmed()),
        &d, &error));
    QCOMPARE(d.legs.size(), 2);
    QCOMPARE(d.globals.value(QStringLiteral("originate_timeout")), QStringLiteral("30"));
    QCOMPARE(d.globals.value(QStringLiteral("origination_callee_id_name")), QStringLiteral("Тест"));
    QCOMPARE(d.legs[0].endpoint, QStringLiteral("user/1005@127.0.0.1"));
    QCOMPARE(d.legs[0].vars.value(QStringLiteral("api_hangup_hook")),
             QStringLiteral("originate loopback/1005@127.0.0.1/answered 0"));
    QCOMPARE(d.var(0, QStringLiteral("origination_uuid")), QStringLiteral("U1"));
    QCOMPARE(d.var(1, QStringLiteral("origination_uuid")), QString());
    QCOMPARE(d.legs[1].endpoint, QStringLiteral("loopback/1005@127.0.0.1/alarm"));
    QCOMPARE(d.var(1, QStringLiteral("leg_delay_start")), QStringLiteral("30"));
    QCOMPARE(d.conference(), QStringLiteral("room1"));

    QVERIFY(LabDialString::parse(
        QStringLiteral(
            "{origination_caller_id_name='Сидорова Анна',presence_id=1003@127.0.0.1}loopback/1003/pstn "
            "&conference(room3@default)"),
        &d, &error));
    QCOMPARE(d.legs.size(), 1);
    QCOMPARE(d.globals.value(QStringLiteral("origination_caller_id_name")), QStringLiteral("Сидорова Анна"));
    QCOMPARE(d.conference(), QStringLiteral("room3"));
    // Blanks inside quotes belong to the value, not to the split between dial string and destination.
    QVERIFY(LabDialString::parse(
        QStringLiteral("{origination_caller_id_name='room 1, east'}user/1001 room1 XML conference"), &d,
        &error));
    QCOMPARE(d.globals.value(QStringLiteral("origination_caller_id_name")), QStringLiteral("room 1, east"));
    QCOMPARE(d.legs.size(), 1);
    QCOMPARE(d.conference(), QStringLiteral("room1"));
    QVERIFY(LabDialString::parse(QStringLiteral("user/1005@127.0.0.1 &park()"), &d, &error));
    QCOMPARE(d.conference(), QString());
    QVERIFY(!LabDialString::parse(QStringLiteral("{a=1 user/1"), &d, &error));
    QVERIFY(!LabDialString::parse(QStringLiteral("[a=1]"), &d, &error));
}

void LabCallsTest::answeredUserJoinsAndLeavesTheConference()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    lab.run(QStringLiteral("register 1005 sip:1005@127.0.0.1:5071"));
    QCOMPARE(lab.run(QStringLiteral("behaviour 1005 answer 3")), QStringLiteral("+OK 1005 answer 3"));
    const QString uuid = QStringLiteral("3ed265c9-6246-4315-a451-34d1c1ce188f");

    const LabFrame reply =
        c.request(userOriginate(QStringLiteral("room1"), QStringLiteral("1005@127.0.0.1"), uuid));
    const QByteArray job = reply.header("Job-UUID");
    QCOMPARE(reply.header("Reply-Text"), "+OK Job-UUID: " + job);

    // Ringing: the channel exists and the user shows as progressing.
    const LabFrame ringing = c.waitEvent([](const LabFrame &f) {
        return isPresence(f, QStringLiteral("1005@127.0.0.1"), QStringLiteral("progressing"));
    });
    QCOMPARE(ringing.field(QStringLiteral("Channel-Call-UUID")), uuid);
    QVERIFY(missingFields(ringing, QStringLiteral("0031_ev_PRESENCE_IN")).isEmpty());
    QVERIFY(c.request("api show channels\n\n").body.contains(uuid.toUtf8()));

    QCOMPARE(jobResult(c, job), QStringLiteral("+OK ") + uuid + QLatin1Char('\n'));
    const LabFrame create = c.waitAction(QStringLiteral("conference-create"));
    QCOMPARE(create.field(QStringLiteral("Conference-Name")), QStringLiteral("room1"));
    QVERIFY(missingFields(create, QStringLiteral("0007_ev_CUSTOM_conference-maintenance_conference-create"))
                .isEmpty());
    const LabFrame add = c.waitAction(QStringLiteral("add-member"));
    QCOMPARE(add.field(QStringLiteral("Channel-Presence-ID")), QStringLiteral("1005@127.0.0.1"));
    QCOMPARE(add.field(QStringLiteral("Caller-Caller-ID-Number")), QStringLiteral("1005"));
    QCOMPARE(add.field(QStringLiteral("Channel-Call-UUID")), uuid);
    QCOMPARE(add.field(QStringLiteral("Member-ID")), QStringLiteral("1"));
    QCOMPARE(add.field(QStringLiteral("Member-Type")), QStringLiteral("member"));
    QCOMPARE(add.field(QStringLiteral("Member-Ghost")), QStringLiteral("false"));
    QCOMPARE(add.field(QStringLiteral("Speak")), QStringLiteral("true"));
    QCOMPARE(add.field(QStringLiteral("Talking")), QStringLiteral("false"));
    const QStringList missing =
        missingFields(add, QStringLiteral("0008_ev_CUSTOM_conference-maintenance_add-member"));
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(','))));
    QVERIFY(add.body.endsWith("\"Action\":\"add-member\"}"));
    QVERIFY(c.waitEvent([](const LabFrame &f) {
                 return isPresence(f, QStringLiteral("1005@127.0.0.1"), QStringLiteral("active"));
             }).isValid());

    // The user answered before the alarm leg was due: no alarm.
    QTest::qWait(400);
    for (const LabFrame &f : c.takeEvents())
        QVERIFY(f.field(QStringLiteral("Event-Subclass")) != QLatin1String("alert::notify"));

    const QByteArray xml = c.request("api conference xml_list\n\n").body;
    QVERIFY(xml.startsWith(
        "<?xml version=\"1.0\"?>\n<conferences>\n  <conference name=\"room1\" member-count=\"1\""));
    QVERIFY(xml.contains("<id>1</id>"));
    QVERIFY(xml.contains("<caller_id_number>1005</caller_id_number>"));
    QVERIFY(xml.contains("<caller_id_name>%D0%A2%D0%B5%D1%81%D1%82</caller_id_name>"));
    QVERIFY(xml.contains("<can_speak>true</can_speak>"));
    QVERIFY(xml.contains("<is_ghost>false</is_ghost>"));
    QVERIFY(xml.endsWith("</conferences>\n"));

    // Hang-up: the member leaves, the conference goes with it, the user is idle again.
    QCOMPARE(c.request("api uuid_kill " + uuid.toUtf8() + "\n\n").body, QByteArray("+OK\n"));
    const LabFrame del = c.waitAction(QStringLiteral("del-member"));
    QCOMPARE(del.field(QStringLiteral("Hangup-Cause")), QStringLiteral("NORMAL_CLEARING"));
    QCOMPARE(del.field(QStringLiteral("Conference-Size")), QStringLiteral("0"));
    QVERIFY(missingFields(del, QStringLiteral("0014_ev_CUSTOM_conference-maintenance_del-member")).size() <=
            2);
    const LabFrame destroy = c.waitAction(QStringLiteral("conference-destroy"));
    QVERIFY(missingFields(destroy, QStringLiteral("0017_ev_CUSTOM_conference-maintenance_conference-destroy"))
                .isEmpty());
    QVERIFY(c.waitEvent([](const LabFrame &f) {
                 return isPresence(f, QStringLiteral("1005@127.0.0.1"), QStringLiteral("idle"));
             }).isValid());
    QCOMPARE(c.request("api uuid_kill " + uuid.toUtf8() + "\n\n").raw,
             LabFixture::reference(QStringLiteral("112_uuid_kill_nonexistent")));
    QCOMPARE(c.request("api conference xml_list\n\n").raw,
             LabFixture::reference(QStringLiteral("047_conference_xml_list_none")));
}

void LabCallsTest::failedCallsEndWithTheRealCauseAfterTheAlarm()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    for (const char *id : {"1001", "1002", "1003", "1004"})
        lab.run(QStringLiteral("register ") + QLatin1String(id));
    lab.run(QStringLiteral("behaviour 1001 busy 1"));
    lab.run(QStringLiteral("behaviour 1002 reject 2"));
    lab.run(QStringLiteral("behaviour 1003 nonexistent"));
    lab.run(QStringLiteral("behaviour 1004 noanswer"));

    const QList<QPair<QString, QString>> cases = {
        {QStringLiteral("1001@127.0.0.1"), QStringLiteral("-ERR USER_BUSY\n")},
        {QStringLiteral("1002@127.0.0.1"), QStringLiteral("-ERR CALL_REJECTED\n")},
        {QStringLiteral("1003@127.0.0.1"), QStringLiteral("-ERR UNALLOCATED_NUMBER\n")},
        {QStringLiteral("1004@127.0.0.1"), QStringLiteral("-ERR NO_ANSWER\n")},
        {QStringLiteral("1006@127.0.0.1"), QStringLiteral("-ERR USER_NOT_REGISTERED\n")},
        {QStringLiteral("4242@127.0.0.1"), QStringLiteral("-ERR SUBSCRIBER_ABSENT\n")},
    };
    for (const auto &tc : cases) {
        // The alarm leg is due only after 100 s and the call times out after 5 s (both scaled):
        // a failing user leg brings the alarm forward at once.
        c.takeEvents();
        const QByteArray job =
            c.request(userOriginate(QStringLiteral("room9"), tc.first, LabEvent::newUuid(), 100, 5))
                .header("Job-UUID");
        QVERIFY(!job.isEmpty());
        // Everything up to the job's end, in arrival order: the alarm must come first.
        QList<LabFrame> seen;
        LabFrame done;
        while (!done.isValid()) {
            const LabFrame f = c.nextFrame();
            QVERIFY2(f.isValid(), qPrintable(tc.first));
            if (f.field(QStringLiteral("Job-UUID")) == QString::fromUtf8(job))
                done = f;
            else
                seen.append(f);
        }
        QCOMPARE(done.field(QStringLiteral("_body")), tc.second);
        bool alarmed = false;
        for (const LabFrame &f : qAsConst(seen)) {
            if (f.field(QStringLiteral("Event-Subclass")) == QLatin1String("alert::notify"))
                alarmed = f.field(QStringLiteral("User-Name")) == tc.first;
            // Ringing legs that fail report the user idle again; nobody else shows up.
            if (f.field(QStringLiteral("Event-Name")) == QLatin1String("PRESENCE_IN"))
                QCOMPARE(f.field(QStringLiteral("from")), tc.first);
        }
        QVERIFY2(alarmed, qPrintable(tc.first));
    }
    QCOMPARE(c.request("api conference xml_list\n\n").raw,
             LabFixture::reference(QStringLiteral("047_conference_xml_list_none")));
    QCOMPARE(c.request("api show channels\n\n").body, QByteArray("\n0 total.\n"));
}

void LabCallsTest::ringingCallCanBeKilled()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    lab.run(QStringLiteral("register 1003"));
    lab.run(QStringLiteral("behaviour 1003 noanswer"));
    const QString uuid = LabEvent::newUuid();
    const QByteArray job =
        c.request(userOriginate(QStringLiteral("room1"), QStringLiteral("1003@127.0.0.1"), uuid, 100, 100))
            .header("Job-UUID");
    QVERIFY(c.waitEvent([](const LabFrame &f) {
                 return isPresence(f, QStringLiteral("1003@127.0.0.1"), QStringLiteral("progressing"));
             }).isValid());
    QCOMPARE(c.request("api uuid_kill " + uuid.toUtf8() + "\n\n").body, QByteArray("+OK\n"));
    QCOMPARE(jobResult(c, job), QStringLiteral("-ERR NORMAL_CLEARING\n"));
    QCOMPARE(c.request("api uuid_kill " + uuid.toUtf8() + "\n\n").body,
             QByteArray("-ERR No such channel!\n"));
}

void LabCallsTest::publicNetworkPartyJoinsUnderItsContext()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    QCOMPARE(lab.run(QStringLiteral("pstn 000 nonexistent")), QStringLiteral("+OK 000 nonexistent"));
    QCOMPARE(lab.run(QStringLiteral("pstn 8800 busy")), QStringLiteral("+OK 8800 busy 1"));

    const QString uuid = LabEvent::newUuid();
    const QByteArray job = c.request(pstnOriginate(QStringLiteral("room1"), QStringLiteral("pstn"),
                                                   QStringLiteral("5551234"), uuid))
                               .header("Job-UUID");
    QCOMPARE(jobResult(c, job), QStringLiteral("+OK ") + uuid + QLatin1Char('\n'));
    const LabFrame add = c.waitAction(QStringLiteral("add-member"));
    QVERIFY(!add.json().contains(QStringLiteral("Channel-Presence-ID")));
    QCOMPARE(add.field(QStringLiteral("Caller-Caller-ID-Number")), QStringLiteral("pstn:5551234"));
    QCOMPARE(add.field(QStringLiteral("Channel-Call-UUID")), uuid);
    QVERIFY(c.request("api conference room1 xml_list\n\n")
                .body.contains("<caller_id_number>pstn:5551234</caller_id_number>"));

    // Behaviour by prefix: the longest prefix wins over the default.
    const QByteArray bad = c.request(pstnOriginate(QStringLiteral("room1"), QStringLiteral("pstn"),
                                                   QStringLiteral("000111"), LabEvent::newUuid()))
                               .header("Job-UUID");
    QCOMPARE(jobResult(c, bad), QStringLiteral("-ERR UNALLOCATED_NUMBER\n"));
    const QByteArray busy = c.request(pstnOriginate(QStringLiteral("room1"), QStringLiteral("pstn"),
                                                    QStringLiteral("88005553535"), LabEvent::newUuid()))
                                .header("Job-UUID");
    QCOMPARE(jobResult(c, busy), QStringLiteral("-ERR USER_BUSY\n"));
    // Public-network legs carry no presence.
    for (const LabFrame &f : c.takeEvents())
        QVERIFY(f.field(QStringLiteral("Event-Name")) != QLatin1String("PRESENCE_IN"));
}

void LabCallsTest::memberCommandsFollowTheRealServer()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    lab.run(QStringLiteral("register 1001"));
    const QString userUuid = LabEvent::newUuid();
    QCOMPARE(jobResult(c, c.request(userOriginate(QStringLiteral("room1"), QStringLiteral("1001@127.0.0.1"),
                                                  userUuid))
                              .header("Job-UUID"))
                 .left(3),
             QStringLiteral("+OK"));
    QCOMPARE(jobResult(c, c.request(pstnOriginate(QStringLiteral("room1"), QStringLiteral("gw"),
                                                  QStringLiteral("5550000"), LabEvent::newUuid()))
                              .header("Job-UUID"))
                 .left(3),
             QStringLiteral("+OK"));
    QVERIFY(c.waitAction(QStringLiteral("add-member")).isValid());
    QVERIFY(c.waitAction(QStringLiteral("add-member")).isValid());
    QCOMPARE(c.request("api conference room1 count\n\n").body, QByteArray("2"));

    // Mute and unmute: reply text, event, and the listed flag.
    QCOMPARE(c.request("api conference room1 mute 2\n\n").body, QByteArray("+OK mute 2\n"));
    const LabFrame mute = c.waitAction(QStringLiteral("mute-member"));
    QCOMPARE(mute.field(QStringLiteral("Member-ID")), QStringLiteral("2"));
    QCOMPARE(mute.field(QStringLiteral("Speak")), QStringLiteral("false"));
    QVERIFY(
        missingFields(mute, QStringLiteral("0040_ev_CUSTOM_conference-maintenance_mute-member")).isEmpty());
    QVERIFY(c.request("api conference room1 list\n\n").body.contains(";gw:5550000;hear;0;0;100\n"));
    QCOMPARE(c.request("api conference room1 unmute 2\n\n").body, QByteArray("+OK unmute 2\n"));
    QCOMPARE(c.waitAction(QStringLiteral("unmute-member")).field(QStringLiteral("Speak")),
             QStringLiteral("true"));

    // Errors, byte for byte.
    QCOMPARE(c.request("api conference room1 mute 9999\n\n").raw,
             LabFixture::reference(QStringLiteral("088_conference_room1_mute_badmember")));
    QCOMPARE(c.request("api conference room1 transfer room2 9999\n\n").raw,
             LabFixture::reference(QStringLiteral("091_conference_room1_transfer_badmember")));
    QCOMPARE(c.request("api conference nosuch mute 1\n\n").raw,
             LabFixture::reference(QStringLiteral("097_conference_nosuch_mute")));
    QCOMPARE(c.request("api conference room1 kick abc\n\n").body,
             QByteArray("kick <[member_id|all|last|non_moderator]> [<optional sound file>]"));

    // Simulated speech.
    QCOMPARE(lab.run(QStringLiteral("talk 1001 start")), QStringLiteral("+OK 1"));
    const LabFrame talk = c.waitAction(QStringLiteral("start-talking"));
    QCOMPARE(talk.field(QStringLiteral("Talking")), QStringLiteral("true"));
    QCOMPARE(talk.field(QStringLiteral("Member-ID")), QStringLiteral("1"));
    QVERIFY(
        missingFields(talk, QStringLiteral("0027_ev_CUSTOM_conference-maintenance_start-talking")).isEmpty());
    QVERIFY(c.request("api conference xml_list\n\n").body.contains("<talking>true</talking>"));
    QCOMPARE(lab.run(QStringLiteral("talk 1001 stop")), QStringLiteral("+OK 1"));
    QCOMPARE(c.waitAction(QStringLiteral("stop-talking")).field(QStringLiteral("Talking")),
             QStringLiteral("false"));
    QVERIFY(lab.run(QStringLiteral("talk 1009 start")).startsWith(QLatin1String("-ERR")));

    // Transfer keeps the Member-ID and creates the target conference.
    c.takeEvents();
    QCOMPARE(c.request("api conference room1 transfer room2 1\n\n").body,
             QByteArray("+OK Member '1' sent to conference room2.\n"));
    const LabFrame transfer = c.waitAction(QStringLiteral("transfer"));
    QCOMPARE(transfer.field(QStringLiteral("New-Conference-Name")), QStringLiteral("room2"));
    QVERIFY(
        missingFields(transfer, QStringLiteral("0063_ev_CUSTOM_conference-maintenance_transfer")).size() <=
        2);
    QCOMPARE(c.waitAction(QStringLiteral("del-member")).field(QStringLiteral("Conference-Name")),
             QStringLiteral("room1"));
    QCOMPARE(c.waitAction(QStringLiteral("conference-create")).field(QStringLiteral("Conference-Name")),
             QStringLiteral("room2"));
    const LabFrame moved = c.waitAction(QStringLiteral("add-member"));
    QCOMPARE(moved.field(QStringLiteral("Conference-Name")), QStringLiteral("room2"));
    QCOMPARE(moved.field(QStringLiteral("Member-ID")), QStringLiteral("1"));
    QCOMPARE(moved.field(QStringLiteral("Channel-Presence-ID")), QStringLiteral("1001@127.0.0.1"));

    // Kick: "kick-member" strictly before "del-member", then the empty conference goes.
    c.takeEvents();
    QCOMPARE(c.request("api conference room1 kick 2\n\n").body, QByteArray("+OK kicked 2\n"));
    QVERIFY(c.waitAction(QStringLiteral("conference-destroy")).isValid());
    QStringList actions;
    for (const LabFrame &f : c.takeEvents()) {
        if (!f.field(QStringLiteral("Action")).isEmpty())
            actions << f.field(QStringLiteral("Action"));
    }
    QVERIFY2(actions.indexOf(QStringLiteral("kick-member")) >= 0 &&
                 actions.indexOf(QStringLiteral("kick-member")) <
                     actions.indexOf(QStringLiteral("del-member")),
             qPrintable(actions.join(QLatin1Char(','))));
    QCOMPARE(c.request("api conference room1 xml_list\n\n").body,
             QByteArray("-ERR Conference room1 not found\n"));

    // Member-IDs keep counting per server.
    lab.run(QStringLiteral("register 1002"));
    jobResult(c, c.request(userOriginate(QStringLiteral("room2"), QStringLiteral("1002@127.0.0.1"),
                                         LabEvent::newUuid()))
                     .header("Job-UUID"));
    QCOMPARE(c.waitEvent([](const LabFrame &f) {
                  return f.field(QStringLiteral("Action")) == QLatin1String("add-member") &&
                         f.field(QStringLiteral("Channel-Presence-ID")) == QLatin1String("1002@127.0.0.1");
              }).field(QStringLiteral("Member-ID")),
             QStringLiteral("3"));
    QCOMPARE(c.request("api conference room2 kick all\n\n").body, QByteArray("+OK kicked 1\n+OK kicked 3\n"));
    QVERIFY(c.waitEvent([](const LabFrame &f) {
                 return isPresence(f, QStringLiteral("1001@127.0.0.1"), QStringLiteral("idle"));
             }).isValid());
}

QTEST_GUILESS_MAIN(LabCallsTest)
#include "labcalls_test.moc"
