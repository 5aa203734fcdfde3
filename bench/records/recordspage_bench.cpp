// Time from a filter (or a click on the row that loads more) to its page painted on the
// recordings list, with 100,000 conference recordings and 100,000 direct recordings in a
// private MariaDB built from the lab's schema. Runs once with the schema's indexes and
// once without them, so the indexes' worth shows.
//
//   recordspage_bench [rows] [repetitions]
#include "app/mysqlconnection.h"
#include "records/recordlistmodel.h"
#include "records/recordlistview.h"
#include "tests/support/testmariadb.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

struct Window
{
    const char *name;
    int kind;
    qint64 from;
    qint64 to;
    int extraPages; // pages loaded by clicking the row that loads more before the timed one
};

bool waitDone(RecordListModel &model)
{
    QSignalSpy done(&model, &RecordListModel::recordFilterDone);
    return done.wait(30000);
}

// Milliseconds from the request to the page painted.
double timePage(RecordListModel &model, RecordListView &view, const Window &w)
{
    model.ApplyRecordFilter(w.kind, QDateTime::fromSecsSinceEpoch(w.from),
                            QDateTime::fromSecsSinceEpoch(w.to));
    waitDone(model);
    for (int i = 0; i < w.extraPages; ++i) {
        model.fetchNextPage();
        waitDone(model);
    }
    QElapsedTimer clock;
    clock.start();
    if (w.extraPages == 0)
        model.ApplyRecordFilter(w.kind, QDateTime::fromSecsSinceEpoch(w.from),
                                QDateTime::fromSecsSinceEpoch(w.to));
    else
        model.fetchNextPage();
    waitDone(model);
    view.scrollToBottom();
    view.viewport()->repaint();
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

void quiet(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        fprintf(stderr, "%s\n", qPrintable(text));
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet);
    QApplication app(argc, argv);
    const int rows = argc > 1 ? atoi(argv[1]) : 100000;
    const int repetitions = argc > 2 ? atoi(argv[2]) : 15;

    TestMariaDb db;
    QFile schema(QStringLiteral(TESMAR_SCHEMA));
    if (!db.start() || !schema.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "recordspage_bench: %s\n", qPrintable(db.error()));
        return 1;
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    // One recording every 26 s reaches back about 30 days; every tenth conference was not recorded.
    const QString fill =
        QStringLiteral("USE dispatcher;"
                       "INSERT INTO cdr (starttime, startrecord, endtime, conference, has_record, xml) "
                       "SELECT FROM_UNIXTIME(%1 - seq * 26), FROM_UNIXTIME(%1 - seq * 26 + 2), "
                       "FROM_UNIXTIME(%1 - seq * 26 + 300), CONCAT('Конференция ', seq % 50), seq % 10 <> 0, "
                       "CONCAT('<cdr><conference><members/></conference></cdr>') FROM seq_1_to_%2;"
                       "INSERT INTO recordings (starttime, endtime, caller, callee, filename) "
                       "SELECT FROM_UNIXTIME(%1 - seq * 26 - 7), FROM_UNIXTIME(%1 - seq * 26 + 120), "
                       "1000 + seq % 40, 2000 + seq % 40, CONCAT('/var/lib/freeswitch/recordings/', seq, "
                       "'.wav') FROM seq_1_to_%2;"
                       "ANALYZE TABLE cdr, recordings;")
            .arg(now)
            .arg(rows);
    if (!db.exec(QString::fromUtf8(schema.readAll())) ||
        !db.exec(QStringLiteral("CREATE USER 'operator'@'%' IDENTIFIED BY 'Op3rat0r';"
                                "GRANT ALL ON dispatcher.* TO 'operator'@'%';")) ||
        !db.exec(fill)) {
        fprintf(stderr, "recordspage_bench: %s\n", qPrintable(db.error()));
        return 1;
    }

    MySQLConnection connection;
    RecordListModel model(&connection);
    RecordListView view;
    view.setModel(&model);
    view.resize(700, 900);
    view.show();
    int errors = 0;
    QObject::connect(&model, &RecordListModel::message, [&errors](const QString &) { ++errors; });

    if (qEnvironmentVariableIsSet("RECORDS_BENCH_SQL"))
        db.exec(qEnvironmentVariable("RECORDS_BENCH_SQL"));
    const Window windows[] = {
        {"all, one day a week ago", RecordListModel::AllKinds, now - 7 * 86400, now - 6 * 86400, 0},
        // Halfway through the table: neither the start nor the end bounds the older rows' part well.
        {"all, a day 15 days ago", RecordListModel::AllKinds, now - 15 * 86400, now - 14 * 86400, 0},
        {"conferences, a day a week ago", RecordListModel::ConferenceKind, now - 7 * 86400, now - 6 * 86400,
         0},
        {"direct, a day a week ago", RecordListModel::DirectKind, now - 7 * 86400, now - 6 * 86400, 0},
        {"conferences, the month", RecordListModel::ConferenceKind, now - 30 * 86400, now, 0},
        {"direct, the month", RecordListModel::DirectKind, now - 30 * 86400, now, 0},
        {"all, the month", RecordListModel::AllKinds, now - 30 * 86400, now, 0},
        {"all, the month, page 7", RecordListModel::AllKinds, now - 30 * 86400, now, 5},
        {"all, the last hour", RecordListModel::AllKinds, now - 3600, now, 0},
        {"conferences, the last hour", RecordListModel::ConferenceKind, now - 3600, now, 0},
        {"direct, the last hour", RecordListModel::DirectKind, now - 3600, now, 0},
    };
    // The all-kinds query as a plain union, for comparison with what the list sends.
    const QString unionAsIs = QStringLiteral(
        "(SELECT 1 AS type, id, UNIX_TIMESTAMP(startrecord) AS start, UNIX_TIMESTAMP(endtime), "
        "conference AS text FROM cdr WHERE UNIX_TIMESTAMP(endtime) >= %1 AND "
        "UNIX_TIMESTAMP(startrecord) <= %2 AND has_record=1) UNION (SELECT 0 AS type, id, "
        "UNIX_TIMESTAMP(starttime) AS start, UNIX_TIMESTAMP(endtime), CONCAT(caller, ' - ', callee) "
        "AS text FROM recordings WHERE UNIX_TIMESTAMP(endtime) >= %1 AND UNIX_TIMESTAMP(starttime) "
        "<= %2) ORDER BY start LIMIT 21 OFFSET 0");
    for (bool indexed : {true, false}) {
        if (!indexed && qEnvironmentVariableIsSet("RECORDS_BENCH_INDEXED_ONLY"))
            break;
        if (!indexed && !db.exec(QStringLiteral(
                            "USE dispatcher; ALTER TABLE cdr DROP INDEX cdr_by_startrecord_id, DROP INDEX "
                            "cdr_by_starttime_id, DROP INDEX cdr_by_record_seconds; ALTER TABLE recordings DROP "
                            "INDEX recordings_by_starttime_id, DROP INDEX recordings_by_record_seconds;"))) {
            fprintf(stderr, "recordspage_bench: %s\n", qPrintable(db.error()));
            return 1;
        }
        QSignalSpy connected(&connection, &MySQLConnection::connected);
        connection.connectToDatabase(db.host(), QStringLiteral("operator"), QStringLiteral("Op3rat0r"),
                                     db.port());
        if (!connected.wait(30000))
            return 1;
        if (indexed) {
            // Inside the server: the plain union gathers every row of both tables in the window
            // before it sorts; the list's own query limits each branch.
            printf("server time of the all-kinds query, ms (mean of 5)\n");
            for (const auto &w : {qMakePair(QStringLiteral("the month"), now - 30 * 86400),
                                  qMakePair(QStringLiteral("a day a week ago"), now - 7 * 86400),
                                  qMakePair(QStringLiteral("the last hour"), now - 3600)}) {
                const qint64 to = w.first == QLatin1String("a day a week ago") ? w.second + 86400 : now;
                model.ApplyRecordFilter(RecordListModel::AllKinds, QDateTime::fromSecsSinceEpoch(w.second),
                                        QDateTime::fromSecsSinceEpoch(to));
                waitDone(model);
                const QString listed = model.pageQuery(0);
                for (const auto &q :
                     {qMakePair(QStringLiteral("plain union"), unionAsIs.arg(w.second).arg(to)),
                      qMakePair(QStringLiteral("as the list sends it"), listed)}) {
                    QString out;
                    db.exec(QStringLiteral("USE dispatcher; SET profiling=1; %1; %1; %1; %1; %1; %1; SELECT "
                                           "ROUND(SUM(DURATION) * 1000 / 5, 1) FROM "
                                           "INFORMATION_SCHEMA.PROFILING WHERE QUERY_ID > 1;")
                                .arg(q.second),
                            &out);
                    printf("  %-22s %-18s %s\n", qPrintable(q.first), qPrintable(w.first),
                           qPrintable(out.trimmed().split(QLatin1Char('\n')).last()));
                }
            }
        }
        printf("%d rows per table, %s; ms from the request to the page painted (median / max of %d)\n", rows,
               indexed ? "the lab schema's indexes" : "no secondary indexes", repetitions);
        for (const Window &w : windows) {
            QVector<double> ms;
            for (int i = 0; i < repetitions; ++i)
                ms << timePage(model, view, w);
            std::sort(ms.begin(), ms.end());
            printf("  %-30s %7.1f / %7.1f  (%d rows shown, %d query errors)\n", w.name, ms.at(ms.size() / 2),
                   ms.last(), model.rowCount(), errors);
            errors = 0;
        }
    }
    return 0;
}
