// Conference recording: the WAV file and the call detail record a recorded conference leaves
// behind, handed as SQL to the configured database command.

#include "lab/labconfig.h"
#include "lab/labcontrol.h"
#include "lab/labevent.h"
#include "lab/labplayer.h"
#include "lab/labserver.h"
#include "tests/lab/labclient.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

// The CDR as the console reads it: conference name, caller numbers with their times, and
// the recording node.
struct ParsedCdr
{
    QString name;
    QStringList callers;
    QList<QPair<qint64, qint64>> callerTimes;
    QString recordPath;
    qint64 recordJoin = -1;
    qint64 recordLeave = -1;
    QString error;
};

ParsedCdr parseCdr(const QString &xml)
{
    ParsedCdr cdr;
    QXmlStreamReader r(xml);
    QString memberType;
    qint64 join = -1, leave = -1;
    QStringList path;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            path.append(r.name().toString());
            if (r.name() == QLatin1String("member")) {
                memberType = r.attributes().value("type").toString();
                join = leave = -1;
            }
            const QString p = path.join('/');
            const bool epoch = r.attributes().value("type") == QLatin1String("UNIX-epoch");
            if (p == "cdr/conference/name")
                cdr.name = r.readElementText();
            else if (p.endsWith("member/join_time") && epoch)
                join = r.readElementText().toLongLong();
            else if (p.endsWith("member/leave_time") && epoch)
                leave = r.readElementText().toLongLong();
            else if (p.endsWith("member/record_path"))
                cdr.recordPath = r.readElementText();
            else if (p.endsWith("caller_profile/caller_id_number"))
                cdr.callers.append(r.readElementText());
            if (r.isEndElement())
                path.removeLast();
        } else if (r.isEndElement()) {
            if (r.name() == QLatin1String("member") && memberType == "caller")
                cdr.callerTimes.append({join, leave});
            if (r.name() == QLatin1String("member") && memberType == "recording_node") {
                cdr.recordJoin = join;
                cdr.recordLeave = leave;
            }
            path.removeLast();
        }
    }
    if (r.hasError())
        cdr.error = r.errorString();
    return cdr;
}

// Undoes the string literal quoting MariaDB reads.
QString unquote(const QString &literal)
{
    QString out;
    for (int i = 1; i < literal.size() - 1; ++i) {
        QChar c = literal[i];
        if (c == '\\') {
            c = literal[++i];
            c = c == 'n' ? QChar('\n') : c == '0' ? QChar('\0') : c;
        }
        out += c;
    }
    return out;
}

struct Insert
{
    QString conference;
    ParsedCdr cdr;
    qint64 start = 0, recordStart = 0, end = 0;
};

// Splits the INSERT statements the command received into their values.
QList<Insert> inserts(const QString &sqlFile)
{
    QFile f(sqlFile);
    QList<Insert> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    static const QRegularExpression re(
        "^INSERT INTO cdr \\(starttime, startrecord, endtime, conference, has_record, xml\\) VALUES "
        "\\(FROM_UNIXTIME\\((\\d+)\\), FROM_UNIXTIME\\((\\d+)\\), FROM_UNIXTIME\\((\\d+)\\), "
        "('(?:[^'\\\\]|\\\\.)*'), 1, ('(?:[^'\\\\]|\\\\.)*')\\);$");
    for (const QString &line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const auto m = re.match(line);
        Insert i;
        if (m.hasMatch()) {
            i.start = m.captured(1).toLongLong();
            i.recordStart = m.captured(2).toLongLong();
            i.end = m.captured(3).toLongLong();
            i.conference = unquote(m.captured(4));
            i.cdr = parseCdr(unquote(m.captured(5)));
        } else {
            i.cdr.error = "not an INSERT of the expected form: " + line.left(200);
        }
        out.append(i);
    }
    return out;
}

} // namespace

class LabRecorderTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void everyConferenceRecordsAndLeavesACdr();
    void recordAndNorecordControlOneConference();

private:
    void startLab(bool recordAll);
    QString sqlFile() const { return m_dir->filePath("cdr.sql"); }
    QString callUser(const QByteArray &user, const QByteArray &conference);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LabServer> m_server;
    std::unique_ptr<LabControl> m_control;
    std::unique_ptr<LabClient> m_client;
};

void LabRecorderTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void LabRecorderTest::cleanup()
{
    m_client.reset();
    m_control.reset();
    m_server.reset();
    m_dir.reset();
}

void LabRecorderTest::startLab(bool recordAll)
{
    QDir root(m_dir->path());
    root.mkdir("directory");
    const QDir source(qEnvironmentVariable("TESMAR_SOURCE_DIR") + "/tests/lab/data/directory");
    for (const QString &name : source.entryList({"*.xml"}, QDir::Files))
        QFile::copy(source.filePath(name), root.filePath("directory/" + name));
    LabConfig config;
    config.listenPort = 0;
    config.directory = root.filePath("directory");
    config.recordings = root.filePath("recordings");
    config.timeScale = 0.01;
    config.recordAll = recordAll;
    config.cdrCommand = "tee -a " + sqlFile();
    m_server = std::make_unique<LabServer>(config);
    m_control = std::make_unique<LabControl>(m_server.get());
    QVERIFY(m_server->start());
    m_client = std::make_unique<LabClient>();
    QVERIFY(m_client->login(m_server->port()));
    for (const char *line : {"register 1001", "register 1002", "behaviour 1001 answer 0",
                             "behaviour 1002 answer 0", "pstn * answer 0"})
        m_control->execute(QString::fromUtf8(line), [](const QString &, const QByteArray &) {});
}

QString LabRecorderTest::callUser(const QByteArray &leg, const QByteArray &conference)
{
    const LabFrame reply =
        m_client->request("bgapi originate {origination_uuid=" + LabEvent::newUuid().toUtf8() + "}" + leg +
                          " " + conference + " XML conference\n\n");
    const LabFrame added = m_client->waitEvent([&](const LabFrame &f) {
        return f.field("Action") == "add-member" &&
               f.field("Conference-Name") == QString::fromUtf8(conference);
    });
    return added.isValid() ? added.field("Member-ID") : "no add-member: " + QString::fromUtf8(reply.raw);
}

void LabRecorderTest::everyConferenceRecordsAndLeavesACdr()
{
    startLab(true);
    // A Cyrillic name with a backslash must survive the SQL text unharmed.
    const QByteArray name = "Цех\\3б";
    const QString first = callUser("user/1001@127.0.0.1", name);
    const QString second = callUser("loopback/5550001/pstn/XML", name);
    QVERIFY2(first.toInt() > 0 && second.toInt() > 0, qPrintable(first + " / " + second));
    QTest::qWait(1100); // the recording spans at least one whole second
    QCOMPARE(m_client->api("conference " + name + " kick " + first.toUtf8()).body,
             "+OK kicked " + first.toUtf8() + "\n");
    QVERIFY(m_client->waitAction("del-member").isValid());
    QTest::qWait(1100);
    m_client->api("conference " + name + " kick all");
    QVERIFY(m_client->waitAction("conference-destroy").isValid());

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sqlFile()).size() > 0, 5000);
    const QList<Insert> rows = inserts(sqlFile());
    QCOMPARE(rows.size(), 1);
    const Insert &row = rows.first();
    QVERIFY2(row.cdr.error.isEmpty(), qPrintable(row.cdr.error));
    QCOMPARE(row.conference, QString::fromUtf8(name));
    QCOMPARE(row.cdr.name, QString::fromUtf8(name));
    QCOMPARE(row.cdr.callers, QStringList({"1001", "pstn:5550001"}));
    QVERIFY(row.start <= row.recordStart && row.recordStart < row.end);
    // The first caller left a second before the conference ended; the other stayed to the end.
    QVERIFY(row.cdr.callerTimes[0].second < row.end);
    QCOMPARE(row.cdr.callerTimes[1].second, row.end);
    QVERIFY(row.cdr.callerTimes[0].first >= row.start);
    QCOMPARE(row.cdr.recordJoin, row.recordStart);
    QCOMPARE(row.cdr.recordLeave, row.end);

    // The file is a real WAV in the recordings folder, as long as the recording.
    QCOMPARE(QFileInfo(row.cdr.recordPath).absolutePath(), m_dir->filePath("recordings"));
    QVERIFY(QFileInfo(row.cdr.recordPath).fileName().startsWith("Цех_3б-"));
    QCOMPARE(LabPlayer::wavDurationMs(row.cdr.recordPath), (row.end - row.recordStart) * 1000);
    // ...and the lab plays it back by its path.
    callUser("user/1002@127.0.0.1", "replay");
    QCOMPARE(m_client->api("conference replay play " + row.cdr.recordPath.toUtf8()).body,
             "+OK (play) Playing file " + row.cdr.recordPath.toUtf8() + "\n");
}

void LabRecorderTest::recordAndNorecordControlOneConference()
{
    startLab(false);
    QVERIFY(callUser("user/1001@127.0.0.1", "quiet").toInt() > 0);
    QVERIFY(callUser("user/1002@127.0.0.1", "taped").toInt() > 0);
    QCOMPARE(m_client->api("conference nosuch record").body, "-ERR Conference nosuch not found\n");
    QCOMPARE(m_client->api("conference taped norecord").body, "-ERR no reply\n");
    const QString path = m_dir->filePath("tapes/taped.wav");
    QCOMPARE(m_client->api("conference taped record " + path.toUtf8()).body,
             "+OK Record file " + path.toUtf8() + "\n");
    QTest::qWait(1100);
    QCOMPARE(m_client->api("conference taped norecord").body,
             "+OK Stopped recording file " + path.toUtf8() + "\n");
    QTest::qWait(1100);
    m_client->api("conference quiet kick all");
    m_client->api("conference taped kick all");
    QVERIFY(m_client->waitEvent("Conference-Name", "taped").isValid());

    // Only the recorded conference is written; its recording stopped before it ended.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sqlFile()).size() > 0, 5000);
    QTest::qWait(200);
    const QList<Insert> rows = inserts(sqlFile());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].conference, QString("taped"));
    QCOMPARE(rows[0].cdr.recordPath, path);
    QVERIFY(rows[0].cdr.recordLeave < rows[0].end);
    QCOMPARE(LabPlayer::wavDurationMs(path), (rows[0].cdr.recordLeave - rows[0].cdr.recordJoin) * 1000);
}

QTEST_GUILESS_MAIN(LabRecorderTest)
#include "labrecorder_test.moc"
