#include "users/groupcompare.h"

bool GroupCompare::goesBefore(const QString &newText, const QString &existingText,
                              bool existingHasChildren) const
{
    // Only group rows take part: the own row (a leaf) stays first, and the
    // no-group entry is never placed before an existing group.
    if (!existingHasChildren)
        return false;
    if (newText == QStringLiteral("Без группы"))
        return false;
    return newText < existingText;
}
