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
};
