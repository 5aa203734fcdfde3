#include "users/rowcompare.h"

QString RowCompare::existingText(const QModelIndex &existing) const
{
    return existing.data(m_role).toString();
}
