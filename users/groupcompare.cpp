#include "users/groupcompare.h"

#include <QAbstractItemModel>

bool GroupCompare::goesBefore(const QString &newText, const QModelIndex &existing) const
{
    // Only group rows take part: the own row (a leaf) stays first, and the
    // no-group entry is never placed before an existing group.
    if (!existing.model()->hasChildren(existing))
        return false;
    if (newText == QStringLiteral("Без группы"))
        return false;
    return newText < existingText(existing);
}
