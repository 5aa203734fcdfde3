#pragma once

#include <QString>
#include <QVector>

// The SQL of one page of the recordings list: conferences (cdr rows with a recording), direct
// recordings, or both, whose time overlaps the window [from, to], in the order of start and id.
//
// A recording overlaps the window when it ends at or after its start and starts by its end. The
// end bound alone lets the server use no index in start order, so where a table has the column
// "record_seconds" (the seconds from the start the list shows to the end, indexed), the longest
// recording turns it into a start bound: the rows that can overlap start no earlier than the
// window's start less that, and the server walks the start index from there, in order, up to the
// page.
class RecordListQuery
{
public:
    RecordListQuery(qint64 from, qint64 to, int pageSize);

    // startColumn: the cdr column that holds the start ("startrecord" or "starttime");
    // bounded: the table has "record_seconds".
    void addConferences(const QString &startColumn, bool bounded);
    void addDirect(bool bounded);

    // Rows: type (1 conference, 0 direct), id, start, end (UNIX seconds), the text to show;
    // at most pageSize + 1 of them, the last telling that more follow.
    QString page(int offset) const;

private:
    struct Table
    {
        QString select;
        QString name;
        QString start;
        QString recorded;
        bool bounded;
    };
    QString branch(const Table &table, int limit) const;

    qint64 m_from;
    qint64 m_to;
    int m_pageSize;
    QVector<Table> m_tables;
};
