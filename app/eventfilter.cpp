#include "app/eventfilter.h"

#include "app/logincycle.h"

#include <QKeyEvent>
#include <QWidget>

EventFilter::EventFilter(QObject *parent)
    : QObject(parent)
{}

bool EventFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (!LoginCycle::mainWindowShown() || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Q || key->modifiers() != Qt::AltModifier)
        return QObject::eventFilter(watched, event);
    LoginCycle::setReloginRequested(true);
    if (m_window)
        m_window->close();
    return true;
}
