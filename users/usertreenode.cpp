#include "users/usertreenode.h"

UserTreeNode::UserTreeNode(const QString &key, UserTreeNode *parent) : key(key), parent(parent)
{}

UserTreeNode::~UserTreeNode()
{
    qDeleteAll(children);
}

int UserTreeNode::row() const
{
    return parent ? parent->children.indexOf(const_cast<UserTreeNode *>(this)) : 0;
}

void UserTreeNode::insertChildren(int row, int count)
{
    for (int i = 0; i < count; ++i)
        children.insert(row + i, new UserTreeNode(QString(), this));
}

void UserTreeNode::removeChildren(int row, int count)
{
    for (int i = 0; i < count; ++i)
        delete children.takeAt(row);
}
