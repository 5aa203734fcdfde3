#pragma once

#include "users/rowcompare.h"

// Places a new user row under a group by display name, plain code-unit order;
// equal names keep their arrival order.
class UserCompare : public RowCompare
{
public:
    using RowCompare::goesBefore;
    using RowCompare::RowCompare;
    bool goesBefore(const QString &newText, const QString &existingText,
                    bool existingHasChildren) const override;
    // The rows under a group are all users, ordered by plain string comparison, a strict weak
    // order; a new row goes after its equals, as the walk would put it.
    bool allowsBisection() const override { return true; }
};
