#pragma once

#include "users/rowcompare.h"

// Places a new group among the top-level rows: after the own row, by plain
// code-unit order, with the no-group entry appended after the groups present.
class GroupCompare : public RowCompare
{
public:
    using RowCompare::goesBefore;
    using RowCompare::RowCompare;
    bool goesBefore(const QString &newText, const QString &existingText,
                    bool existingHasChildren) const override;
};
