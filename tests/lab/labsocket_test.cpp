// The lab's event socket against the bytes a real server sent: greeting, authentication,
// subscription, command errors, exit, address refusal, event fan-out, sendevent and bgapi.

#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QRegularExpression>
#include <QTest>
#include <QUuid>

class LabSocketTest : public QObject
{
    Q_OBJECT
private slots:
    void sessionRepliesAndRefusalsMatchTheRecording();
    void eventsReachOnlyTheirSubscribers();
    void sendEventEchoesToEverySubscriberWithTheSenderIncluded();
    void bgapiAndPipelinedRequestsAreAnsweredInOrder();
};

static LabClient::Match custom(const QString &subclass)
{
    return [subclass](const LabFrame &f) {
        return f.field("Event-Name") == "CUSTOM" && f.field("Event-Subclass") == subclass;
    };
}

void LabSocketTest::sessionRepliesAndRefusalsMatchTheRecording()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.connectTo(lab.port()));
    // No command: the next frame is unasked (greeting; after exit, the disconnect notice).
    const char *const exchanges[][2] = {
        {nullptr, "001"},
        {"auth ClueCon", "004"},
        {"event json PRESENCE_IN RELOADXML BACKGROUND_JOB MODULE_LOAD CUSTOM sofia::register sofia::expire "
         "sofia::unregister conference::maintenance alert::notify",
         "005"},
        {"event json NO_SUCH_EVENT", "010"},
        {"bogus_command", "011"},
        {"api no_such_api", "012"},
        {"exit", "013"},
        {nullptr, "014"},
    };
    for (const auto &e : exchanges)
        QCOMPARE(e[0] ? c.request(e[0] + QByteArray("\n\n")).raw : c.nextFrame().raw,
                 LabFixture::reference(e[1]));
    QVERIFY(c.waitClosed());

    // A wrong password ends the session; so does any command other than auth before authentication.
    LabClient wrong, early;
    QVERIFY(wrong.connectTo(lab.port()) && wrong.nextFrame().isValid());
    wrong.send("auth wrong\n\n");
    QVERIFY(wrong.waitClosed());
    const QByteArray reply = wrong.nextFrame(100).raw;
    QCOMPARE(reply + wrong.nextFrame(100).raw, LabFixture::reference("002"));
    QVERIFY(early.connectTo(lab.port()) && early.nextFrame().isValid());
    QCOMPARE(early.api("list_users").header("Reply-Text"), "-ERR invalid");
    QVERIFY(early.waitClosed());

    // An address outside the allowed list is rejected rudely, until the list lets it in.
    QCOMPARE(lab.run("allow 10.0.0.0/8"), "+OK");
    LabClient refused, allowed;
    QVERIFY(refused.connectTo(lab.port()) && refused.waitClosed());
    const QByteArray rude = refused.nextFrame(100).raw;
    QCOMPARE(rude + refused.nextFrame(100).raw, LabFixture::reference("016"));
    QCOMPARE(lab.run("allow 127.0.0.0/8,10.0.0.0/8"), "+OK");
    QVERIFY(allowed.login(lab.port()));
}

void LabSocketTest::eventsReachOnlyTheirSubscribers()
{
    LabFixture lab;
    // The console's full subscription, a listener of one CUSTOM subclass, and a control connection
    // that never subscribes.
    LabClient console, alertsOnly, nothing;
    QVERIFY(lab.ok() && console.login(lab.port()));
    QVERIFY(alertsOnly.login(lab.port(), "ClueCon", false) && nothing.login(lab.port(), "ClueCon", false));
    QCOMPARE(alertsOnly.request("event json CUSTOM alert::notify\n\n").header("Reply-Text"),
             "+OK event listener enabled json");
    QCOMPARE(lab.run("register 1002"), "+OK registered 1002");
    QVERIFY(console.waitEvent(custom("sofia::register")).isValid());

    // A CUSTOM listener gets only its own subclasses.
    console.request("sendevent CUSTOM\nEvent-Subclass: alert::notify\nUser-Name: 1002@127.0.0.1\n\n");
    QVERIFY(alertsOnly.waitEvent(custom("alert::notify")).isValid());
    QTest::qWait(50);
    for (const LabFrame &f : alertsOnly.takeEvents())
        QVERIFY2(custom("alert::notify")(f), f.body.constData());
    QVERIFY(nothing.takeEvents().isEmpty());
    QVERIFY(nothing.unparsed().isEmpty());
}

void LabSocketTest::sendEventEchoesToEverySubscriberWithTheSenderIncluded()
{
    LabFixture lab;
    LabClient sender, other;
    QVERIFY(lab.ok() && sender.login(lab.port()) && other.login(lab.port()));

    // The console's placeholder member, byte for byte as it sends it.
    const LabFrame reply =
        sender.request("sendevent\nEvent-Name: CUSTOM\nEvent-Subclass: conference::maintenance\n"
                       "Conference-Name: room1\nAction: add-member\n"
                       "Channel-Presence-ID: 1005@127.0.0.1\nMember-ID: virtual\n"
                       "Member-Type: member\nChannel-Call-UUID: 90f420b3-b942-4bb9-84bb-9892ea48b46f\n"
                       "Member-Job-UUID: f16f0d74-6a2c-4c1c-96ee-19b6f6e3cf7c\n\n");
    // The recorded reply with the new event's UUID put in.
    const QByteArray eventUuid = reply.header("Reply-Text").mid(4);
    QVERIFY(QUuid::fromString(QString::fromUtf8(eventUuid)).toString(QUuid::WithoutBraces) == eventUuid);
    QCOMPARE(reply.raw,
             LabFixture::reference("070").replace("e54d48c7-cb26-4342-bed8-db0b31956b3d", eventUuid));

    for (LabClient *c : {&sender, &other}) {
        const LabFrame e = c->waitAction("add-member");
        QCOMPARE(LabFixture::problems(e, "0042",
                                      {{"Member-ID", "virtual"},
                                       {"Channel-Presence-ID", "1005@127.0.0.1"},
                                       {"Member-Job-UUID", "f16f0d74-6a2c-4c1c-96ee-19b6f6e3cf7c"},
                                       {"Command", "sendevent"},
                                       {"Event-UUID", eventUuid}}),
                 QString());
    }
}

void LabSocketTest::bgapiAndPipelinedRequestsAreAnsweredInOrder()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));
    const LabFrame reply = c.request("bgapi originate user/1005@127.0.0.1 &park()\n\n");
    const QByteArray job = reply.header("Job-UUID");
    // Same bytes as the recording once the job id is put in.
    QCOMPARE(reply.raw, LabFixture::reference("051").replace("39992d84-5d0b-4c53-b100-acf9c45048be", job));

    const LabFrame done = c.waitEvent("Job-UUID", job);
    QCOMPARE(done.mismatches({{"Event-Name", "BACKGROUND_JOB"},
                              {"Job-Command", "originate"},
                              {"Job-Command-Arg", "user/1005@127.0.0.1 &park()"},
                              {"_body", "-ERR USER_NOT_REGISTERED\n"},
                              {"Content-Length", "25"}}),
             QString());
    QCOMPARE(done.json().keys(), LabFixture::referenceFields("0004"));

    // A request split over segments, and three in one segment with carriage returns: answered in order.
    for (const char *part : {"api ver", "sion\n", "\n"}) {
        c.send(part);
        QTest::qWait(30);
    }
    QCOMPARE(c.nextReply().body, "FreeSWITCH Version 1.11.1-release~64bit ( 64bit)\n");

    c.send("api user_data 1001@127.0.0.1 attr role\r\n\r\napi db insert/t/k/v\n\napi db select/t/k\n\n");
    for (const char *body : {"dispatcher", "+OK", "v"})
        QCOMPARE(c.nextReply().body, body);
}

QTEST_GUILESS_MAIN(LabSocketTest)
#include "labsocket_test.moc"
