// Calls and conferences end to end through the lab: the console's originate templates,
// answer behaviours and their failure causes, the loud-alarm leg, public-network parties,
// uuid_kill, and the conference member commands with the real reply texts.

#include "lab/labdialstring.h"
#include "lab/labevent.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QRegularExpression>
#include <QTest>

class LabCallsTest : public QObject
{
    Q_OBJECT
private slots:
    void consoleDialStringsAreUnderstood();
    void answeredUserJoinsAndLeavesTheConference();
    void failedCallsEndWithTheRealCause();
    void memberCommandsFollowTheRealServer();
};

namespace {

// The two templates the console sends, filled as it fills them.
QByteArray userOriginate(const QString &conf, const QString &uri, const QString &uuid, int alarmDelay = 30,
                         int timeout = 30)
{
    return QString(
               "bgapi originate {originate_timeout=%1,origination_caller_id_name='%2',rtp_secure_media="
               "forbidden,origination_caller_id_number=%2,origination_callee_id_name='Тест'}[api_hangup_hook="
               "'originate loopback/%3/answered 0',origination_uuid=%4]user/%3,[leg_delay_start=%5]loopback/"
               "%3/alarm %2 XML conference\n\n")
        .arg(timeout)
        .arg(conf, uri, uuid)
        .arg(alarmDelay)
        .toUtf8();
}

QByteArray pstnOriginate(const QString &context, const QString &number,
                         const QString &uuid = LabEvent::newUuid())
{
    return QString(
               "bgapi originate {originate_timeout=30,origination_caller_id_name='room1',rtp_secure_media="
               "forbidden,origination_caller_id_number=room1,origination_callee_id_name='ТСОП',origination_"
               "callee_id_number=%1:%2}[origination_uuid=%3]loopback/%2/%1/XML room1 XML conference\n\n")
        .arg(context, number, uuid)
        .toUtf8();
}

QString jobResult(LabClient &c, const QByteArray &job)
{
    return c.waitEvent("Job-UUID", job).field("_body");
}

// Sends a bgapi originate and returns the job's result.
QString originate(LabClient &c, const QByteArray &command)
{
    return jobResult(c, c.request(command).header("Job-UUID"));
}

LabClient::Match presence(const QString &from, const QString &state)
{
    return [=](const LabFrame &f) {
        return f.field("Event-Name") == "PRESENCE_IN" && f.field("from") == from &&
               f.field("presence-call-info-state") == state;
    };
}

} // namespace

void LabCallsTest::consoleDialStringsAreUnderstood()
{
    // The console's own templates are parsed by every call below; these are the forms they do not use.
    LabDialString d;
    QString error;
    // Blanks and commas inside quotes belong to the value, not to the split between legs and destination.
    QVERIFY(LabDialString::parse("{origination_caller_id_name='room 1, east'}user/1001 room1 XML conference",
                                 &d, &error));
    QCOMPARE(d.globals.value("origination_caller_id_name"), "room 1, east");
    QCOMPARE(d.legs.size(), 1);
    QCOMPARE(d.conference(), "room1");
    QVERIFY(LabDialString::parse("{presence_id=1003@127.0.0.1}loopback/1003/pstn &conference(room3@default)",
                                 &d, &error));
    QCOMPARE(d.conference(), "room3");
    QVERIFY(LabDialString::parse("user/1005@127.0.0.1 &park()", &d, &error));
    QCOMPARE(d.conference(), QString());
    QVERIFY(!LabDialString::parse("{a=1 user/1", &d, &error));
    QVERIFY(!LabDialString::parse("[a=1]", &d, &error));
}

void LabCallsTest::answeredUserJoinsAndLeavesTheConference()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));
    lab.run("register 1005 sip:1005@127.0.0.1:5071");
    QCOMPARE(lab.run("behaviour 1005 answer 3"), "+OK 1005 answer 3");
    const QString uuid = "3ed265c9-6246-4315-a451-34d1c1ce188f";
    const QByteArray job = c.request(userOriginate("room1", "1005@127.0.0.1", uuid)).header("Job-UUID");

    // Ringing: the user shows as progressing.
    const LabFrame ringing = c.waitEvent(presence("1005@127.0.0.1", "progressing"));
    QCOMPARE(LabFixture::problems(ringing, "0031", {{"Channel-Call-UUID", uuid}}), QString());

    QCOMPARE(jobResult(c, job), "+OK " + uuid + "\n");
    QCOMPARE(LabFixture::problems(c.waitAction("conference-create"), "0007", {{"Conference-Name", "room1"}}),
             QString());
    const LabFrame add = c.waitAction("add-member");
    QCOMPARE(LabFixture::problems(add, "0008",
                                  {{"Channel-Presence-ID", "1005@127.0.0.1"},
                                   {"Caller-Caller-ID-Number", "1005"},
                                   {"Channel-Call-UUID", uuid},
                                   {"Member-ID", "1"},
                                   {"Speak", "true"},
                                   {"Talking", "false"}}),
             QString());
    QVERIFY(c.waitEvent(presence("1005@127.0.0.1", "active")).isValid());

    // The user answered before the alarm leg was due: no alarm.
    QTest::qWait(400);
    for (const LabFrame &f : c.takeEvents())
        QVERIFY(f.field("Event-Subclass") != "alert::notify");

    // The member list url-encodes the callee name the console gave.
    const QByteArray xml = c.api("conference xml_list").body;
    QVERIFY(xml.contains("<conference name=\"room1\" member-count=\"1\""));
    QVERIFY(xml.contains("<caller_id_name>%D0%A2%D0%B5%D1%81%D1%82</caller_id_name>"));

    // Hang-up: the member leaves, the conference goes with it, the user is idle again.
    QCOMPARE(c.api("uuid_kill " + uuid.toUtf8()).body, "+OK\n");
    QCOMPARE(LabFixture::problems(c.waitAction("del-member"), "0014",
                                  {{"Hangup-Cause", "NORMAL_CLEARING"}, {"Conference-Size", "0"}}),
             QString());
    QCOMPARE(LabFixture::problems(c.waitAction("conference-destroy"), "0017"), QString());
    QVERIFY(c.waitEvent(presence("1005@127.0.0.1", "idle")).isValid());
    QCOMPARE(c.api("uuid_kill " + uuid.toUtf8()).raw, LabFixture::reference("112"));
    QCOMPARE(c.api("conference xml_list").raw, LabFixture::reference("047"));
}

void LabCallsTest::failedCallsEndWithTheRealCause()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));
    const char *const cases[][3] = {
        {"1001", "busy 1", "-ERR USER_BUSY\n"},
        {"1002", "reject 2", "-ERR CALL_REJECTED\n"},
        {"1003", "nonexistent", "-ERR UNALLOCATED_NUMBER\n"},
        {"1004", "noanswer", "-ERR NO_ANSWER\n"},
        {"1006", nullptr, "-ERR USER_NOT_REGISTERED\n"},
        {"4242", nullptr, "-ERR SUBSCRIBER_ABSENT\n"},
    };
    for (const auto &tc : cases) {
        const QString user = tc[0] + QString("@127.0.0.1");
        if (tc[1]) {
            lab.run("register " + QString(tc[0]));
            lab.run("behaviour " + QString(tc[0]) + " " + tc[1]);
        }
        // The alarm leg is due only after 100 s and the call times out after 5 s (both scaled):
        // a failing user leg brings the alarm forward at once.
        c.takeEvents();
        const QByteArray job =
            c.request(userOriginate("room9", user, LabEvent::newUuid(), 100, 5)).header("Job-UUID");
        // Everything up to the job's end, in arrival order: the alarm must come first.
        bool alarmed = false;
        LabFrame f;
        while ((f = c.nextFrame()).isValid() && f.field("Job-UUID") != QString::fromUtf8(job)) {
            if (f.field("Event-Subclass") == "alert::notify")
                alarmed = f.field("User-Name") == user;
            // Ringing legs that fail report the user idle again; nobody else shows up.
            if (f.field("Event-Name") == "PRESENCE_IN")
                QCOMPARE(f.field("from"), user);
        }
        QCOMPARE(f.field("_body"), tc[2]);
        QVERIFY2(alarmed, tc[0]);
    }
    QCOMPARE(c.api("conference xml_list").raw, LabFixture::reference("047"));
    QCOMPARE(c.api("show channels").body, "\n0 total.\n");

    // A ringing call killed by the console ends with normal clearing.
    lab.run("behaviour 1003 noanswer");
    const QString uuid = LabEvent::newUuid();
    const QByteArray job =
        c.request(userOriginate("room1", "1003@127.0.0.1", uuid, 100, 100)).header("Job-UUID");
    QVERIFY(c.waitEvent(presence("1003@127.0.0.1", "progressing")).isValid());
    QCOMPARE(c.api("uuid_kill " + uuid.toUtf8()).body, "+OK\n");
    QCOMPARE(jobResult(c, job), "-ERR NORMAL_CLEARING\n");
}

void LabCallsTest::memberCommandsFollowTheRealServer()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));
    lab.run("register 1001");
    QVERIFY(originate(c, userOriginate("room1", "1001@127.0.0.1", LabEvent::newUuid())).startsWith("+OK"));
    QVERIFY(c.waitAction("add-member").isValid());
    // A public-network party joins under its context and carries no presence.
    const QString uuid = LabEvent::newUuid();
    QCOMPARE(originate(c, pstnOriginate("gw", "5550000", uuid)), "+OK " + uuid + "\n");
    const LabFrame pstn = c.waitAction("add-member");
    QVERIFY(!pstn.json().contains("Channel-Presence-ID"));
    QCOMPARE(pstn.mismatches({{"Caller-Caller-ID-Number", "gw:5550000"}, {"Channel-Call-UUID", uuid}}),
             QString());
    QCOMPARE(c.api("conference room1 count").body, "2");
    // Behaviour by prefix: the longest prefix wins over the default.
    lab.run("pstn 000 nonexistent");
    lab.run("pstn 8800 busy");
    QCOMPARE(originate(c, pstnOriginate("pstn", "000111")), "-ERR UNALLOCATED_NUMBER\n");
    QCOMPARE(originate(c, pstnOriginate("pstn", "88005553535")), "-ERR USER_BUSY\n");

    // Mute and unmute: reply text, event, and the listed flag.
    QCOMPARE(c.api("conference room1 mute 2").body, "+OK mute 2\n");
    QCOMPARE(
        LabFixture::problems(c.waitAction("mute-member"), "0040", {{"Member-ID", "2"}, {"Speak", "false"}}),
        QString());
    QVERIFY(c.api("conference room1 list").body.contains(";gw:5550000;hear;0;0;100\n"));
    QCOMPARE(c.api("conference room1 unmute 2").body, "+OK unmute 2\n");
    QCOMPARE(c.waitAction("unmute-member").field("Speak"), "true");

    // Errors, byte for byte.
    QCOMPARE(c.api("conference room1 mute 9999").raw, LabFixture::reference("088"));
    QCOMPARE(c.api("conference room1 transfer room2 9999").raw, LabFixture::reference("091"));
    QCOMPARE(c.api("conference nosuch mute 1").raw, LabFixture::reference("097"));
    QCOMPARE(c.api("conference room1 kick abc").body,
             "kick <[member_id|all|last|non_moderator]> [<optional sound file>]");

    // Simulated speech.
    QCOMPARE(lab.run("talk 1001 start"), "+OK 1");
    QCOMPARE(LabFixture::problems(c.waitAction("start-talking"), "0027",
                                  {{"Talking", "true"}, {"Member-ID", "1"}}),
             QString());
    QCOMPARE(lab.run("talk 1001 stop"), "+OK 1");
    QCOMPARE(c.waitAction("stop-talking").field("Talking"), "false");

    // Transfer keeps the Member-ID and creates the target conference.
    c.takeEvents();
    QCOMPARE(c.api("conference room1 transfer room2 1").body, "+OK Member '1' sent to conference room2.\n");
    QCOMPARE(LabFixture::problems(c.waitAction("transfer"), "0063", {{"New-Conference-Name", "room2"}}),
             QString());
    QCOMPARE(c.waitAction("add-member")
                 .mismatches({{"Conference-Name", "room2"},
                              {"Member-ID", "1"},
                              {"Channel-Presence-ID", "1001@127.0.0.1"}}),
             QString());

    // Kick: "kick-member" strictly before "del-member", then the empty conference goes.
    c.takeEvents();
    QCOMPARE(c.api("conference room1 kick 2").body, "+OK kicked 2\n");
    QVERIFY(c.waitAction("conference-destroy").isValid());
    QString actions;
    for (const LabFrame &f : c.takeEvents())
        actions += f.field("Action") + ',';
    QVERIFY2(actions.contains(QRegularExpression("kick-member,.*del-member,")), qPrintable(actions));
    QCOMPARE(c.api("conference room1 xml_list").body, "-ERR Conference room1 not found\n");

    // Member-IDs keep counting per server.
    lab.run("register 1002");
    c.takeEvents();
    originate(c, userOriginate("room2", "1002@127.0.0.1", LabEvent::newUuid()));
    QCOMPARE(c.waitAction("add-member")
                 .mismatches({{"Channel-Presence-ID", "1002@127.0.0.1"}, {"Member-ID", "3"}}),
             QString());
    QCOMPARE(c.api("conference room2 kick all").body, "+OK kicked 1\n+OK kicked 3\n");
    QVERIFY(c.waitEvent(presence("1001@127.0.0.1", "idle")).isValid());
}

QTEST_GUILESS_MAIN(LabCallsTest)
#include "labcalls_test.moc"
