#include "records/recordlistquery.h"

#include <QStringList>

namespace {

// FROM_UNIXTIME knows nothing before 1970 or after 2038: a bound outside that excludes nothing.
const qint64 kLastFromUnixTime = 2147483647;

QString moment(qint64 seconds)
{
    return QStringLiteral("FROM_UNIXTIME(%1)").arg(qBound<qint64>(0, seconds, kLastFromUnixTime));
}

} // namespace

RecordListQuery::RecordListQuery(qint64 from, qint64 to, int pageSize)
    : m_from(from), m_to(to), m_pageSize(pageSize)
{}

void RecordListQuery::addConferences(const QString &startColumn, bool bounded)
{
    m_tables.append(
        {QStringLiteral("1 AS type, id, UNIX_TIMESTAMP(%1) AS start, UNIX_TIMESTAMP(endtime) AS end, "
                        "conference AS text")
             .arg(startColumn),
         QStringLiteral("cdr"), startColumn, QStringLiteral("has_record=1"), bounded});
}

void RecordListQuery::addDirect(bool bounded)
{
    m_tables.append(
        {QStringLiteral("0 AS type, id, UNIX_TIMESTAMP(starttime) AS start, UNIX_TIMESTAMP(endtime) AS "
                        "end, CONCAT(caller, ' - ', callee) AS text"),
         QStringLiteral("recordings"), QStringLiteral("starttime"), QString(), bounded});
}

QString RecordListQuery::branch(const Table &table, int limit) const
{
    QStringList where;
    if (!table.recorded.isEmpty())
        where << table.recorded;
    if (m_to > kLastFromUnixTime)
        where << table.start + QStringLiteral(" IS NOT NULL");
    else
        where << table.start + QStringLiteral(" <= ") + moment(m_to);
    if (m_from <= 0) {
        // No left edge: everything that starts by the window's end.
        where << QStringLiteral("endtime IS NOT NULL");
    } else if (table.bounded) {
        const QString longest =
            QStringLiteral("(SELECT MAX(record_seconds) FROM %1%2)")
                .arg(table.name,
                     table.recorded.isEmpty() ? QString() : QStringLiteral(" WHERE ") + table.recorded);
        where << QStringLiteral("%1 >= %2 - INTERVAL %3 SECOND").arg(table.start, moment(m_from), longest);
        // Checked on the rows the start range reads; as an index condition it could lead the
        // server to read every row that ends after the window's start instead.
        where << QStringLiteral("endtime + INTERVAL 0 SECOND >= ") + moment(m_from);
    } else {
        where << QStringLiteral("endtime >= ") + moment(m_from);
    }
    return QStringLiteral("(SELECT %1 FROM %2 WHERE %3 ORDER BY %4, id LIMIT %5)")
        .arg(table.select, table.name, where.join(QStringLiteral(" AND ")), table.start)
        .arg(limit);
}

QString RecordListQuery::page(int offset) const
{
    // Each table hands over no more than the rows that can reach this page, and the order
    // completed by type and id keeps tied rows in one order across pages.
    QStringList parts;
    for (const Table &table : m_tables)
        parts << branch(table, offset + m_pageSize + 1);
    return parts.join(QStringLiteral(" UNION ALL ")) +
           QStringLiteral(" ORDER BY start, type, id LIMIT %1 OFFSET %2").arg(m_pageSize + 1).arg(offset);
}
