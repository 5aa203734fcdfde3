#pragma once

#include <QModelIndex>
#include <QString>

// Ordering rule for sorted insertion into the user tree: decides whether a new
// entry's text goes before an existing row. Stateless apart from the compared role.
class RowCompare
{
public:
    explicit RowCompare(int role = Qt::DisplayRole) : m_role(role) {}
    virtual ~RowCompare() = default;

    // True when the new entry's text belongs before the existing row.
    bool goesBefore(const QString &newText, const QModelIndex &existing) const;
    bool operator()(const QString &newText, const QModelIndex &existing) const
    {
        return goesBefore(newText, existing);
    }
    // The same decision from what the rule looks at: the existing row's text in role() and
    // whether it has rows below it. The model calls this directly with the values it holds.
    virtual bool goesBefore(const QString &newText, const QString &existingText,
                            bool existingHasChildren) const = 0;

    int role() const { return m_role; }
    // True when the rows a rule has placed stay in an order along which goesBefore() is false up
    // to some row and true from there on, so that the place of a new one can be found by
    // bisection instead of a walk.
    virtual bool allowsBisection() const { return false; }

private:
    int m_role;
};
