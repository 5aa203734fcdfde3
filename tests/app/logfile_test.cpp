#include "app/logfile.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

namespace {

const QString kStamp = QStringLiteral("^\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString dated(const char *prefix, const QDate &date, const char *suffix)
{
    return QLatin1String(prefix) + date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1String(suffix);
}

void writeOld(const QString &path, const QByteArray &content, const QDate &day)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.flush(); // a flush after setFileTime would stamp today's time again
    QVERIFY(file.setFileTime(QDateTime(day, QTime(23, 59)), QFileDevice::FileModificationTime));
}

} // namespace

// Each case runs in a fresh working directory: the logs live under its "logs".
class LogFileTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir = QDir::currentPath();

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
    }
    void cleanup()
    {
        QDir::setCurrent(m_startDir);
        m_dir.reset();
    }

    void processWideLogsStartInAnEmptyDirectoryAndTakeQtMessages()
    {
        LogFile &debug = LogFile::debugLog();
        QVERIFY(LogFile::mainLog().isOpen());
        const QString debugName = dated("logs/debug", QDate::currentDate(), ".log");
        QCOMPARE(debug.filePath(), QDir::current().absoluteFilePath(debugName));

        // A handler installed before ours (the test framework's) keeps receiving messages.
        QTest::ignoreMessage(QtWarningMsg, "warned");
        qDebug("tracing %d", 1);
        qInfo() << "informing";
        qWarning("warned");
        qCritical("critical");
        // Qt itself may have spoken first (a warning about the environment, say).
        const QStringList lines = linesOf(debugName).mid(linesOf(debugName).size() - 4);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].endsWith(QStringLiteral(" [DEBUG  ] tracing 1")));
        QVERIFY(lines[1].endsWith(QStringLiteral(" [INFO   ] informing")));
        QVERIFY(lines[2].endsWith(QStringLiteral(" [WARNING] warned")));
        QVERIFY(lines[3].endsWith(QStringLiteral(" [ERROR  ] critical")));
        // Qt messages never reach the operator's log.
        QVERIFY(linesOf(QStringLiteral("logs/main.log")).isEmpty());
    }

    void linesCarryTimestampTagAndUtf8()
    {
        LogFile log("logs/main.log", INFO);
        const QDateTime before = QDateTime::currentDateTime();
        log.write(DEBUG, QStringLiteral("below threshold"));
        log.write(TRACE, QStringLiteral("below threshold"));
        log.write(INFO, QStringLiteral("Конфигурация загружена"));
        log.write(ERROR, QStringLiteral("fail"));
        log.write(9, QStringLiteral("untagged"));
        const QDateTime after = QDateTime::currentDateTime();

        QFile file(QStringLiteral("logs/main.log"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray raw = file.readAll();
        QVERIFY(raw.endsWith("untagged\n"));
        const QStringList lines = QString::fromUtf8(raw).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList expected = {QStringLiteral("[INFO   ] Конфигурация загружена"),
                                      QStringLiteral("[ERROR  ] fail"), QStringLiteral("untagged")};
        QCOMPARE(lines.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QVERIFY2(QRegularExpression(kStamp).match(lines[i]).hasMatch(), qPrintable(lines[i]));
            QCOMPARE(lines[i].mid(24), expected[i]);
            const QDateTime stamp =
                QDateTime::fromString(lines[i].left(23), QStringLiteral("yyyy'.'MM'.'dd hh:mm:ss.zzz"));
            QVERIFY(stamp >= before.addMSecs(-1) && stamp <= after.addMSecs(1));
        }
    }

    void debugLogNeedsTheDirectoryAndAppendsWithinTheDay()
    {
        QVERIFY(!LogFile("logs/debug.log", DEBUG).isOpen());
        QVERIFY(!QDir(QStringLiteral("logs")).exists());

        LogFile main("", INFO); // an empty path means the main log, which makes "logs"
        QVERIFY(main.isOpen());
        LogFile("logs/debug.log", DEBUG).write(DEBUG, QStringLiteral("first run"));
        LogFile("logs/debug.log", DEBUG).write(DEBUG, QStringLiteral("second run"));
        const QStringList lines = linesOf(dated("logs/debug", QDate::currentDate(), ".log"));
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(QStringLiteral("first run")) &&
                lines[1].endsWith(QStringLiteral("second run")));
    }

    void earlierDaysMainLogIsArchivedOncePerStart()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("logs")));
        const QDate old = QDate::currentDate().addDays(-3);
        const QString archive = dated("logs/main.log.", old, ".log");
        writeOld(archive, "an archive of the same name\n", old);
        writeOld(QStringLiteral("logs/main.log"), "old line\n", old);

        LogFile("logs/main.log", INFO).write(INFO, QStringLiteral("today"));
        QCOMPARE(linesOf(archive), QStringList{QStringLiteral("old line")});
        QCOMPARE(linesOf(QStringLiteral("logs/main.log")).size(), 1);

        // Modified today: the next start appends to the same file.
        LogFile("logs/main.log", INFO).write(INFO, QStringLiteral("later today"));
        QCOMPARE(linesOf(QStringLiteral("logs/main.log")).size(), 2);
        QCOMPARE(QDir(QStringLiteral("logs")).entryList(QDir::Files).size(), 2);

        // An archive name that cannot be replaced (a non-empty directory) keeps the log closed.
        const QDate older = old.addDays(-1);
        QVERIFY(QDir().mkpath(dated("logs/main.log.", older, ".log/keep")));
        writeOld(QStringLiteral("logs/main.log"), "older line\n", older);
        LogFile closed("logs/main.log", INFO);
        QVERIFY(!closed.isOpen());
        QPlainTextEdit viewer;
        closed.setViewer(&viewer);
        closed.write(ERROR, QStringLiteral("lost"));
        QVERIFY(!closed.loadIntoViewer());
        QVERIFY(viewer.toPlainText().isEmpty());
        QCOMPARE(linesOf(QStringLiteral("logs/main.log")), QStringList{QStringLiteral("older line")});
    }

    void viewerShowsNewestLineFirst()
    {
        LogFile log("logs/main.log", INFO);
        QVERIFY(!log.loadIntoViewer()); // no viewer yet
        log.write(INFO, QStringLiteral("one"));
        log.write(INFO, QStringLiteral("two"));

        QPlainTextEdit viewer;
        log.setViewer(&viewer);
        QVERIFY(log.loadIntoViewer());
        QStringList shown = viewer.toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0].endsWith(QStringLiteral("two")) && shown[1].endsWith(QStringLiteral("one")));

        log.write(WARNING, QStringLiteral("three"));
        log.write(DEBUG, QStringLiteral("not shown"));
        const QString incremental = viewer.toPlainText();
        QVERIFY(incremental.section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral("[WARNING] three")));
        QCOMPARE(incremental.count(QLatin1Char('\n')), 3);
        // A reload shows exactly what was built line by line.
        QVERIFY(log.loadIntoViewer());
        QCOMPARE(viewer.toPlainText(), incremental);

        log.setViewer(nullptr);
        log.write(INFO, QStringLiteral("four"));
        QCOMPARE(viewer.toPlainText(), incremental);
    }

    void writesFromSeveralThreadsStayWholeLines()
    {
        LogFile log("logs/main.log", DEBUG);
        constexpr int kThreads = 4, kLines = 400;
        const QString payload(200, QLatin1Char('#'));
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(QThread::create([&log, &payload, t] {
                for (int i = 0; i < kLines; ++i)
                    log.write(INFO, QStringLiteral("t%1 n%2 ").arg(t).arg(i) + payload);
            }));
            threads.back()->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(60000));

        const QStringList lines = linesOf(QStringLiteral("logs/main.log"));
        QCOMPARE(lines.size(), kThreads * kLines);
        const QRegularExpression whole(kStamp + QStringLiteral("\\[INFO   \\] t(\\d) n(\\d+) #{200}$"));
        int next[kThreads] = {};
        for (const QString &line : lines) {
            const QRegularExpressionMatch m = whole.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line.left(80)));
            QCOMPARE(m.captured(2).toInt(), next[m.captured(1).toInt()]++);
        }
    }
};

QTEST_MAIN(LogFileTest)
#include "logfile_test.moc"
