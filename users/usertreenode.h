#pragma once

#include <QList>
#include <QString>

// One node of the user tree: the root, a group row, the dispatcher's own row or a
// user row. Owns its children; used only by UserListModel on the GUI thread.
class UserTreeNode
{
public:
    explicit UserTreeNode(const QString &key = QString(), UserTreeNode *parent = nullptr);
    ~UserTreeNode();

    UserTreeNode(const UserTreeNode &) = delete;
    UserTreeNode &operator=(const UserTreeNode &) = delete;

    // Position in the parent's list; 0 for the root.
    int row() const;

    // Inserts count empty children at row, taking ownership.
    void insertChildren(int row, int count);
    // Deletes count children starting at row, with everything below them.
    void removeChildren(int row, int count);

    QString key;
    // For a user row, the user's display name as it was when the key was set (the model
    // rebuilds all rows whenever names can change); empty for other rows. Sorting and group
    // lookup read it instead of going through data().
    QString userName;
    UserTreeNode *parent = nullptr;
    QList<UserTreeNode *> children;
};
