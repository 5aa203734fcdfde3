// Conference recording: "record" and "norecord", the WAV file a recorded conference leaves
// and its CDR INSERT, handed to the configured command. The lab host's own path (every
// conference recorded, the row in MariaDB) is checked end to end in tests/e2e.

#include "lab/labconfig.h"
#include "lab/labcontrol.h"
#include "lab/labevent.h"
#include "lab/labplayer.h"
#include "lab/labserver.h"
#include "tests/lab/labclient.h"
#include "tests/support/labcdr.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Undoes the string-literal quoting MariaDB reads.
QString unquote(const QString &literal)
{
    QString out;
    for (int i = 1; i < literal.size() - 1; ++i)
        out += literal[i] == '\\' ? literal[++i] : literal[i];
    return out;
}

} // namespace

class LabRecorderTest : public QObject
{
    Q_OBJECT
private slots:
    void recordedConferenceLeavesWavAndCdr();
};

void LabRecorderTest::recordedConferenceLeavesWavAndCdr()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("directory");
    const QDir source(qEnvironmentVariable("TESMAR_SOURCE_DIR") + "/tests/lab/data/directory");
    for (const QString &name : source.entryList({"*.xml"}, QDir::Files))
        QFile::copy(source.filePath(name), dir.filePath("directory/" + name));
    const QString sqlFile = dir.filePath("cdr.sql");
    LabConfig config;
    config.listenPort = 0;
    config.directory = dir.filePath("directory");
    config.recordings = dir.filePath("recordings");
    config.timeScale = 0.01;
    config.cdrCommand = "tee -a " + sqlFile;
    LabServer server(config);
    LabControl control(&server);
    QVERIFY(server.start());
    for (const char *line : {"register 1001", "register 1002", "pstn * answer 0"})
        control.execute(QString::fromLatin1(line), [](const QString &, const QByteArray &) {});
    LabClient c;
    QVERIFY(c.login(server.port()));
    auto call = [&](const QByteArray &leg, const QByteArray &conference) {
        c.request("bgapi originate {origination_uuid=" + LabEvent::newUuid().toUtf8() + "}" + leg + " " +
                  conference + " XML conference\n\n");
        return c
            .waitEvent([&](const LabFrame &f) {
                return f.field("Action") == "add-member" &&
                       f.field("Conference-Name") == QString::fromUtf8(conference);
            })
            .field("Member-ID");
    };

    // A Cyrillic name with a backslash must come through the SQL text unharmed.
    const QByteArray name = "Цех\\3б";
    QVERIFY(!call("user/1001@127.0.0.1", name).isEmpty());
    QVERIFY(!call("user/1002@127.0.0.1", "quiet").isEmpty());
    QCOMPARE(c.api("conference " + name + " norecord").body, "-ERR no reply\n");
    const QByteArray reply = c.api("conference " + name + " record").body;
    // Without a file the recording goes to the recordings folder, named after the conference.
    const QString wav = QString::fromUtf8(reply).section(' ', 3).trimmed();
    QVERIFY2(reply.startsWith("+OK Record file ") && QFileInfo(wav).fileName().startsWith("Цех_3б-"),
             reply.constData());
    QCOMPARE(QFileInfo(wav).absolutePath(), dir.filePath("recordings"));
    const QString pstn = call("loopback/5550001/pstn/XML", name);
    QTest::qWait(1100);
    QCOMPARE(c.api("conference " + name + " norecord").body,
             "+OK Stopped recording file " + wav.toUtf8() + "\n");
    QTest::qWait(1100);
    c.api("conference quiet kick all");
    c.api("conference " + name + " kick " + pstn.toUtf8());
    QTest::qWait(1100);
    c.api("conference " + name + " kick all");
    QVERIFY(c.waitEvent("Conference-Name", QString::fromUtf8(name)).isValid());

    // Only the recorded conference is written, as one INSERT the console's queries can read.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sqlFile).size() > 0, 5000);
    QTest::qWait(300);
    QFile f(sqlFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    const QString literal = "('(?:[^'\\\\]|\\\\.)*')";
    const auto m =
        QRegularExpression("^INSERT INTO cdr \\(starttime, startrecord, endtime, conference, has_record, "
                           "xml\\) VALUES \\(FROM_UNIXTIME\\((\\d+)\\), FROM_UNIXTIME\\((\\d+)\\), "
                           "FROM_UNIXTIME\\((\\d+)\\), " +
                           literal + ", 1, " + literal + "\\);$")
            .match(lines[0]);
    QVERIFY2(m.hasMatch(), qPrintable(lines[0].left(300)));
    const qint64 start = m.captured(1).toLongLong(), recordStart = m.captured(2).toLongLong(),
                 end = m.captured(3).toLongLong();
    QCOMPARE(unquote(m.captured(4)), QString::fromUtf8(name));
    const LabCdr cdr = LabCdr::parse(unquote(m.captured(5)));
    QVERIFY(cdr.ok);
    QCOMPARE(cdr.name, QString::fromUtf8(name));
    // Everybody who took part, with the time each one left; the recording's own span.
    QCOMPARE(cdr.numbers(), QStringList({"1001", "pstn:5550001"}));
    QVERIFY(cdr.callers[0].join >= start && cdr.callers[1].leave < cdr.callers[0].leave);
    QCOMPARE(cdr.callers[0].leave, end);
    QCOMPARE(cdr.recording.number, wav);
    QCOMPARE(cdr.recording.join, recordStart);
    QVERIFY(recordStart < cdr.recording.leave && cdr.recording.leave < end);
    QCOMPARE(LabPlayer::wavDurationMs(wav), (cdr.recording.leave - recordStart) * 1000);
}

QTEST_GUILESS_MAIN(LabRecorderTest)
#include "labrecorder_test.moc"
