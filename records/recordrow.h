#pragma once

#include <QDateTime>
#include <QString>

// One row of the recordings list: a conference recording (table cdr), a direct
// recording between two users (table recordings), or the row that loads more.
struct RecordRow
{
    QString text;
    QDateTime start;
    QDateTime end;
    bool isConference = false;
    quint64 id = 0;
    bool isMore = false;
};
