#include "app/logfile.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

namespace {

const QString kLinePattern = QStringLiteral("^\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} ");

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString dashed(const QDate &date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace

// Every case runs in a fresh working directory, since the logs live under "logs"
// of the working directory.
class LogFileTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir;

private slots:
    void initTestCase() { m_startDir = QDir::currentPath(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
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
        LogFile &main = LogFile::mainLog();
        QVERIFY(main.isOpen());
        QVERIFY(debug.isOpen());
        QVERIFY(QFile::exists(QStringLiteral("logs/main.log")));
        const QString debugName =
            QStringLiteral("logs/debug") + dashed(QDate::currentDate()) + QStringLiteral(".log");
        QCOMPARE(debug.filePath(), QDir::current().absoluteFilePath(debugName));

        qDebug("tracing %d", 1);
        qInfo() << "informing";
        qWarning("warned");
        qCritical("critical");
        // Qt itself may have spoken first (a warning about the environment, say).
        QStringList lines = linesOf(debugName);
        QVERIFY(lines.size() >= 4);
        lines = lines.mid(lines.size() - 4);
        QVERIFY(lines[0].endsWith(QStringLiteral(" [DEBUG  ] tracing 1")));
        QVERIFY(lines[1].endsWith(QStringLiteral(" [INFO   ] informing")));
        QVERIFY(lines[2].endsWith(QStringLiteral(" [WARNING] warned")));
        QVERIFY(lines[3].endsWith(QStringLiteral(" [ERROR  ] critical")));
        // Qt messages never reach the operator's log.
        QVERIFY(linesOf(QStringLiteral("logs/main.log")).isEmpty());

        main.write(INFO, QStringLiteral("Программа запущенна, Tesmar"));
        QCOMPARE(linesOf(QStringLiteral("logs/main.log")).size(), 1);
    }

    void linesCarryTimestampTagAndUtf8()
    {
        LogFile log("logs/main.log", INFO);
        QVERIFY(log.isOpen());
        const QDateTime before = QDateTime::currentDateTime();
        log.write(DEBUG, QStringLiteral("below threshold"));
        log.write(TRACE, QStringLiteral("below threshold too"));
        log.write(INFO, QStringLiteral("Конфигурация загружена"));
        log.write(WARNING, QStringLiteral("warn"));
        log.write(ERROR, QStringLiteral("fail"));
        log.write(9, QStringLiteral("untagged"));
        const QDateTime after = QDateTime::currentDateTime();

        QFile file(QStringLiteral("logs/main.log"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray raw = file.readAll();
        QVERIFY(raw.contains("[INFO   ] \xd0\x9a\xd0\xbe\xd0\xbd"));
        const QStringList lines = QString::fromUtf8(raw).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 5); // four lines and the text after the last "\n"
        QCOMPARE(lines.last(), QString());

        const QStringList expected = {QStringLiteral("[INFO   ] Конфигурация загружена"),
                                      QStringLiteral("[WARNING] warn"), QStringLiteral("[ERROR  ] fail"),
                                      QStringLiteral("untagged")};
        for (int i = 0; i < expected.size(); ++i) {
            QVERIFY2(QRegularExpression(kLinePattern).match(lines[i]).hasMatch(), qPrintable(lines[i]));
            QCOMPARE(lines[i].mid(24), expected[i]);
            const QDateTime stamp =
                QDateTime::fromString(lines[i].left(23), QStringLiteral("yyyy'.'MM'.'dd hh:mm:ss.zzz"));
            QVERIFY(stamp.isValid());
            QVERIFY(stamp >= before.addMSecs(-1) && stamp <= after.addMSecs(1));
        }

        // A path other than the main log is a dated file; the threshold applies there too.
        LogFile plain("logs/trace", TRACE);
        plain.write(DEBUG, QStringLiteral("dropped"));
        plain.write(TRACE, QStringLiteral("kept"));
        const QStringList traceLines = linesOf(QStringLiteral("logs/trace") + dashed(QDate::currentDate()));
        QCOMPARE(traceLines.size(), 1);
        QVERIFY(traceLines[0].endsWith(QStringLiteral("[TRACE  ] kept")));
    }

    void debugLogNeedsTheDirectoryAndAppendsWithinTheDay()
    {
        {
            LogFile debug("logs/debug.log", DEBUG);
            QVERIFY(!debug.isOpen());
            debug.write(ERROR, QStringLiteral("nowhere"));
        }
        QVERIFY(!QDir(QStringLiteral("logs")).exists());

        LogFile main("", INFO); // an empty path means the main log
        QVERIFY(main.isOpen());
        QCOMPARE(main.filePath(), QDir::current().absoluteFilePath(QStringLiteral("logs/main.log")));
        const QString name =
            QStringLiteral("logs/debug") + dashed(QDate::currentDate()) + QStringLiteral(".log");
        {
            LogFile first("logs/debug.log", DEBUG);
            first.write(DEBUG, QStringLiteral("first run"));
        }
        {
            LogFile second("logs/debug.log", DEBUG);
            second.write(DEBUG, QStringLiteral("second run"));
        }
        const QStringList lines = linesOf(name);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(QStringLiteral("first run")));
        QVERIFY(lines[1].endsWith(QStringLiteral("second run")));
    }

    void earlierDaysMainLogIsArchivedOncePerStart()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("logs")));
        const QDate old = QDate::currentDate().addDays(-3);
        const QString archive = QStringLiteral("logs/main.log.") + dashed(old) + QStringLiteral(".log");
        {
            QFile stale(archive);
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write("an archive of the same name from an earlier rotation\n");
        }
        {
            QFile previous(QStringLiteral("logs/main.log"));
            QVERIFY(previous.open(QIODevice::WriteOnly));
            previous.write("yesterday's line\n");
            previous.flush(); // a later flush would stamp the file with today's time again
            QVERIFY(previous.setFileTime(QDateTime(old, QTime(23, 59)), QFileDevice::FileModificationTime));
        }

        {
            LogFile log("logs/main.log", INFO);
            QVERIFY(log.isOpen());
            log.write(INFO, QStringLiteral("today"));
        }
        QCOMPARE(linesOf(archive), QStringList{QStringLiteral("yesterday's line")});
        QStringList lines = linesOf(QStringLiteral("logs/main.log"));
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].endsWith(QStringLiteral("today")));

        // Modified today: the next start appends to the same file.
        {
            LogFile again("logs/main.log", INFO);
            again.write(INFO, QStringLiteral("later today"));
        }
        lines = linesOf(QStringLiteral("logs/main.log"));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(QDir(QStringLiteral("logs")).entryList(QDir::Files).size(), 2);
    }

    void failedRotationLeavesTheMainLogClosed()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("logs")));
        const QDate old = QDate::currentDate().addDays(-1);
        // A non-empty directory under the archive name cannot be removed or replaced.
        const QString archive = QStringLiteral("logs/main.log.") + dashed(old) + QStringLiteral(".log");
        QVERIFY(QDir().mkpath(archive + QStringLiteral("/keep")));
        {
            QFile previous(QStringLiteral("logs/main.log"));
            QVERIFY(previous.open(QIODevice::WriteOnly));
            previous.write("old\n");
            previous.flush();
            QVERIFY(previous.setFileTime(QDateTime(old, QTime(8, 0)), QFileDevice::FileModificationTime));
        }
        LogFile log("logs/main.log", INFO);
        QVERIFY(!log.isOpen());
        QPlainTextEdit viewer;
        viewer.setPlainText(QStringLiteral("untouched"));
        log.setViewer(&viewer);
        log.write(ERROR, QStringLiteral("lost"));
        QVERIFY(!log.loadIntoViewer());
        QCOMPARE(viewer.toPlainText(), QStringLiteral("untouched"));
        QCOMPARE(linesOf(QStringLiteral("logs/main.log")), QStringList{QStringLiteral("old")});
    }

    void viewerShowsNewestLineFirst()
    {
        LogFile log("logs/main.log", INFO);
        QVERIFY(!log.loadIntoViewer()); // no viewer yet
        log.write(INFO, QStringLiteral("one"));
        log.write(INFO, QStringLiteral("two"));
        log.write(INFO, QStringLiteral("three"));

        QPlainTextEdit viewer;
        log.setViewer(&viewer);
        QCOMPARE(log.viewer(), &viewer);
        QVERIFY(log.loadIntoViewer());
        QStringList shown = viewer.toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(shown.size(), 3);
        QVERIFY(shown[0].endsWith(QStringLiteral("three")));
        QVERIFY(shown[2].endsWith(QStringLiteral("one")));

        log.write(WARNING, QStringLiteral("four"));
        log.write(DEBUG, QStringLiteral("not shown"));
        shown = viewer.toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(shown.size(), 4);
        QVERIFY(shown[0].endsWith(QStringLiteral("[WARNING] four")));
        QVERIFY(shown[1].endsWith(QStringLiteral("three")));
        // What the viewer shows after a reload matches what it built line by line.
        const QString incremental = viewer.toPlainText();
        QVERIFY(log.loadIntoViewer());
        QCOMPARE(viewer.toPlainText(), incremental);
        QCOMPARE(viewer.verticalScrollBar()->value(), 0);

        log.setViewer(nullptr);
        log.write(INFO, QStringLiteral("five"));
        QCOMPARE(viewer.toPlainText(), incremental);
        QVERIFY(!log.loadIntoViewer());
    }

    void writesFromSeveralThreadsStayWholeLines()
    {
        LogFile log("logs/main.log", DEBUG);
        constexpr int kThreads = 4;
        constexpr int kLines = 400;
        const QString payload(200, QLatin1Char('#'));
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(QThread::create([&log, &payload, t] {
                for (int i = 0; i < kLines; ++i)
                    log.write(INFO, QStringLiteral("t%1 n%2 ").arg(t).arg(i) + payload);
            }));
        }
        for (auto &thread : threads)
            thread->start();
        for (auto &thread : threads)
            QVERIFY(thread->wait(60000));

        const QStringList lines = linesOf(QStringLiteral("logs/main.log"));
        QCOMPARE(lines.size(), kThreads * kLines);
        const QRegularExpression whole(kLinePattern + QStringLiteral("\\[INFO   \\] t(\\d) n(\\d+) #{200}$"));
        int next[kThreads] = {};
        for (const QString &line : lines) {
            const QRegularExpressionMatch m = whole.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line.left(80)));
            const int t = m.captured(1).toInt();
            // Each thread's lines appear in the order it wrote them.
            QCOMPARE(m.captured(2).toInt(), next[t]);
            ++next[t];
        }
    }
};

QTEST_MAIN(LogFileTest)
#include "logfile_test.moc"
