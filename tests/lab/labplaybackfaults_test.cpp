// Playback into a conference (play, pause_play, file_seek, stop, natural end), the control
// port and start-up scripts, and the faults the console's reliability tests inject.

#include "lab/labevent.h"
#include "lab/labplayer.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class LabPlaybackFaultsTest : public QObject
{
    Q_OBJECT
private slots:
    void playbackHonoursPauseSeekAndStop();
    void playbackEndsOnItsOwnAfterTheFileDuration();
    void controlPortAndScriptDriveTheLab();
    void silenceDelayAndMalformedFrames();
    void closeRefuseAndRudeRejection();
};

namespace {

// Brings one public-network member into room1 so that the conference exists.
bool openConference(LabFixture &lab, LabClient &c)
{
    lab.run(QStringLiteral("pstn * answer 0"));
    c.request("bgapi originate {originate_timeout=30}[origination_uuid=" + LabEvent::newUuid().toUtf8() +
              "]loopback/5550001/pstn/XML room1 XML conference\n\n");
    return c.waitAction(QStringLiteral("add-member")).isValid();
}

QByteArray api(LabClient &c, const QByteArray &command)
{
    return c.request("api " + command + "\n\n").body;
}

} // namespace

void LabPlaybackFaultsTest::playbackHonoursPauseSeekAndStop()
{
    LabFixture lab(0.1); // a 10 s file plays for 1 s
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    QVERIFY(openConference(lab, c));
    const QString path = lab.writeWav(QStringLiteral("call-42.wav"), 10000);
    QCOMPARE(LabPlayer::wavDurationMs(path), 10000);

    QCOMPARE(c.request("api conference room1 play /usr/local/media/no-such-file.wav\n\n").raw,
             LabFixture::reference(QStringLiteral("084_conference_room1_play_missing_file")));
    QCOMPARE(c.request("api conference room1 pause_play\n\n").raw,
             LabFixture::reference(QStringLiteral("085_conference_room1_pause_play_nothing_playing")));
    QCOMPARE(c.request("api conference room1 stop\n\n").raw,
             LabFixture::reference(QStringLiteral("087_conference_room1_stop_nothing_playing")));

    // A path recorded on the real server is found by its name in the recordings folder.
    const QByteArray serverPath = "/var/lib/freeswitch/recordings/call-42.wav";
    QCOMPARE(api(c, "conference room1 play " + serverPath), "+OK (play) Playing file " + serverPath + "\n");
    const LabFrame started = c.waitAction(QStringLiteral("play-file"));
    QCOMPARE(started.field(QStringLiteral("File")), QString::fromUtf8(serverPath));
    QVERIFY(LabFixture::referenceFields(QStringLiteral("0048_ev_CUSTOM_conference-maintenance_play-file")) ==
            started.json().keys());

    QCOMPARE(api(c, "conference room1 pause_play"), QByteArray("+OK Pause\n"));
    QTest::qWait(1300); // longer than the whole file: a paused file must not end
    for (const LabFrame &f : c.takeEvents())
        QVERIFY(f.field(QStringLiteral("Action")) != QLatin1String("play-file-done"));
    QCOMPARE(api(c, "conference room1 pause_play"), QByteArray("+OK Resume\n"));

    // Seeks count samples at 8 kHz: absolute, then relative to the new position.
    QCOMPARE(api(c, "conference room1 file_seek 1000"), QByteArray("+OK seek to position 8000\n"));
    const QByteArray relative = api(c, "conference room1 file_seek +2000");
    QVERIFY2(relative.startsWith("+OK seek to position "), relative.constData());
    const int samples = relative.mid(21).trimmed().toInt();
    QVERIFY2(samples >= 24000 && samples < 24000 + 8 * 3000, relative.constData());
    QCOMPARE(api(c, "conference room1 file_seek 0"), QByteArray("+OK seek to position 0\n"));

    QCOMPARE(api(c, "conference room1 stop"), QByteArray("+OK Stopped 1 files.\n"));
    const LabFrame done = c.waitAction(QStringLiteral("play-file-done"));
    QCOMPARE(done.field(QStringLiteral("File")), QString::fromUtf8(serverPath));
    QVERIFY(done.field(QStringLiteral("milliseconds")).toInt() < 2000);
    QVERIFY(LabFixture::referenceFields(QStringLiteral(
                "0054_ev_CUSTOM_conference-maintenance_play-file-done")) == done.json().keys());
    QCOMPARE(api(c, "conference room1 file_seek 1000"), QByteArray("-ERR no reply\n"));

    // Seeking past the end ends the file at once.
    QVERIFY(api(c, "conference room1 play call-42.wav").startsWith("+OK (play) Playing file call-42.wav"));
    QCOMPARE(api(c, "conference room1 file_seek 999999"), QByteArray("+OK seek to position 80000\n"));
    QCOMPARE(c.waitAction(QStringLiteral("play-file-done"), 500).field(QStringLiteral("milliseconds")),
             QStringLiteral("10000"));

    // Playing to one member: its own reply text, and a bad member id is refused.
    QCOMPARE(api(c, "conference room1 play call-42.wav 1"),
             QByteArray("+OK (play) Playing file call-42.wav to member 1\n"));
    QVERIFY(api(c, "conference room1 play call-42.wav 77").startsWith("-ERR Member: 77 not found.\n"));
    QCOMPARE(api(c, "conference nosuch play call-42.wav"), QByteArray("-ERR Conference nosuch not found\n"));

    // A file that is not a WAV is as good as missing.
    QFile junk(lab.recordingsPath() + QStringLiteral("/junk.wav"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a wave file at all");
    junk.close();
    QCOMPARE(api(c, "conference room1 play junk.wav"), QByteArray("-ERR (play) File: junk.wav not found.\n"));
}

void LabPlaybackFaultsTest::playbackEndsOnItsOwnAfterTheFileDuration()
{
    LabFixture lab(0.1);
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));
    QVERIFY(openConference(lab, c));
    lab.writeWav(QStringLiteral("short.wav"), 4000); // 400 ms at this time scale
    QElapsedTimer t;
    t.start();
    QVERIFY(api(c, "conference room1 play short.wav").startsWith("+OK (play) Playing file short.wav"));
    const LabFrame done = c.waitAction(QStringLiteral("play-file-done"), 5000);
    QVERIFY(done.isValid());
    QVERIFY2(t.elapsed() >= 350, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(done.field(QStringLiteral("milliseconds")), QStringLiteral("4000"));
    QCOMPARE(done.field(QStringLiteral("samples")), QStringLiteral("32000"));
    QCOMPARE(done.field(QStringLiteral("seconds")), QStringLiteral("4"));
    QCOMPARE(api(c, "conference room1 stop"), QByteArray("+OK Stopped 0 files.\n"));
}

void LabPlaybackFaultsTest::controlPortAndScriptDriveTheLab()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient events;
    QVERIFY(events.login(lab.port()));
    QString error;
    QVERIFY(lab.control().listen(0, &error));

    QTcpSocket control;
    control.connectToHost(QHostAddress::LocalHost, lab.control().port());
    QVERIFY(LabClient::waitUntil([&] { return control.state() == QAbstractSocket::ConnectedState; }, 3000));
    QByteArray received;
    connect(&control, &QTcpSocket::readyRead, this, [&] { received += control.readAll(); });
    control.write(
        "register 1003 sip:1003@127.0.0.1:6000\nbogus\napi user_data 1003 attr role\nsleep 20\nusers\n");
    const QByteArray usersData = "1001 unregistered answer 1\n1002 unregistered answer 1\n"
                                 "1003 sip:1003@127.0.0.1:6000 answer 1\n1004 unregistered answer 1\n"
                                 "1005 unregistered answer 1\n1006 unregistered answer 1\n";
    const QByteArray expected = "+OK registered 1003\n-ERR unknown command bogus\n+OK 7\ndefault+OK\n+OK " +
                                QByteArray::number(usersData.size()) + "\n" + usersData;
    QVERIFY(LabClient::waitUntil([&] { return received.size() >= expected.size(); }, 3000));
    QCOMPARE(received, expected);
    QVERIFY(events
                .waitEvent([](const LabFrame &f) {
                    return f.field(QStringLiteral("from-user")) == QLatin1String("1003");
                })
                .isValid());

    // A script runs the same commands in order, waiting where it says so.
    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("start.lab")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("# demo\nregister 1004\n\nbehaviour 1004 busy 2\nsleep 30\nnot-a-command\ndb\n");
    script.close();
    QSignalSpy finished(&lab.control(), &LabControl::scriptFinished);
    QVERIFY(lab.control().runScript(script.fileName(), &error));
    QVERIFY(finished.wait(3000));
    QVERIFY(lab.run(QStringLiteral("users")).contains(QLatin1String("1004 sip:1004@127.0.0.1:")));
    QVERIFY(lab.run(QStringLiteral("users")).contains(QLatin1String(" busy 2\n")));
    QVERIFY(!lab.control().runScript(dir.filePath(QStringLiteral("missing.lab")), &error));
    QVERIFY(lab.run(QStringLiteral("behaviour 1004 sometimes")).startsWith(QLatin1String("-ERR usage")));
}

void LabPlaybackFaultsTest::silenceDelayAndMalformedFrames()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    LabClient c;
    QVERIFY(c.login(lab.port()));

    // Silence: requests vanish; events still flow; answers resume when it ends.
    QCOMPARE(lab.run(QStringLiteral("fault silence on")), QStringLiteral("+OK fault silence"));
    c.send("api version\n\n");
    lab.run(QStringLiteral("module_load"));
    QVERIFY(c.waitEvent([](const LabFrame &f) {
                 return f.field(QStringLiteral("key")) == QLatin1String("mod_sofia");
             }).isValid());
    QVERIFY(!c.nextReply(300).isValid());
    lab.run(QStringLiteral("fault silence off"));
    QCOMPARE(api(c, "user_data 1002 attr role"), QByteArray("technician"));

    // Delay: the reply waits, the order stays.
    lab.run(QStringLiteral("fault delay 250"));
    QElapsedTimer t;
    t.start();
    c.send("api user_data 1001 attr role\n\napi user_data 1004 attr groups\n\n");
    QCOMPARE(c.nextReply().body, QByteArray("dispatcher"));
    QVERIFY(t.elapsed() >= 240);
    QCOMPARE(c.nextReply().body, QByteArray("Группа Б;"));
    QVERIFY(t.elapsed() >= 490);
    lab.run(QStringLiteral("fault delay 0"));

    // Malformed frames reach the wire exactly as announced.
    QCOMPARE(lab.run(QStringLiteral("fault malformed badlength")), QStringLiteral("+OK fault malformed"));
    const LabFrame bad = c.nextFrame();
    QCOMPARE(bad.header("Content-Length"), QByteArray("twelve"));
    QCOMPARE(bad.body, QByteArray());
    lab.run(QStringLiteral("fault malformed badjson"));
    const LabFrame badJson = c.nextFrame();
    QCOMPARE(badJson.header("Content-Type"), QByteArray("text/event-json"));
    QVERIFY(badJson.json().isEmpty());
    QVERIFY(lab.run(QStringLiteral("fault malformed sideways")).startsWith(QLatin1String("-ERR")));
    lab.run(QStringLiteral("fault malformed truncated"));
    QVERIFY(LabClient::waitUntil([&] { return c.unparsed().startsWith("Content-Length: 5000\n"); }, 3000));
}

void LabPlaybackFaultsTest::closeRefuseAndRudeRejection()
{
    LabFixture lab;
    QVERIFY(lab.ok());
    const quint16 port = lab.port();
    LabClient first;
    QVERIFY(first.login(port));
    QCOMPARE(lab.server().sessionCount(), 1);
    lab.run(QStringLiteral("fault close"));
    QVERIFY(first.waitClosed());
    QVERIFY(LabClient::waitUntil([&] { return lab.server().sessionCount() == 0; }, 3000));

    // Refusing: the port is closed, so clients see "connection refused"; it reopens on the same port.
    lab.run(QStringLiteral("fault refuse on"));
    QTcpSocket refused;
    QSignalSpy errors(&refused, &QAbstractSocket::errorOccurred);
    refused.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(errors.wait(3000));
    QCOMPARE(refused.error(), QAbstractSocket::ConnectionRefusedError);
    lab.run(QStringLiteral("fault refuse off"));
    QCOMPARE(lab.server().port(), port);
    LabClient back;
    QVERIFY(back.login(port));

    // Rude rejection of a live connection, then of every new one until switched off.
    lab.run(QStringLiteral("fault rude now"));
    QVERIFY(back.waitClosed());
    QCOMPARE(back.nextFrame(100).header("Content-Type"), QByteArray("text/rude-rejection"));
    lab.run(QStringLiteral("fault rude on"));
    LabClient rejected;
    QVERIFY(rejected.connectTo(port));
    QCOMPARE(rejected.nextFrame().body, QByteArray("Access Denied, go away.\n"));
    QVERIFY(rejected.waitClosed());
    lab.run(QStringLiteral("fault rude off"));
    LabClient welcome;
    QVERIFY(welcome.login(port));
}

QTEST_GUILESS_MAIN(LabPlaybackFaultsTest)
#include "labplaybackfaults_test.moc"
