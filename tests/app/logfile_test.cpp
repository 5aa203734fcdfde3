#include "app/logfile.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>
#include <vector>

#include <cstdio>
#include <unistd.h>

namespace {

const QString kStamp = QStringLiteral("^\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");

QStringList linesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

// The lines without their timestamps; a line without one stays whole and fails the comparison.
QStringList textsOf(QStringList lines)
{
    return lines.replaceInStrings(QRegularExpression(kStamp), QString());
}

QString dated(const char *prefix, const QDate &date)
{
    return QLatin1String(prefix) + date.toString("yyyy-MM-dd") + ".log";
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
    const QString m_startDir = QDir::currentPath();

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

    void qtMessagesGoToTheDebugLogOnly()
    {
        const QString debugName = LogFile::debugLog().filePath();

        // A handler installed before ours (the test framework's) keeps receiving messages.
        QTest::ignoreMessage(QtWarningMsg, "warned");
        qDebug("tracing %d", 1);
        qInfo() << "informing";
        qWarning("warned");
        qCritical("critical");
        // Qt itself may have spoken first (a warning about the environment, say).
        QCOMPARE(textsOf(linesOf(debugName)).mid(linesOf(debugName).size() - 4),
                 (QStringList{"[DEBUG  ] tracing 1", "[INFO   ] informing", "[WARNING] warned",
                              "[ERROR  ] critical"}));
        // Qt messages never reach the operator's log.
        QVERIFY(linesOf("logs/main.log").isEmpty());
    }

    void logsOpenInTheirDirectoryAndTheMainLogIsArchivedOncePerDay()
    {
        // The debug log does not make "logs"; the main log, also named by an empty path, does.
        QVERIFY(!LogFile("logs/debug.log", DEBUG).isOpen());
        QVERIFY(LogFile("", INFO).isOpen() && QDir("logs").exists());

        const QDate old = QDate::currentDate().addDays(-3);
        writeOld(dated("logs/main.log.", old), "an archive of the same name\n", old);
        writeOld("logs/main.log", "old line\n", old);
        LogFile("logs/main.log", INFO).write(INFO, "today");
        // Modified today: the next start appends to the same file.
        LogFile("logs/main.log", INFO).write(INFO, "later today");
        QCOMPARE(linesOf(dated("logs/main.log.", old)), QStringList{"old line"});
        QCOMPARE(textsOf(linesOf("logs/main.log")),
                 (QStringList{"[INFO   ] today", "[INFO   ] later today"}));

        // An archive name that cannot be replaced (a non-empty directory) keeps the log closed.
        const QDate older = old.addDays(-1);
        QVERIFY(QDir().mkpath(dated("logs/main.log.", older) + "/keep"));
        writeOld("logs/main.log", "older line\n", older);
        LogFile closed("logs/main.log", INFO);
        QVERIFY(!closed.isOpen());
        closed.write(ERROR, "lost");
        QCOMPARE(linesOf("logs/main.log"), QStringList{"older line"});
    }

    void viewerShowsNewestLineFirst()
    {
        LogFile log("logs/main.log", INFO);
        log.write(INFO, "one");
        log.write(INFO, "two");
        QPlainTextEdit viewer;
        log.setViewer(&viewer);
        QVERIFY(log.loadIntoViewer());
        log.write(WARNING, "three");
        const QString shown = viewer.toPlainText();
        QCOMPARE(textsOf(shown.split(QLatin1Char('\n'), Qt::SkipEmptyParts)),
                 (QStringList{"[WARNING] three", "[INFO   ] two", "[INFO   ] one"}));
        // A reload shows exactly what was built line by line.
        QVERIFY(log.loadIntoViewer());
        QCOMPARE(viewer.toPlainText(), shown);
    }

    void debugLinesWaitAMomentWarningsNeverAndNothingIsLost()
    {
        QVERIFY(QDir().mkpath("logs"));
        // Standard error into a file for the length of the case.
        fflush(stderr);
        const int savedStderr = dup(2);
        FILE *capture = fopen("stderr.txt", "w");
        QVERIFY(capture && dup2(fileno(capture), 2) == 2);
        QString debugName;
        QStringList early;
        {
            LogFile log("logs/debug.log", DEBUG);
            debugName = log.filePath();
            for (int i = 0; i < 3000; ++i)
                log.write(DEBUG, QString("d%1 Ж").arg(i));
            // A warning takes every line before it along, at once.
            log.write(WARNING, "w");
            early = textsOf(linesOf(debugName));
            QCOMPARE(early.size(), 3001);
            QCOMPARE(early.mid(2999), (QStringList{"[DEBUG  ] d2999 Ж", "[WARNING] w"}));
            // Debug lines reach the file on their own within a moment, with nothing written after.
            log.write(TRACE, "t");
            QTRY_COMPARE_WITH_TIMEOUT(linesOf(debugName).size(), 3002, 5 * LogFile::kFlushIntervalMs);
            log.write(DEBUG, "last");
        }
        fflush(stderr);
        dup2(savedStderr, 2);
        close(savedStderr);
        fclose(capture);
        // Closing wrote the rest; standard error got the same lines in the same order.
        const QStringList all = textsOf(linesOf(debugName));
        QCOMPARE(all.mid(3000), (QStringList{"[WARNING] w", "[TRACE  ] t", "[DEBUG  ] last"}));
        QCOMPARE(linesOf("stderr.txt"), linesOf(debugName));
    }

    void linesFromSeveralThreadsStayWholeAndStamped()
    {
        LogFile log("logs/main.log", INFO);
        constexpr int kThreads = 4, kLines = 400;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&log, t] {
                for (int i = 0; i < kLines; ++i) {
                    log.write(DEBUG, "below the threshold");
                    log.write(INFO, QString("t%1 n%2 ").arg(t).arg(i) + QString(100, QChar(0x416)));
                }
            });
        }
        for (auto &thread : threads)
            thread.join();

        const QStringList lines = linesOf("logs/main.log");
        QCOMPARE(lines.size(), kThreads * kLines);
        const QRegularExpression whole(kStamp + QStringLiteral("\\[INFO   \\] t\\d n\\d+ Ж{100}$"));
        for (const QString &line : lines)
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line.left(80)));
    }
};

QTEST_MAIN(LogFileTest)
#include "logfile_test.moc"
