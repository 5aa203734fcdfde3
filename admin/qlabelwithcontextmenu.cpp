#include "admin/qlabelwithcontextmenu.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>

QLabelWithContextMenu::QLabelWithContextMenu(const QString &text, QWidget *parent) : QLineEdit(text, parent)
{
    setReadOnly(true);
    setFrame(false);
}

void QLabelWithContextMenu::CopyToClipboard()
{
    QApplication::clipboard()->setText(text());
}

void QLabelWithContextMenu::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("Скопировать в буфер обмена"), this,
                   &QLabelWithContextMenu::CopyToClipboard);
    menu.exec(event->globalPos());
}
