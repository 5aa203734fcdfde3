#include "users/usercompare.h"

bool UserCompare::goesBefore(const QString &newText, const QString &existingText,
                             bool existingHasChildren) const
{
    if (existingHasChildren)
        return true;
    return newText < existingText;
}
