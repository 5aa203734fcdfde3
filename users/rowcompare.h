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
    virtual bool goesBefore(const QString &newText, const QModelIndex &existing) const = 0;
    bool operator()(const QString &newText, const QModelIndex &existing) const
    {
        return goesBefore(newText, existing);
    }

    int role() const { return m_role; }

protected:
    QString existingText(const QModelIndex &existing) const;

private:
    int m_role;
};
