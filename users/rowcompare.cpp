#include "users/rowcompare.h"

#include <QAbstractItemModel>

bool RowCompare::goesBefore(const QString &newText, const QModelIndex &existing) const
{
    return goesBefore(newText, existing.data(m_role).toString(), existing.model()->hasChildren(existing));
}
