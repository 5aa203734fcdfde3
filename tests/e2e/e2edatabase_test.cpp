// The lab's database as the console uses it: a dispatcher's account reads the event-socket
// password and the sample recordings with the console's own queries, other accounts are
// refused, and a conference the lab records arrives as a CDR row.

#include "tests/support/labcdr.h"
#include "tests/support/labenv.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
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

bool isWav(const QString &path)
{
    QFile f(path);
    const QByteArray header = f.open(QIODevice::ReadOnly) ? f.read(44) : QByteArray();
    return header.startsWith("RIFF") && header.mid(8, 4) == "WAVE" && f.size() > 44;
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

    // The sample of the last 30 days: both kinds, a busy day, Cyrillic names. The console's own
    // list queries page through it in the recordings end-to-end test.
    const QString since = QString::number(QDateTime::currentSecsSinceEpoch() - 30 * 86400);
    const QList<QStringList> conferences =
        db.query("SELECT id, UNIX_TIMESTAMP(startrecord), conference, xml FROM cdr WHERE has_record=1 AND "
                 "UNIX_TIMESTAMP(endtime) >= " +
                 since + " ORDER BY startrecord"); // oldest first: the sample, not what other tests recorded
    const QList<QStringList> calls = db.query(
        "SELECT UNIX_TIMESTAMP(starttime), UNIX_TIMESTAMP(endtime), filename, CONCAT(caller, callee) "
        "FROM recordings WHERE UNIX_TIMESTAMP(endtime) >= " +
        since);
    QVERIFY2(conferences.size() >= 200 && calls.size() >= 50, qPrintable(db.message()));
    QMap<QDate, int> perDay;
    int cyrillic = 0;
    const auto count = [&](const QString &start, const QString &text) {
        ++perDay[QDateTime::fromSecsSinceEpoch(start.toLongLong()).date()];
        cyrillic += text.contains(QRegularExpression("[А-яЁё]"));
    };
    for (const QStringList &row : conferences)
        count(row[1], row[2]);
    for (const QStringList &row : calls)
        count(row[0], row[3]);
    QVERIFY(cyrillic > 0);
    QVERIFY2(*std::max_element(perDay.begin(), perDay.end()) > 20, "no day with more than 20 recordings");

    // Details: 2 to 12 participants, the recording node starting with the row, a WAV the lab plays.
    for (const QStringList &row : conferences.mid(0, 10)) {
        const LabCdr cdr = LabCdr::parse(row[3]);
        QVERIFY2(cdr.ok && cdr.name == row[2], qPrintable(row[3].left(300)));
        QVERIFY(cdr.callers.size() >= 2 && cdr.callers.size() <= 12);
        QCOMPARE(cdr.recording.join, row[1].toLongLong());
        QVERIFY2(isWav(cdr.recording.number), qPrintable(cdr.recording.number));
    }
    for (const QStringList &row : calls.mid(0, 5))
        QVERIFY2(row[0].toLongLong() < row[1].toLongLong() && isWav(row[2]), qPrintable(row.join(' ')));

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
    const QString name = QStringLiteral("Проверка\\%1").arg(QDateTime::currentMSecsSinceEpoch() % 100000);
    QVERIFY(m_env.control("register 3004").startsWith("+OK"));
    QVERIFY(m_env.control("behaviour 3004 answer 0").startsWith("+OK"));
    QVERIFY(
        m_env.control("api originate user/3004@" + m_env.value("LAB_DOMAIN") + " " + name + " XML conference")
            .startsWith("+OK"));
    QTest::qWait(1100);
    QVERIFY(m_env.control("api conference " + name + " kick all").startsWith("+OK"));
    m_env.control("unregister 3004");

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
