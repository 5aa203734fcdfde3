#include "app/mysqlconnection.h"
#include "tests/support/testmariadb.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

namespace {

QStringList logLines;
QMutex logLock;

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

using Rows = QList<QStringList>;
const QString kNoConnection = "нет соединения с базой данных";

} // namespace

class MySQLConnectionTest : public QObject
{
    Q_OBJECT

    TestMariaDb m_db;
    QTemporaryDir m_dir;

    // Connects and waits for the outcome; the error text, empty on success.
    QString connectAs(MySQLConnection &c, const QString &password, int port = 0)
    {
        QSignalSpy ok(&c, &MySQLConnection::connected);
        QSignalSpy failed(&c, &MySQLConnection::connectionError);
        c.connectToDatabase(m_db.host(), "operator", password, port ? port : m_db.port());
        if (!QTest::qWaitFor([&] { return ok.count() + failed.count() > 0; }, 20000))
            return "no answer";
        return failed.isEmpty() ? QString() : failed.first().first().toString();
    }

    // Queues the queries back to back and waits for all their answers (contexts 100, 101, ...).
    QList<Answer> run(MySQLConnection &c, const QStringList &queries)
    {
        Receiver receiver;
        for (int i = 0; i < queries.size(); ++i)
            c.execQuery(queries.at(i), &receiver, "result", 100 + i);
        if (!QTest::qWaitFor([&] { return receiver.answers.size() == queries.size(); }, 20000))
            qWarning("answers missing");
        return receiver.answers;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY2(m_db.start(), qPrintable(m_db.error()));
        QVERIFY2(
            m_db.exec(
                "CREATE DATABASE dispatcher CHARACTER SET utf8mb4;"
                "CREATE USER 'operator'@'%' IDENTIFIED BY 'Op3rat0r';"
                "GRANT ALL ON dispatcher.* TO 'operator'@'%';"
                "CREATE TABLE dispatcher.options (name VARCHAR(64) PRIMARY KEY, value VARCHAR(255));"
                "INSERT INTO dispatcher.options VALUES ('event-socket-pwd', 'ClueCon'), ('comment', NULL);"),
            qPrintable(m_db.error()));
    }

    void connectFailuresLeaveNoUsableConnection()
    {
        MySQLConnection c;
        // Never connected: an error answer, and no crash on the missing handle.
        const Answer before = run(c, {"SELECT 1"}).value(0);
        QCOMPARE(before.error, "Ошибка выполнения запроса SQL \"SELECT 1\": " + kNoConnection);
        QCOMPARE(before.rows, Rows());

        QCOMPARE(connectAs(c, "wrong"), QString("Ошибка соединения с базой данных: Access denied for user "
                                                "'operator'@'127.0.0.1' (using password: YES)"));
        QCOMPARE(connectAs(c, "Op3rat0r"), QString());
        QCOMPARE(run(c, {"SELECT 1"}).value(0).rows, Rows{{"1"}});

        // A later failed connect closes the working connection rather than keeping it.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const int deadPort = closed.serverPort();
        closed.close();
        const QString refused = connectAs(c, "Op3rat0r", deadPort);
        QVERIFY2(
            refused.startsWith("Ошибка соединения с базой данных: Can't connect to server on '127.0.0.1'"),
            qPrintable(refused));
        QVERIFY(run(c, {"SELECT 1"}).value(0).error.endsWith(kNoConnection));
    }

    void capabilityFlagsFollowTheSchemaAtEveryConnect()
    {
        MySQLConnection c;
        const struct
        {
            const char *sql;
            bool startRecord, recordings;
        } steps[] = {
            {"CREATE TABLE dispatcher.cdr (id INT, starttime DATETIME)", false, false},
            {"ALTER TABLE dispatcher.cdr ADD startrecord DATETIME; CREATE TABLE dispatcher.recordings (id "
             "INT)",
             true, true},
            // Another database's cdr does not count, and flags from the last connect do not linger.
            {"DROP TABLE dispatcher.cdr, dispatcher.recordings; CREATE DATABASE other;"
             "CREATE TABLE other.cdr (startrecord INT); CREATE TABLE other.recordings (id INT)",
             false, false},
        };
        for (const auto &step : steps) {
            QVERIFY2(m_db.exec(step.sql), qPrintable(m_db.error()));
            QCOMPARE(connectAs(c, "Op3rat0r"), QString());
            QCOMPARE(c.hasStartRecordColumn(), step.startRecord);
            QCOMPARE(c.hasRecordingsTable(), step.recordings);
        }
    }

    void droppedConnectionIsReopenedOnTheNextQuery()
    {
        MySQLConnection c;
        const QString query = "SELECT value FROM options WHERE name = 'event-socket-pwd'";
        QCOMPARE(connectAs(c, "Op3rat0r"), QString());
        QCOMPARE(run(c, {query}).value(0).rows, Rows{{"ClueCon"}});
        QVERIFY2(m_db.restart(), qPrintable(m_db.error()));
        const Answer after = run(c, {query}).value(0);
        QCOMPARE(after.error, QString());
        QCOMPARE(after.rows, Rows{{"ClueCon"}});
    }

    void queriesAnswerInOrderOffTheCallersThreadAndKeepSecretsOutOfTheLog()
    {
        MySQLConnection c;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
                QMutexLocker locker(&logLock);
                logLines.append(text);
            });
        QCOMPARE(connectAs(c, "Op3rat0r"), QString());
        // A receiver that goes before its answer arrives is skipped, not called; the caller never waits.
        QElapsedTimer timer;
        timer.start();
        auto *gone = new Receiver;
        c.execQuery("SELECT SLEEP(0.5)", gone, "result", 1);
        delete gone;
        QVERIFY(timer.elapsed() < 300);

        const QList<Answer> a =
            run(c, {"INSERT INTO options VALUES ('диспетчер', 'Иванов')",
                    "SELECT name, value FROM options ORDER BY name", "SELECT nope FROM options",
                    "UPDATE options SET value = 'N3wS3cret' WHERE name = 'event-socket-pwd'",
                    "SET PASSWORD FOR 'operator'@'%' = PASSWORD('Op3rat0r')"});
        qInstallMessageHandler(previous);
        QCOMPARE(a.size(), 5);
        for (int i = 0; i < a.size(); ++i)
            QCOMPARE(a[i].context, 100 + i);
        QCOMPARE(a[0].rows, Rows());
        QCOMPARE(a[0].error + a[1].error, QString());
        QCOMPARE(a[1].rows,
                 (Rows{{"comment", "NULL"}, {"event-socket-pwd", "ClueCon"}, {"диспетчер", "Иванов"}}));
        // The server's wording after the column name differs between versions.
        QVERIFY2(a[2].error.startsWith(
                     "Ошибка выполнения запроса SQL \"SELECT nope FROM options\": Unknown column 'nope' in "),
                 qPrintable(a[2].error));
        QCOMPARE(a[2].rows, Rows());

        // Queries without a secret are logged as they are.
        QMutexLocker locker(&logLock);
        const QString all = logLines.join('\n');
        QVERIFY2(!all.contains("Op3rat0r") && !all.contains("N3wS3cret"), qPrintable(all));
        QVERIFY(
            logLines.contains("MySQLConnection::exec(): \"SELECT name, value FROM options ORDER BY name\""));
        QVERIFY(logLines.contains("connected to MySQL database"));
    }
};

QTEST_GUILESS_MAIN(MySQLConnectionTest)
#include "mysqlconnection_test.moc"
