// Playback into a conference (play, pause_play, file_seek, stop, natural end) and the faults the console's
// reliability tests inject.

#include "lab/labevent.h"
#include "lab/labplayer.h"
#include "tests/lab/labclient.h"
#include "tests/lab/labfixture.h"

#include <QElapsedTimer>
#include <QTest>

class LabPlaybackFaultsTest : public QObject
{
    Q_OBJECT
private slots:
    void playbackHonoursPauseSeekStopAndEnd();
    void injectedFaultsReachTheClients();
};

void LabPlaybackFaultsTest::playbackHonoursPauseSeekStopAndEnd()
{
    LabFixture lab(0.1); // a 10 s file plays for 1 s
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));
    // One public-network member, so that room1 exists.
    lab.run("pstn * answer 0");
    c.request("bgapi originate {originate_timeout=30}[origination_uuid=" + LabEvent::newUuid().toUtf8() +
              "]loopback/5550001/pstn/XML room1 XML conference\n\n");
    QVERIFY(c.waitAction("add-member").isValid());
    QCOMPARE(LabPlayer::wavDurationMs(lab.writeWav("call-42.wav", 10000)), 10000);

    QCOMPARE(c.api("conference room1 play /usr/local/media/no-such-file.wav").raw,
             LabFixture::reference("084"));
    QCOMPARE(c.api("conference room1 pause_play").raw, LabFixture::reference("085"));
    QCOMPARE(c.api("conference room1 stop").raw, LabFixture::reference("087"));

    // A path recorded on the real server is found by its name in the recordings folder.
    const QByteArray serverPath = "/var/lib/freeswitch/recordings/call-42.wav";
    QCOMPARE(c.api("conference room1 play " + serverPath).body,
             "+OK (play) Playing file " + serverPath + "\n");
    const LabFrame started = c.waitAction("play-file");
    QCOMPARE(started.field("File"), QString::fromUtf8(serverPath));
    QCOMPARE(started.json().keys(), LabFixture::referenceFields("0048"));

    QCOMPARE(c.api("conference room1 pause_play").body, "+OK Pause\n");
    QTest::qWait(1300); // longer than the whole file: a paused file must not end
    for (const LabFrame &f : c.takeEvents())
        QVERIFY(f.field("Action") != "play-file-done");
    QCOMPARE(c.api("conference room1 pause_play").body, "+OK Resume\n");

    // Seeks count samples at 8 kHz: absolute, then relative to the new position.
    QCOMPARE(c.api("conference room1 file_seek 1000").body, "+OK seek to position 8000\n");
    const QByteArray relative = c.api("conference room1 file_seek +2000").body;
    QVERIFY2(relative.startsWith("+OK seek to position "), relative.constData());
    const int samples = relative.mid(21).trimmed().toInt();
    QVERIFY2(samples >= 24000 && samples < 24000 + 8 * 3000, relative.constData());
    QCOMPARE(c.api("conference room1 file_seek 0").body, "+OK seek to position 0\n");

    QCOMPARE(c.api("conference room1 stop").body, "+OK Stopped 1 files.\n");
    const LabFrame done = c.waitAction("play-file-done");
    QCOMPARE(done.field("File"), QString::fromUtf8(serverPath));
    QVERIFY(done.field("milliseconds").toInt() < 2000);
    QCOMPARE(done.json().keys(), LabFixture::referenceFields("0054"));
    QCOMPARE(c.api("conference room1 file_seek 1000").body, "-ERR no reply\n");

    // Seeking past the end ends the file at once.
    QVERIFY(
        c.api("conference room1 play call-42.wav").body.startsWith("+OK (play) Playing file call-42.wav"));
    QCOMPARE(c.api("conference room1 file_seek 999999").body, "+OK seek to position 80000\n");
    QCOMPARE(c.waitAction("play-file-done", 500).field("milliseconds"), "10000");

    // Left alone, a file ends after its duration (4 s, so 400 ms here).
    lab.writeWav("short.wav", 4000);
    QElapsedTimer t;
    t.start();
    QVERIFY(c.api("conference room1 play short.wav").body.startsWith("+OK (play) Playing file short.wav"));
    const LabFrame ended = c.waitAction("play-file-done", 5000);
    QVERIFY2(t.elapsed() >= 350, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(ended.mismatches({{"milliseconds", "4000"}, {"samples", "32000"}, {"seconds", "4"}}), QString());
    QCOMPARE(c.api("conference room1 stop").body, "+OK Stopped 0 files.\n");

    // A file that is not a WAV is as good as missing.
    QVERIFY(LabFixture::writeFile(lab.recordingsPath() + "/junk.wav", "not a wave file at all"));
    QCOMPARE(c.api("conference room1 play junk.wav").body, "-ERR (play) File: junk.wav not found.\n");
}

void LabPlaybackFaultsTest::injectedFaultsReachTheClients()
{
    LabFixture lab;
    LabClient c;
    QVERIFY(lab.ok() && c.login(lab.port()));

    // Silence: requests vanish; events still flow; answers resume when it ends.
    QCOMPARE(lab.run("fault silence on"), "+OK fault silence");
    c.send("api version\n\n");
    lab.run("module_load");
    QVERIFY(c.waitEvent("key", "mod_sofia").isValid());
    QVERIFY(!c.nextReply(300).isValid());
    lab.run("fault silence off");
    QCOMPARE(c.api("user_data 1002 attr role").body, "technician");

    // Delay: the reply waits, the order stays.
    lab.run("fault delay 250");
    QElapsedTimer t;
    t.start();
    c.send("api user_data 1001 attr role\n\napi user_data 1004 attr groups\n\n");
    QCOMPARE(c.nextReply().body, "dispatcher");
    QVERIFY(t.elapsed() >= 240);
    QCOMPARE(c.nextReply().body, "Группа Б;");
    QVERIFY(t.elapsed() >= 490);
    lab.run("fault delay 0");

    // Malformed frames reach the wire exactly as announced.
    QCOMPARE(lab.run("fault malformed badlength"), "+OK fault malformed");
    const LabFrame bad = c.nextFrame();
    QCOMPARE(bad.header("Content-Length"), "twelve");
    QCOMPARE(bad.body, QByteArray());
    lab.run("fault malformed truncated");
    QVERIFY(LabClient::waitUntil([&] { return c.unparsed().startsWith("Content-Length: 5000\n"); }, 3000));

    // Closing and refusing are driven end to end by the console suite; rude rejection is not.
    const quint16 port = lab.port();
    LabClient back;
    QVERIFY(back.login(port));
    // Rude rejection of a live connection, then of every new one until switched off.
    lab.run("fault rude now");
    QVERIFY(back.waitClosed());
    QCOMPARE(back.nextFrame(100).header("Content-Type"), "text/rude-rejection");
    lab.run("fault rude on");
    LabClient rejected, welcome;
    QVERIFY(rejected.connectTo(port));
    QCOMPARE(rejected.nextFrame().body, "Access Denied, go away.\n");
    QVERIFY(rejected.waitClosed());
    lab.run("fault rude off");
    QVERIFY(welcome.login(port));
}

QTEST_GUILESS_MAIN(LabPlaybackFaultsTest)
#include "labplaybackfaults_test.moc"
