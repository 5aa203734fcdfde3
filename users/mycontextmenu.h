#pragma once

#include <QMenu>
#include <QPersistentModelIndex>

// Context menu of a user row that remembers the row it was last opened for.
// Owned by UserListView; GUI thread.
class MyContextMenu : public QMenu
{
    Q_OBJECT

public:
    explicit MyContextMenu(QWidget *parent = nullptr);

    void setIndex(const QModelIndex &index) { m_index = index; }
    QModelIndex index() const { return m_index; }

private:
    QPersistentModelIndex m_index;
};
