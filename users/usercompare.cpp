#include "users/usercompare.h"

#include <QAbstractItemModel>

bool UserCompare::goesBefore(const QString &newText, const QModelIndex &existing) const
{
    if (existing.model()->hasChildren(existing))
        return true;
    return newText < existingText(existing);
}
