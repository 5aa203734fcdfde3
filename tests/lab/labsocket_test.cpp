// The lab's event socket against the bytes a real server sent: greeting, authentication,
// subscription, command errors, exit, address refusal, event fan-out, sendevent and bgapi.

#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

class LabSocketTest : public QObject
{
    Q_OBJECT
private slots:
    void sessionRepliesMatchTheRecording();
    void wrongPasswordEndsTheSession();
    void refusedAddressGetsRudeRejection();
    void eventsReachOnlyTheirSubscribers();
    void sendEventEchoesToEverySubscriberWithTheSenderIncluded();
    void bgapiRepliesAtOnceAndReportsTheJobLater();
    void splitAndPipelinedRequestsAreAnsweredInOrder();
    void programStartsWithTheDemoDirectoryAndScript();
};

static bool isCustom(const LabFrame &f, const QString &subclass)
{
    return f.field(QStringLiteral("Event-Name")) == QLatin1String("CUSTOM") &&
           f.field(QStringLiteral("Event-Subclass")) == subclass;
}

void LabSocketTest::sessionRepliesMatchTheRecording()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.connectTo(lab.port()));
    QCOMPARE(c.nextFrame().raw, LabFixture::reference(QStringLiteral("001_greeting_auth_request")));
    QCOMPARE(c.request("auth ClueCon\n\n").raw, LabFixture::reference(QStringLiteral("004_ctl_auth_good")));
    QCOMPARE(c.request("event json PRESENCE_IN RELOADXML BACKGROUND_JOB MODULE_LOAD CUSTOM sofia::register "
                       "sofia::expire sofia::unregister conference::maintenance alert::notify\n\n")
                 .raw,
             LabFixture::reference(QStringLiteral("005_event_json_subscribe")));
    QCOMPARE(c.request("event json NO_SUCH_EVENT\n\n").raw,
             LabFixture::reference(QStringLiteral("010_event_bogus_name")));
    QCOMPARE(c.request("bogus_command\n\n").raw,
             LabFixture::reference(QStringLiteral("011_unknown_command")));
    QCOMPARE(c.request("api no_such_api\n\n").raw, LabFixture::reference(QStringLiteral("012_api_unknown")));

    // exit: "+OK bye", then the disconnect notice, then the server closes.
    QCOMPARE(c.request("exit\n\n").raw, LabFixture::reference(QStringLiteral("013_exit")));
    QCOMPARE(c.nextFrame().raw, LabFixture::reference(QStringLiteral("014_exit_trailing_bytes")));
    QVERIFY(c.waitClosed());
}

void LabSocketTest::wrongPasswordEndsTheSession()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.connectTo(lab.port()));
    QVERIFY(c.nextFrame().isValid());
    c.send("auth wrong\n\n");
    QVERIFY(c.waitClosed());
    const LabFrame reply = c.nextFrame(100);
    const LabFrame notice = c.nextFrame(100);
    QCOMPARE(reply.raw + notice.raw, LabFixture::reference(QStringLiteral("002_auth_bad_until_close")));

    // Any command other than auth before authentication is refused the same way.
    LabClient early;
    QVERIFY(early.connectTo(lab.port()));
    QVERIFY(early.nextFrame().isValid());
    QCOMPARE(early.request("api list_users\n\n").header("Reply-Text"), QByteArray("-ERR invalid"));
    QVERIFY(early.waitClosed());
}

void LabSocketTest::refusedAddressGetsRudeRejection()
{
    LabFixture lab(0.01, {QStringLiteral("10.0.0.0/8")});
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.connectTo(lab.port()));
    QVERIFY(c.waitClosed());
    const LabFrame rude = c.nextFrame(100);
    const LabFrame notice = c.nextFrame(100);
    QCOMPARE(rude.raw + notice.raw, LabFixture::reference(QStringLiteral("016_acl_rude_rejection")));

    // Opening the list lets the same address in again.
    QCOMPARE(lab.run(QStringLiteral("allow 127.0.0.0/8,10.0.0.0/8")), QStringLiteral("+OK"));
    LabClient allowed;
    QVERIFY(allowed.login(lab.port()));
}

void LabSocketTest::eventsReachOnlyTheirSubscribers()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient console;
    QVERIFY(console.login(lab.port()));
    LabClient jobsOnly;
    QVERIFY(jobsOnly.login(lab.port(), "ClueCon", false));
    QCOMPARE(jobsOnly.request("event json BACKGROUND_JOB\n\n").header("Reply-Text"),
             QByteArray("+OK event listener enabled json"));
    LabClient alertsOnly;
    QVERIFY(alertsOnly.login(lab.port(), "ClueCon", false));
    QVERIFY(alertsOnly.request("event json CUSTOM alert::notify\n\n").header("Reply-Text").startsWith("+OK"));
    LabClient everything;
    QVERIFY(everything.login(lab.port(), "ClueCon", false));
    QVERIFY(everything.request("event json ALL\n\n").header("Reply-Text").startsWith("+OK"));
    LabClient nothing;
    QVERIFY(nothing.login(lab.port(), "ClueCon", false));

    QCOMPARE(lab.run(QStringLiteral("register 1002")), QStringLiteral("+OK registered 1002"));
    const LabFrame reg =
        console.waitEvent([](const LabFrame &f) { return isCustom(f, QStringLiteral("sofia::register")); });
    QVERIFY(reg.isValid());
    QCOMPARE(reg.header("Content-Type"), QByteArray("text/event-json"));
    QCOMPARE(reg.header("Content-Length").toInt(), reg.body.size());
    QVERIFY(
        everything.waitEvent([](const LabFrame &f) { return isCustom(f, QStringLiteral("sofia::register")); })
            .isValid());

    // A CUSTOM listener gets only its own subclasses; BACKGROUND_JOB listeners get no CUSTOM events.
    QCOMPARE(console.request("sendevent CUSTOM\nEvent-Subclass: alert::notify\nUser-Name: 1002@127.0.0.1\n\n")
                 .header("Reply-Text")
                 .left(4),
             QByteArray("+OK "));
    QVERIFY(
        alertsOnly.waitEvent([](const LabFrame &f) { return isCustom(f, QStringLiteral("alert::notify")); })
            .isValid());
    QTest::qWait(50);
    const QList<LabFrame> alertEvents = alertsOnly.takeEvents();
    for (const LabFrame &f : alertEvents)
        QVERIFY2(isCustom(f, QStringLiteral("alert::notify")), f.body.constData());
    QVERIFY(jobsOnly.takeEvents().isEmpty());
    QVERIFY(nothing.takeEvents().isEmpty());
    QVERIFY(nothing.unparsed().isEmpty());

    // Plain subscribers get "text/event-plain" with url-encoded values.
    LabClient plain;
    QVERIFY(plain.login(lab.port(), "ClueCon", false));
    QCOMPARE(plain.request("event plain CUSTOM conference::maintenance\n\n").header("Reply-Text"),
             QByteArray("+OK event listener enabled plain"));
    console.request("sendevent CUSTOM\nEvent-Subclass: conference::maintenance\nAction: play-file\nFile: "
                    "/tmp/a b.wav\n\n");
    const LabFrame plainEvent = plain.nextFrame();
    QCOMPARE(plainEvent.header("Content-Type"), QByteArray("text/event-plain"));
    QCOMPARE(plainEvent.header("Content-Length").toInt(), plainEvent.body.size());
    QVERIFY(plainEvent.body.startsWith(
        "Event-Subclass: conference%3A%3Amaintenance\nCommand: sendevent%20CUSTOM\n"));
    QVERIFY(plainEvent.body.contains("\nFile: /tmp/a%20b.wav\n"));
    QVERIFY(plainEvent.body.endsWith("\n\n"));

    // noevents stops the flow for that connection only.
    QCOMPARE(alertsOnly.request("noevents\n\n").header("Reply-Text"),
             QByteArray("+OK no longer listening for events"));
    console.request("sendevent CUSTOM\nEvent-Subclass: alert::notify\nUser-Name: 1003@127.0.0.1\n\n");
    QVERIFY(console
                .waitEvent([](const LabFrame &f) {
                    return f.field(QStringLiteral("User-Name")) == QLatin1String("1003@127.0.0.1");
                })
                .isValid());
    QTest::qWait(50);
    QVERIFY(alertsOnly.takeEvents().isEmpty());
}

void LabSocketTest::sendEventEchoesToEverySubscriberWithTheSenderIncluded()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient sender;
    QVERIFY(sender.login(lab.port()));
    LabClient other;
    QVERIFY(other.login(lab.port()));

    // The console's placeholder member, byte for byte as it sends it.
    const QByteArray placeholder =
        "sendevent\nEvent-Name: CUSTOM\nEvent-Subclass: conference::maintenance\n"
        "Conference-Name: room1\nAction: add-member\nChannel-Presence-ID: 1005@127.0.0.1\n"
        "Member-ID: virtual\nMember-Type: member\n"
        "Channel-Call-UUID: 90f420b3-b942-4bb9-84bb-9892ea48b46f\n"
        "Member-Job-UUID: f16f0d74-6a2c-4c1c-96ee-19b6f6e3cf7c\n\n";
    const LabFrame reply = sender.request(placeholder);
    const QRegularExpression okUuid(
        QStringLiteral("^\\+OK [0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    QVERIFY2(okUuid.match(QString::fromUtf8(reply.header("Reply-Text"))).hasMatch(), reply.raw.constData());
    // Same frame shape as the recording (only the event UUID differs).
    QCOMPARE(reply.raw.size(),
             LabFixture::reference(QStringLiteral("070_sendevent_custom_add_member_virtual")).size());

    for (LabClient *c : {&sender, &other}) {
        const LabFrame e = c->waitAction(QStringLiteral("add-member"));
        QVERIFY(e.isValid());
        QCOMPARE(e.field(QStringLiteral("Member-ID")), QStringLiteral("virtual"));
        QCOMPARE(e.field(QStringLiteral("Channel-Presence-ID")), QStringLiteral("1005@127.0.0.1"));
        QCOMPARE(e.field(QStringLiteral("Member-Job-UUID")),
                 QStringLiteral("f16f0d74-6a2c-4c1c-96ee-19b6f6e3cf7c"));
        QCOMPARE(e.field(QStringLiteral("Command")), QStringLiteral("sendevent"));
        QCOMPARE(e.field(QStringLiteral("Event-UUID")), QString::fromUtf8(reply.header("Reply-Text").mid(4)));
        // Order as the real server sends it: the command, the client's headers, then the server's block.
        QVERIFY(e.fieldPosition(QStringLiteral("Command")) == 1);
        QVERIFY(e.fieldPosition(QStringLiteral("Conference-Name")) <
                e.fieldPosition(QStringLiteral("Event-UUID")));
        QVERIFY(e.fieldPosition(QStringLiteral("Event-UUID")) < e.fieldPosition(QStringLiteral("Core-UUID")));
        const QStringList missing = [&] {
            QStringList m;
            for (const QString &k : LabFixture::referenceFields(
                     QStringLiteral("0042_ev_CUSTOM_conference-maintenance_add-member")))
                if (!e.json().contains(k))
                    m << k;
            return m;
        }();
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(','))));
    }

    // A body travels as "_body" with its length, the subclass first when named on the command line.
    sender.request("sendevent CUSTOM\nEvent-Subclass: alert::notify\nContent-Length: 12\n\nhello world\n\n");
    const LabFrame withBody =
        other.waitEvent([](const LabFrame &f) { return isCustom(f, QStringLiteral("alert::notify")); });
    QCOMPARE(withBody.field(QStringLiteral("_body")), QStringLiteral("hello world\n"));
    QCOMPARE(withBody.field(QStringLiteral("Content-Length")), QStringLiteral("12"));
    QCOMPARE(withBody.field(QStringLiteral("Command")), QStringLiteral("sendevent CUSTOM"));
    QCOMPARE(withBody.fieldPosition(QStringLiteral("Event-Subclass")), 1);
    for (const QString &k : LabFixture::referenceFields(QStringLiteral("0045_ev_CUSTOM_alert-notify")))
        QVERIFY2(withBody.json().contains(k), qPrintable(k));
}

void LabSocketTest::bgapiRepliesAtOnceAndReportsTheJobLater()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    const LabFrame reply = c.request("bgapi originate user/1005@127.0.0.1 &park()\n\n");
    const QByteArray job = reply.header("Job-UUID");
    QCOMPARE(job.size(), 36);
    QCOMPARE(reply.header("Reply-Text"), "+OK Job-UUID: " + job);
    // Same bytes as the recording once the job id is put in.
    QByteArray expected = LabFixture::reference(QStringLiteral("051_bgapi_originate_user1005_unregistered"));
    expected.replace("39992d84-5d0b-4c53-b100-acf9c45048be", job);
    QCOMPARE(reply.raw, expected);

    const LabFrame done = c.waitEvent([&](const LabFrame &f) {
        return f.field(QStringLiteral("Event-Name")) == QLatin1String("BACKGROUND_JOB") &&
               f.field(QStringLiteral("Job-UUID")) == QString::fromUtf8(job);
    });
    QVERIFY(done.isValid());
    QCOMPARE(done.field(QStringLiteral("Job-Command")), QStringLiteral("originate"));
    QCOMPARE(done.field(QStringLiteral("Job-Command-Arg")), QStringLiteral("user/1005@127.0.0.1 &park()"));
    QCOMPARE(done.field(QStringLiteral("_body")), QStringLiteral("-ERR USER_NOT_REGISTERED\n"));
    QCOMPARE(done.field(QStringLiteral("Content-Length")), QStringLiteral("25"));
    QCOMPARE(done.json().keys(), LabFixture::referenceFields(QStringLiteral("0004_ev_BACKGROUND_JOB")));

    // The client may choose the job id.
    const LabFrame own = c.request("bgapi create_uuid\nJob-UUID: 11111111-2222-3333-4444-555555555555\n\n");
    QCOMPARE(own.header("Job-UUID"), QByteArray("11111111-2222-3333-4444-555555555555"));
    const LabFrame ownDone = c.waitEvent([](const LabFrame &f) {
        return f.field(QStringLiteral("Job-UUID")) == QLatin1String("11111111-2222-3333-4444-555555555555");
    });
    QCOMPARE(ownDone.field(QStringLiteral("_body")).size(), 36);
}

void LabSocketTest::splitAndPipelinedRequestsAreAnsweredInOrder()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));

    c.send("api ver");
    QTest::qWait(30);
    c.send("sion\n");
    QTest::qWait(30);
    c.send("\n");
    QCOMPARE(c.nextReply().body, QByteArray("FreeSWITCH Version 1.11.1-release~64bit ( 64bit)\n"));

    // Three requests in one segment, carriage returns included: three replies in order.
    c.send("api user_data 1001@127.0.0.1 attr role\r\n\r\napi db insert/t/k/v\n\napi db select/t/k\n\n");
    QCOMPARE(c.nextReply().body, QByteArray("dispatcher"));
    QCOMPARE(c.nextReply().body, QByteArray("+OK"));
    QCOMPARE(c.nextReply().body, QByteArray("v"));
}

void LabSocketTest::programStartsWithTheDemoDirectoryAndScript()
{
    const QString source = qEnvironmentVariable("TESMAR_SOURCE_DIR");
    QProcess lab;
    lab.setProcessChannelMode(QProcess::MergedChannels);
    lab.start(qEnvironmentVariable("TESMAR_BINARY_DIR") + QStringLiteral("/lab/tesmar-lab"),
              {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--control-port"),
               QStringLiteral("0"), QStringLiteral("--password"), QStringLiteral("lab-secret"),
               QStringLiteral("--directory"), source + QStringLiteral("/lab/directory"),
               QStringLiteral("--script"), source + QStringLiteral("/lab/demo.lab"),
               QStringLiteral("--time-scale"), QStringLiteral("0.01")});
    QVERIFY(lab.waitForStarted());
    QByteArray output;
    const QRegularExpression listening(QStringLiteral("event socket on 127\\.0\\.0\\.1:(\\d+)"));
    QRegularExpressionMatch m;
    QVERIFY(LabClient::waitUntil(
        [&] {
            output += lab.readAll();
            m = listening.match(QString::fromUtf8(output));
            return m.hasMatch();
        },
        5000));
    LabClient c;
    QVERIFY(c.login(quint16(m.captured(1).toUInt()), "lab-secret"));
    // The demo script registers its users; wait until it has run.
    QVERIFY(LabClient::waitUntil(
        [&] {
            return c.request("api list_users\n\n").body.contains("\n1004|default|127.0.0.1|default|sofia/");
        },
        5000));
    QCOMPARE(c.request("api user_data 1002@127.0.0.1 attr allow\n\n").body,
             QByteArray("recordings;settings;control"));
    lab.terminate();
    QVERIFY(lab.waitForFinished(3000));

    QProcess bad;
    bad.start(qEnvironmentVariable("TESMAR_BINARY_DIR") + QStringLiteral("/lab/tesmar-lab"),
              {QStringLiteral("--listen"), QStringLiteral("nowhere")});
    QVERIFY(bad.waitForFinished(3000));
    QCOMPARE(bad.exitCode(), 2);
}

QTEST_GUILESS_MAIN(LabSocketTest)
#include "labsocket_test.moc"
