// The lab's database as the console uses it: a dispatcher's account reads the event-socket
// password and the recordings with the console's own queries, other accounts are refused,
// and a conference recorded in the lab arrives as a CDR row.

#include "tests/lab/labclient.h"
#include "tests/support/labenv.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTest>
#include <QXmlStreamReader>

#include <mysql.h>

namespace {

// A blocking client connection with the console's connect parameters.
class Db
{
public:
    ~Db()
    {
        if (m_handle)
            mysql_close(m_handle);
    }
    bool connect(const LabEnv &env, const QString &user, const QString &password)
    {
        m_handle = mysql_init(nullptr);
        if (!mysql_real_connect(m_handle, "127.0.0.1", user.toUtf8().constData(),
                                password.toUtf8().constData(), "dispatcher", env.port("LAB_DB_PORT"), nullptr,
                                0)) {
            m_error = QString::fromUtf8(mysql_error(m_handle));
            m_errno = mysql_errno(m_handle);
            return false;
        }
        mysql_set_character_set(m_handle, "utf8mb4");
        return true;
    }
    QList<QStringList> query(const QString &sql)
    {
        QList<QStringList> rows;
        m_error.clear();
        if (mysql_query(m_handle, sql.toUtf8().constData()) != 0) {
            m_error = QString::fromUtf8(mysql_error(m_handle));
            m_errno = mysql_errno(m_handle);
            return rows;
        }
        MYSQL_RES *result = mysql_store_result(m_handle);
        if (!result)
            return rows;
        const unsigned columns = mysql_num_fields(result);
        while (MYSQL_ROW row = mysql_fetch_row(result)) {
            QStringList values;
            for (unsigned i = 0; i < columns; ++i)
                values.append(row[i] ? QString::fromUtf8(row[i]) : QStringLiteral("NULL"));
            rows.append(values);
        }
        mysql_free_result(result);
        return rows;
    }
    QString error() const { return m_error; }
    unsigned errorNumber() const { return m_errno; }

private:
    MYSQL *m_handle = nullptr;
    QString m_error;
    unsigned m_errno = 0;
};

// The console's list queries, filled the way the recordings page fills them.
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

struct Cdr
{
    QString name;
    QStringList callers;
    QString recordPath;
    qint64 recordStart = 0;
    bool parsed = false;
};

// cdr / conference / members / member, as the recordings page walks it.
Cdr parseCdr(const QString &xml)
{
    Cdr cdr;
    QXmlStreamReader r(xml);
    QString memberType;
    if (!r.readNextStartElement() || r.name() != QLatin1String("cdr") || !r.readNextStartElement() ||
        r.name() != QLatin1String("conference"))
        return cdr;
    while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("name")) {
            cdr.name = r.readElementText();
        } else if (r.name() == QLatin1String("members")) {
            while (r.readNextStartElement()) {
                memberType = r.attributes().value("type").toString();
                while (r.readNextStartElement()) {
                    if (r.name() == QLatin1String("record_path")) {
                        cdr.recordPath = r.readElementText();
                    } else if (r.name() == QLatin1String("join_time") && memberType == "recording_node" &&
                               r.attributes().value("type") == QLatin1String("UNIX-epoch")) {
                        cdr.recordStart = r.readElementText().toLongLong();
                    } else if (r.name() == QLatin1String("caller_profile")) {
                        while (r.readNextStartElement()) {
                            if (r.name() == QLatin1String("caller_id_number"))
                                cdr.callers.append(r.readElementText());
                            else
                                r.skipCurrentElement();
                        }
                    } else {
                        r.skipCurrentElement();
                    }
                }
            }
        } else {
            r.skipCurrentElement();
        }
    }
    cdr.parsed = !r.hasError();
    return cdr;
}

bool isWav(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = f.read(44);
    return header.size() == 44 && header.startsWith("RIFF") && header.mid(8, 4) == "WAVE" && f.size() > 44;
}

// One command on the lab's control port; the status line, and the data of a data reply.
QString control(quint16 port, const QString &line)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(3000))
        return QStringLiteral("-ERR cannot reach the control port");
    s.write(line.toUtf8() + '\n');
    QByteArray in;
    while (!in.contains('\n') && s.waitForReadyRead(10000))
        in += s.readAll();
    return QString::fromUtf8(in.left(in.indexOf('\n')));
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
    mysql_library_init(0, nullptr, nullptr);
}

void E2eDatabaseTest::dispatcherReadsPasswordAndSampleRecordings()
{
    Db db;
    QVERIFY2(db.connect(m_env, m_env.value("LAB_DISPATCHER_USER"), m_env.value("LAB_DISPATCHER_PASSWORD")),
             qPrintable(db.error()));
    QCOMPARE(db.query("SELECT value FROM options WHERE name='event-socket-pwd'"),
             QList<QStringList>({{m_env.value("LAB_ESL_PASSWORD")}}));
    // The capabilities the console probes at connect: the start-record column and the table.
    QCOMPARE(db.query("SELECT COLUMN_TYPE FROM INFORMATION_SCHEMA.COLUMNS WHERE table_schema=DATABASE() AND "
                      "table_name='cdr' AND COLUMN_NAME='startrecord'")
                 .size(),
             1);
    QCOMPARE(db.query("SHOW TABLES like 'recordings'").size(), 1);

    // Everything of the last 30 days through the union query, in start order.
    const qint64 to = QDateTime::currentSecsSinceEpoch();
    const qint64 from = to - 30 * 86400;
    const QString all = QString(kUnionQuery).arg(from).arg(to).arg(100000).arg("startrecord").arg(0);
    const QList<QStringList> rows = db.query(all);
    QVERIFY2(db.error().isEmpty(), qPrintable(db.error()));
    QVERIFY2(rows.size() >= 300, qPrintable(QString::number(rows.size())));
    QMap<QDate, int> perDay;
    int conferences = 0, direct = 0, cyrillic = 0;
    qint64 previous = 0;
    for (const QStringList &row : rows) {
        QCOMPARE(row.size(), 5);
        const qint64 start = row[2].toLongLong();
        QVERIFY(start >= previous);
        previous = start;
        ++perDay[QDateTime::fromSecsSinceEpoch(start).date()];
        (row[0] == "1" ? conferences : direct)++;
        if (std::any_of(row[4].begin(), row[4].end(),
                        [](QChar c) { return c.script() == QChar::Script_Cyrillic; }))
            ++cyrillic;
    }
    QVERIFY(conferences >= 200 && direct >= 50);
    QVERIFY2(*std::max_element(perDay.begin(), perDay.end()) > 20, "no day with more than 20 recordings");
    QVERIFY(cyrillic > 0);

    // A page is 21 rows; the next page starts where the 21st row was.
    const QString page = QString(kConferenceQuery).arg(from).arg(to).arg(21).arg("startrecord");
    const QList<QStringList> first = db.query(page.arg(0));
    const QList<QStringList> second = db.query(page.arg(20));
    QCOMPARE(first.size(), 21);
    QCOMPARE(second.first(), first.last());

    // The details of conference recordings: 2 to 12 participants and a file the lab plays.
    for (const QStringList &row : first.mid(0, 10)) {
        const QList<QStringList> detail = db.query("SELECT id,xml FROM cdr WHERE id=" + row[1]);
        QCOMPARE(detail.size(), 1);
        const Cdr cdr = parseCdr(detail[0][1]);
        QVERIFY2(cdr.parsed, qPrintable(detail[0][1].left(300)));
        QCOMPARE(cdr.name, row[4]);
        QVERIFY2(cdr.callers.size() >= 2 && cdr.callers.size() <= 12, qPrintable(cdr.callers.join(',')));
        QCOMPARE(cdr.recordStart, row[2].toLongLong());
        QVERIFY2(isWav(cdr.recordPath), qPrintable(cdr.recordPath));
    }
    const QList<QStringList> directRows = db.query(
        "SELECT id,UNIX_TIMESTAMP(starttime),UNIX_TIMESTAMP(endtime),filename FROM recordings LIMIT 5");
    QCOMPARE(directRows.size(), 5);
    for (const QStringList &row : directRows) {
        QVERIFY(row[1].toLongLong() < row[2].toLongLong());
        QVERIFY2(isWav(row[3]), qPrintable(row[3]));
    }

    // The account only reads.
    db.query("UPDATE options SET value='x' WHERE name='event-socket-pwd'");
    QCOMPARE(db.errorNumber(), 1142u); // command denied
}

void E2eDatabaseTest::onlyDispatchersAndTechniciansMayLogIn()
{
    Db technician;
    QVERIFY2(
        technician.connect(m_env, m_env.value("LAB_TECHNICIAN_USER"), m_env.value("LAB_TECHNICIAN_PASSWORD")),
        qPrintable(technician.error()));
    QCOMPARE(technician.query("SELECT COUNT(*) FROM options WHERE name='event-socket-pwd'"),
             QList<QStringList>({{"1"}}));

    Db subscriber;
    QVERIFY(!subscriber.connect(m_env, m_env.value("LAB_SUBSCRIBER_USER"),
                                m_env.value("LAB_SUBSCRIBER_PASSWORD")));
    QCOMPARE(subscriber.errorNumber(), 1045u); // access denied
    Db wrongPassword;
    QVERIFY(!wrongPassword.connect(m_env, m_env.value("LAB_DISPATCHER_USER"), "wrong"));
    QCOMPARE(wrongPassword.errorNumber(), 1045u);
}

void E2eDatabaseTest::recordedConferenceArrivesAsCdr()
{
    // A user the world leaves unregistered, so that the running lab's other users stay as they are.
    const quint16 port = m_env.port("LAB_CONTROL_PORT");
    const QString name = QStringLiteral("Проверка-%1").arg(QDateTime::currentMSecsSinceEpoch() % 100000);
    QCOMPARE(control(port, "register 3004").left(3), QString("+OK"));
    QCOMPARE(control(port, "behaviour 3004 answer 0").left(3), QString("+OK"));
    QCOMPARE(
        control(port, "api originate user/3004@" + m_env.value("LAB_DOMAIN") + " " + name + " XML conference")
            .left(3),
        QString("+OK"));
    QTest::qWait(1100);
    QCOMPARE(control(port, "api conference " + name + " kick all").left(3), QString("+OK"));
    control(port, "unregister 3004");

    Db db;
    QVERIFY2(db.connect(m_env, m_env.value("LAB_DISPATCHER_USER"), m_env.value("LAB_DISPATCHER_PASSWORD")),
             qPrintable(db.error()));
    QList<QStringList> rows;
    const QString query =
        "SELECT id,xml,UNIX_TIMESTAMP(startrecord),has_record FROM cdr WHERE conference='" + name + "'";
    QTRY_VERIFY_WITH_TIMEOUT(!(rows = db.query(query)).isEmpty(), 5000);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][3], QString("1"));
    const Cdr cdr = parseCdr(rows[0][1]);
    QVERIFY(cdr.parsed);
    QCOMPARE(cdr.name, name);
    QCOMPARE(cdr.callers, QStringList({"3004"}));
    QCOMPARE(cdr.recordStart, rows[0][2].toLongLong());
    QVERIFY2(isWav(cdr.recordPath), qPrintable(cdr.recordPath));
}

QTEST_GUILESS_MAIN(E2eDatabaseTest)
#include "e2edatabase_test.moc"
