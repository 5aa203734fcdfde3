#pragma once

#include <QObject>

// Follows the event-socket link for the main window: says when the link is
// dead (a request timed out or the connection dropped) and when the user and
// conference panes may show stale data, i.e. from the moment the link failed
// until the first complete reload after it is back. A link that recovers on
// the same connection gets one reload of its own; a reconnect reloads through
// the models' usual chain, so each recovery reloads exactly once.
// Widget-free; owned by the main window, GUI thread.
class ConnectionWatch final : public QObject
{
    Q_OBJECT

public:
    explicit ConnectionWatch(QObject *parent = nullptr);

    bool isDead() const { return m_dead; }
    bool isStale() const { return m_stale; }

public slots:
    // ESL2::connectionIsDead(bool)
    void setDead(bool dead);
    // ESL2::disconnected(QString)
    void linkLost(const QString &reason);
    // ESL2::connected()
    void linkUp();
    // ConferenceListModel::conferenceListReloaded(): the last step of a reload.
    void conferencesReloaded();

signals:
    void deadChanged(bool dead);
    void staleChanged(bool stale);
    // The link recovered without reconnecting: the models should reload once.
    void reloadRequested();

private:
    void setDeadState(bool dead);
    void setStale(bool stale);

    bool m_dead = false;
    bool m_stale = false;
    bool m_timedOut = false;
    bool m_reconnecting = false;
    bool m_reloading = false;
};
