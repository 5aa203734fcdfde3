#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A conference CDR read the way the recordings page walks it (cdr / conference / members /
// member): the callers with their times and the recording node. Shared by the lab's tests.
struct LabCdr
{
    struct Member
    {
        QString number;
        qint64 join = -1, leave = -1; // -1 unless the element has type "UNIX-epoch"
    };
    QString name;
    QList<Member> callers;
    Member recording; // number is the record_path
    bool ok = false;  // parsed and shaped as expected

    static LabCdr parse(const QString &xml);
    QStringList numbers() const;
};
