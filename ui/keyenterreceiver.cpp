#include "ui/keyenterreceiver.h"

#include <QKeyEvent>

KeyEnterReceiver::KeyEnterReceiver(QObject *parent)
    : QObject(parent)
{}

bool KeyEnterReceiver::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    if (key->key() == Qt::Key_F && (mods == Qt::AltModifier || mods == Qt::MetaModifier)) {
        emit ShowHideAllUsersGroup();
        return true;
    }
    // Other modifiers may ride along: Ctrl+Shift+Q quits as well.
    if (key->key() == Qt::Key_Q && (mods & Qt::ControlModifier)) {
        emit quit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
