// The lab's database as the console uses it: a dispatcher's account reads the event-socket
// password and the sample recordings with the console's own queries, other accounts are
// refused, and a conference the lab records arrives as a CDR row.

#include "tests/support/labcdr.h"
#include "tests/support/labenv.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <mysql.h>

namespace {

// A blocking connection with the console's connect parameters; rows as the console gets them.
struct Db
{
    MYSQL *handle = mysql_init(nullptr);
    unsigned error = 0;
    ~Db() { mysql_close(handle); }

    bool connect(const LabEnv &env, const QString &user, const QString &password)
    {
        const bool ok =
            mysql_real_connect(handle, "127.0.0.1", user.toUtf8().constData(), password.toUtf8().constData(),
                               "dispatcher", env.port("LAB_DB_PORT"), nullptr, 0) != nullptr;
        error = mysql_errno(handle);
        return ok && mysql_set_character_set(handle, "utf8mb4") == 0;
    }
    QList<QStringList> query(const QString &sql)
    {
        QList<QStringList> rows;
        error = mysql_query(handle, sql.toUtf8().constData()) == 0 ? 0 : mysql_errno(handle);
        MYSQL_RES *result = error ? nullptr : mysql_store_result(handle);
        while (MYSQL_ROW row = result ? mysql_fetch_row(result) : nullptr) {
            rows.append(QStringList());
            for (unsigned i = 0; i < mysql_num_fields(result); ++i)
                rows.last().append(row[i] ? QString::fromUtf8(row[i]) : QStringLiteral("NULL"));
        }
        if (result)
            mysql_free_result(result);
        return rows;
    }
    QString message() const { return QString::fromUtf8(mysql_error(handle)); }
};

// The console's list queries as the recordings page fills them (start column "startrecord").
const char *const kUnionQuery = "(SELECT 1 AS type, id, UNIX_TIMESTAMP(%4) AS start, "
                                "UNIX_TIMESTAMP(endtime), conference AS text FROM cdr "
                                "WHERE UNIX_TIMESTAMP(endtime) >= %1 AND UNIX_TIMESTAMP(%4) <= %2 AND "
                                "has_record=1) UNION (SELECT 0 AS type, "
                                "id, UNIX_TIMESTAMP(starttime) AS start, UNIX_TIMESTAMP(endtime), "
                                "CONCAT(caller, ' - ', callee) AS text FROM "
                                "recordings WHERE UNIX_TIMESTAMP(endtime) >= %1 AND "
                                "UNIX_TIMESTAMP(starttime) <= %2) ORDER BY start LIMIT %3 "
                                "OFFSET %5";
const char *const kConferenceQuery =
    "SELECT 1, id, UNIX_TIMESTAMP(%4), UNIX_TIMESTAMP(endtime), conference FROM cdr WHERE "
    "UNIX_TIMESTAMP(endtime) "
    ">= %1 AND UNIX_TIMESTAMP(%4) <= %2 AND has_record=1 ORDER BY %4 LIMIT %3 OFFSET %5";

bool isWav(const QString &path)
{
    QFile f(path);
    const QByteArray header = f.open(QIODevice::ReadOnly) ? f.read(44) : QByteArray();
    return header.startsWith("RIFF") && header.mid(8, 4) == "WAVE" && f.size() > 44;
}

// One command on the lab's control port; its status line.
QByteArray control(quint16 port, const QString &line)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    s.write(line.toUtf8() + '\n');
    while (s.waitForReadyRead(10000) && !s.canReadLine()) {
    }
    return s.readLine().trimmed();
}

} // namespace

class E2eDatabaseTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void dispatcherReadsPasswordAndSampleRecordings();
    void onlyDispatchersAndTechniciansMayLogIn();
    void recordedConferenceArrivesAsCdr();

private:
    LabEnv m_env;
};

void E2eDatabaseTest::initTestCase()
{
    QString error;
    QVERIFY2(m_env.load(&error), qPrintable(error));
}

void E2eDatabaseTest::dispatcherReadsPasswordAndSampleRecordings()
{
    Db db;
    QVERIFY2(db.connect(m_env, m_env.value("LAB_DISPATCHER_USER"), m_env.value("LAB_DISPATCHER_PASSWORD")),
             qPrintable(db.message()));
    QCOMPARE(db.query("SELECT value FROM options WHERE name='event-socket-pwd'"),
             QList<QStringList>({{m_env.value("LAB_ESL_PASSWORD")}}));
    // What the console probes at connect: the start-record column and the recordings table.
    QCOMPARE(db.query("SELECT COLUMN_TYPE FROM INFORMATION_SCHEMA.COLUMNS WHERE table_schema=DATABASE() AND "
                      "table_name='cdr' AND COLUMN_NAME='startrecord'")
                 .size(),
             1);
    QCOMPARE(db.query("SHOW TABLES like 'recordings'").size(), 1);

    // The last 30 days through the union query: both kinds, in start order, a busy day.
    const qint64 to = QDateTime::currentSecsSinceEpoch(), from = to - 30 * 86400;
    const QList<QStringList> rows =
        db.query(QString(kUnionQuery).arg(from).arg(to).arg(100000).arg("startrecord").arg(0));
    QVERIFY2(rows.size() >= 300, qPrintable(db.message()));
    QMap<QDate, int> perDay;
    int conferences = 0, cyrillic = 0;
    for (int i = 0; i < rows.size(); ++i) {
        QVERIFY(i == 0 || rows[i][2].toLongLong() >= rows[i - 1][2].toLongLong());
        ++perDay[QDateTime::fromSecsSinceEpoch(rows[i][2].toLongLong()).date()];
        conferences += rows[i][0] == "1";
        cyrillic += rows[i][4].contains(QRegularExpression("[А-яЁё]"));
    }
    QVERIFY(conferences >= 200 && rows.size() - conferences >= 50 && cyrillic > 0);
    QVERIFY2(*std::max_element(perDay.begin(), perDay.end()) > 20, "no day with more than 20 recordings");

    // Pages of 21 rows: the next page starts with the 21st row of the one before.
    const QString page = QString(kConferenceQuery).arg(from).arg(to).arg(21).arg("startrecord");
    const QList<QStringList> first = db.query(page.arg(0));
    QCOMPARE(first.size(), 21);
    QCOMPARE(db.query(page.arg(20)).first(), first.last());

    // Details: 2 to 12 participants and a WAV file the lab plays.
    for (const QStringList &row : first.mid(0, 10)) {
        const QList<QStringList> detail = db.query("SELECT id,xml FROM cdr WHERE id=" + row[1]);
        const LabCdr cdr = LabCdr::parse(detail.value(0).value(1));
        QVERIFY2(cdr.ok && cdr.name == row[4], qPrintable(detail.value(0).value(1).left(300)));
        QVERIFY(cdr.callers.size() >= 2 && cdr.callers.size() <= 12);
        QCOMPARE(cdr.recording.join, row[2].toLongLong());
        QVERIFY2(isWav(cdr.recording.number), qPrintable(cdr.recording.number));
    }
    for (const QStringList &row : db.query(
             "SELECT id,UNIX_TIMESTAMP(starttime),UNIX_TIMESTAMP(endtime),filename FROM recordings LIMIT 5"))
        QVERIFY2(row[1].toLongLong() < row[2].toLongLong() && isWav(row[3]), qPrintable(row.join(' ')));

    // The account only reads.
    db.query("UPDATE options SET value='x' WHERE name='event-socket-pwd'");
    QCOMPARE(db.error, 1142u); // command denied
}

void E2eDatabaseTest::onlyDispatchersAndTechniciansMayLogIn()
{
    Db technician, subscriber, wrongPassword;
    QVERIFY2(
        technician.connect(m_env, m_env.value("LAB_TECHNICIAN_USER"), m_env.value("LAB_TECHNICIAN_PASSWORD")),
        qPrintable(technician.message()));
    QCOMPARE(technician.query("SELECT COUNT(*) FROM options").size(), 1);
    QVERIFY(!subscriber.connect(m_env, m_env.value("LAB_SUBSCRIBER_USER"),
                                m_env.value("LAB_SUBSCRIBER_PASSWORD")));
    QCOMPARE(subscriber.error, 1045u); // access denied
    QVERIFY(!wrongPassword.connect(m_env, m_env.value("LAB_DISPATCHER_USER"), "wrong"));
    QCOMPARE(wrongPassword.error, 1045u);
}

void E2eDatabaseTest::recordedConferenceArrivesAsCdr()
{
    // A user the world leaves unregistered, so the users other tests watch stay as they are.
    // The name's backslash and Cyrillic letters travel through the SQL text.
    const quint16 port = m_env.port("LAB_CONTROL_PORT");
    const QString name = QStringLiteral("Проверка\\%1").arg(QDateTime::currentMSecsSinceEpoch() % 100000);
    QCOMPARE(control(port, "register 3004").left(3), "+OK");
    QCOMPARE(control(port, "behaviour 3004 answer 0").left(3), "+OK");
    QCOMPARE(
        control(port, "api originate user/3004@" + m_env.value("LAB_DOMAIN") + " " + name + " XML conference")
            .left(3),
        "+OK");
    QTest::qWait(1100);
    QCOMPARE(control(port, "api conference " + name + " kick all").left(3), "+OK");
    control(port, "unregister 3004");

    Db db;
    QVERIFY(db.connect(m_env, m_env.value("LAB_DISPATCHER_USER"), m_env.value("LAB_DISPATCHER_PASSWORD")));
    QList<QStringList> rows;
    QString escaped = name;
    escaped.replace("\\", "\\\\");
    const QString query =
        "SELECT xml,UNIX_TIMESTAMP(startrecord),has_record FROM cdr WHERE conference='" + escaped + "'";
    QTRY_VERIFY_WITH_TIMEOUT(!(rows = db.query(query)).isEmpty(), 5000);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][2], "1");
    const LabCdr cdr = LabCdr::parse(rows[0][0]);
    QVERIFY(cdr.ok);
    QCOMPARE(cdr.name, name);
    QCOMPARE(cdr.numbers(), QStringList({"3004"}));
    QCOMPARE(cdr.recording.join, rows[0][1].toLongLong());
    QVERIFY2(isWav(cdr.recording.number), qPrintable(cdr.recording.number));
}

QTEST_GUILESS_MAIN(E2eDatabaseTest)
#include "e2edatabase_test.moc"
