#include "app/mysqlconnection.h"
#include "tests/support/testmariadb.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

namespace {

QStringList logLines;
QMutex logLock;

void collectLog(QtMsgType, const QMessageLogContext &, const QString &text)
{
    QMutexLocker locker(&logLock);
    logLines.append(text);
}

struct Answer
{
    QList<QStringList> rows;
    QString error;
    int context;
};

// Receives answers the way the models do: a slot called by name, later, on its own thread.
class Receiver : public QObject
{
    Q_OBJECT

public:
    QList<Answer> answers;

public slots:
    void result(QList<QStringList> rows, QString error, int context)
    {
        answers.append({rows, error, context});
    }
};

const char kSchema[] = R"(
CREATE DATABASE dispatcher CHARACTER SET utf8mb4;
CREATE USER 'operator'@'%' IDENTIFIED BY 'Op3rat0r';
GRANT ALL ON dispatcher.* TO 'operator'@'%';
CREATE TABLE dispatcher.options (name VARCHAR(64) PRIMARY KEY, value VARCHAR(255));
INSERT INTO dispatcher.options VALUES ('event-socket-pwd', 'ClueCon'), ('comment', NULL);
)";

} // namespace

class MySQLConnectionTest : public QObject
{
    Q_OBJECT

    TestMariaDb m_db;
    QTemporaryDir m_dir;

    // Connects and waits for the outcome; the error text, empty on success.
    QString connectAs(MySQLConnection &c, const QString &user, const QString &password, int port = -1)
    {
        QSignalSpy ok(&c, &MySQLConnection::connected);
        QSignalSpy failed(&c, &MySQLConnection::connectionError);
        c.connectToDatabase(m_db.host(), user, password, port < 0 ? m_db.port() : port);
        if (!QTest::qWaitFor([&] { return ok.count() + failed.count() > 0; }, 20000))
            return QStringLiteral("no answer");
        return failed.isEmpty() ? QString() : failed.first().first().toString();
    }

    // Runs queries back to back and waits for all their answers.
    QList<Answer> run(MySQLConnection &c, const QStringList &queries)
    {
        Receiver receiver;
        for (int i = 0; i < queries.size(); ++i)
            c.execQuery(queries.at(i), &receiver, QStringLiteral("result"), 100 + i);
        if (!QTest::qWaitFor([&] { return receiver.answers.size() == queries.size(); }, 20000))
            qWarning("answers missing");
        return receiver.answers;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QElapsedTimer started;
        started.start();
        QVERIFY2(m_db.start(), qPrintable(m_db.error()));
        qInfo("private MariaDB ready in %lld ms", started.elapsed());
        QVERIFY2(m_db.exec(QString::fromLatin1(kSchema)), qPrintable(m_db.error()));
    }

    void queriesBeforeAndAfterFailedConnectsAnswerErrors()
    {
        MySQLConnection c;
        // Never connected: an error answer, no crash on the missing handle.
        QList<Answer> a = run(c, {"SELECT 1"});
        QCOMPARE(a.size(), 1);
        QCOMPARE(a[0].error,
                 QString("Ошибка выполнения запроса SQL \"SELECT 1\": нет соединения с базой данных"));
        QVERIFY(a[0].rows.isEmpty());

        QCOMPARE(connectAs(c, "operator", "wrong"),
                 QString("Ошибка соединения с базой данных: Access denied for user 'operator'@'127.0.0.1' "
                         "(using password: YES)"));
        QVERIFY(connectAs(c, "operator", "Op3rat0r").isEmpty());
        QCOMPARE(run(c, {"SELECT 1"})[0].rows, QList<QStringList>{{"1"}});

        // A later failed connect drops the working connection instead of keeping it.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const int deadPort = closed.serverPort();
        closed.close();
        const QString refused = connectAs(c, "operator", "Op3rat0r", deadPort);
        QVERIFY2(
            refused.startsWith("Ошибка соединения с базой данных: Can't connect to server on '127.0.0.1'"),
            qPrintable(refused));
        QVERIFY(run(c, {"SELECT 1"})[0].error.endsWith("нет соединения с базой данных"));
    }

    void capabilityFlagsFollowTheSchemaAtEveryConnect()
    {
        MySQLConnection c;
        struct Step
        {
            const char *sql;
            bool startRecord;
            bool recordings;
        } steps[] = {
            {"SELECT 1", false, false},
            {"CREATE TABLE dispatcher.cdr (id INT, starttime DATETIME)", false, false},
            {"ALTER TABLE dispatcher.cdr ADD COLUMN startrecord DATETIME", true, false},
            {"CREATE TABLE dispatcher.recordings (id INT)", true, true},
            // Another database's cdr does not count.
            {"DROP TABLE dispatcher.cdr; CREATE DATABASE other; CREATE TABLE other.cdr (startrecord INT)",
             false, true},
            {"DROP TABLE dispatcher.recordings", false, false},
        };
        for (const Step &step : steps) {
            QVERIFY2(m_db.exec(QString::fromLatin1(step.sql)), qPrintable(m_db.error()));
            QVERIFY(connectAs(c, "operator", "Op3rat0r").isEmpty());
            QCOMPARE(c.hasStartRecordColumn(), step.startRecord);
            QCOMPARE(c.hasRecordingsTable(), step.recordings);
        }
    }

    void queriesAnswerInOrderWithRowsNullsAndErrors()
    {
        MySQLConnection c;
        QVERIFY(connectAs(c, "operator", "Op3rat0r").isEmpty());
        QElapsedTimer queued;
        queued.start();
        const QList<Answer> a =
            run(c, {"SELECT SLEEP(0.3), 'медленный'", "INSERT INTO options VALUES ('диспетчер', 'Иванов')",
                    "SELECT name, value FROM options ORDER BY name", "SELECT nope FROM options"});
        QCOMPARE(a.size(), 4);
        for (int i = 0; i < a.size(); ++i)
            QCOMPARE(a[i].context, 100 + i);
        QCOMPARE(a[0].rows, (QList<QStringList>{{"0", "медленный"}}));
        QCOMPARE(a[1].rows, QList<QStringList>());
        QCOMPARE(a[1].error, QString());
        QCOMPARE(a[2].rows,
                 (QList<QStringList>{
                     {"comment", "NULL"}, {"event-socket-pwd", "ClueCon"}, {"диспетчер", "Иванов"}}));
        QCOMPARE(a[2].error, QString());
        // The server's wording after the column name differs between versions.
        QVERIFY2(a[3].error.startsWith(
                     "Ошибка выполнения запроса SQL \"SELECT nope FROM options\": Unknown column "
                     "'nope' in "),
                 qPrintable(a[3].error));
        QVERIFY(a[3].rows.isEmpty());

        // A receiver that goes before its answer arrives is skipped, not called.
        auto *gone = new Receiver;
        c.execQuery("SELECT SLEEP(0.2)", gone, "result", 1);
        delete gone;
        QCOMPARE(run(c, {"SELECT 2"})[0].rows, QList<QStringList>{{"2"}});
    }

    void slowQueriesDoNotBlockTheCaller()
    {
        MySQLConnection c;
        QElapsedTimer timer;
        timer.start();
        c.connectToDatabase(m_db.host(), "operator", "Op3rat0r", m_db.port());
        Receiver receiver;
        c.execQuery("SELECT SLEEP(1)", &receiver, "result", 0);
        QVERIFY(timer.elapsed() < 500);
        QTRY_COMPARE_WITH_TIMEOUT(receiver.answers.size(), 1, 20000);
        QCOMPARE(receiver.answers[0].error, QString());
    }

    void droppedConnectionIsReopenedOnTheNextQuery()
    {
        MySQLConnection c;
        QVERIFY(connectAs(c, "operator", "Op3rat0r").isEmpty());
        QCOMPARE(run(c, {"SELECT value FROM options WHERE name = 'event-socket-pwd'"})[0].rows,
                 QList<QStringList>{{"ClueCon"}});
        QVERIFY2(m_db.restart(), qPrintable(m_db.error()));
        const Answer after = run(c, {"SELECT value FROM options WHERE name = 'event-socket-pwd'"})[0];
        QCOMPARE(after.error, QString());
        QCOMPARE(after.rows, QList<QStringList>{{"ClueCon"}});
    }

    void passwordsStayOutOfTheLog()
    {
        MySQLConnection c;
        logLines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectLog);
        QVERIFY(connectAs(c, "operator", "Op3rat0r").isEmpty());
        run(c, {"SELECT value FROM options WHERE name = 'event-socket-pwd'",
                "UPDATE options SET value = 'N3wS3cret' WHERE name = 'event-socket-pwd'",
                "SET PASSWORD FOR 'operator'@'%' = PASSWORD('Op3rat0r')"});
        qInstallMessageHandler(previous);
        const QString all = logLines.join('\n');
        QVERIFY2(!all.contains("Op3rat0r") && !all.contains("N3wS3cret"), qPrintable(all));
        // Queries without a secret are logged as they are.
        QVERIFY2(
            logLines.contains(
                "MySQLConnection::exec(): \"SELECT value FROM options WHERE name = 'event-socket-pwd'\""),
            qPrintable(all));
        QVERIFY(logLines.contains("connected to MySQL database"));
    }
};

QTEST_GUILESS_MAIN(MySQLConnectionTest)
#include "mysqlconnection_test.moc"
