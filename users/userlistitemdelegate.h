#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

// Paints the rows of the user tree: group rows with their expand indicator and
// user counters, user rows with their state icon, the dispatcher's own row bold.
// Owned by UserListView; GUI thread.
class UserListItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit UserListItemDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Geometry shared with the view's mouse handling.
    static constexpr int ChildIndent = 13;
    static constexpr int IconOffset = 13;
    static constexpr int IconWidth = 24;
    static constexpr int TextOffset = 44;
    static constexpr int RightMargin = 13;

private:
    QIcon m_branchClosed;
    QIcon m_branchOpen;
};
