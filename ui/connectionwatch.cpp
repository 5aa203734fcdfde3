#include "ui/connectionwatch.h"

ConnectionWatch::ConnectionWatch(QObject *parent)
    : QObject(parent)
{}

void ConnectionWatch::setDeadState(bool dead)
{
    if (dead == m_dead)
        return;
    m_dead = dead;
    emit deadChanged(dead);
}

void ConnectionWatch::setStale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    emit staleChanged(stale);
}

void ConnectionWatch::setDead(bool dead)
{
    if (dead) {
        m_timedOut = true;
        setStale(true);
        setDeadState(true);
        return;
    }
    if (!m_timedOut)
        return;
    m_timedOut = false;
    // After a reconnect the client reports "alive" just before connected(),
    // which reloads the models itself; a second reload here would double it.
    if (m_reconnecting)
        return;
    setDeadState(false);
    m_reloading = true;
    emit reloadRequested();
}

void ConnectionWatch::linkLost(const QString &reason)
{
    // An orderly logout is not a failure.
    if (reason == QLatin1String("disconnect requested"))
        return;
    m_reconnecting = true;
    m_reloading = false;
    setStale(true);
    setDeadState(true);
}

void ConnectionWatch::linkUp()
{
    // connected() also follows a RELOADXML or a SIP module reload on a healthy
    // link; the reload it starts then refreshes data that is not stale.
    if (m_reconnecting || m_stale) {
        m_reconnecting = false;
        m_timedOut = false;
        m_reloading = true;
    }
    setDeadState(false);
}

void ConnectionWatch::conferencesReloaded()
{
    if (!m_reloading)
        return;
    m_reloading = false;
    if (!m_dead)
        setStale(false);
}
