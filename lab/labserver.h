#pragma once

#include "lab/labconfig.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class EslSession;
class LabCalls;
class LabConferences;
class LabDirectory;
class LabEvent;
class LabKeyValueStore;
class LabSipStack;
class QTcpServer;

// The lab's stand-in for the telephony server: the event-socket listener with its sessions,
// the api command table, event fan-out to subscribers, and the fault switches the control
// interface flips. Owns the directory, conferences, calls and key-value store. Created by
// main() or a test; everything runs on the thread that owns it.
class LabServer final : public QObject
{
    Q_OBJECT
public:
    using Reply = std::function<void(const QString &)>;

    enum class Malformed { BadLength, BadJson, Garbage, Truncated };

    explicit LabServer(const LabConfig &config, QObject *parent = nullptr);
    ~LabServer() override;

    bool start(QString *error = nullptr);
    quint16 port() const { return m_port; }
    const LabConfig &config() const { return m_config; }

    // Sends the event to every session subscribed to it.
    void publish(const LabEvent &event);
    // Runs one api command line ("list_users", "conference room1 kick 2", ...); the reply may come
    // later (originate), always through done.
    void runApi(const QString &line, const Reply &done);
    // Milliseconds for a simulated duration in seconds, after the time scale.
    int scaledMs(double seconds) const;

    bool allowed(const QHostAddress &address) const;
    void setAllowList(const QStringList &entries) { m_config.allow = entries; }

    // Fault switches.
    bool silent() const { return m_silent; }
    void setSilent(bool on) { m_silent = on; }
    int replyDelayMs() const { return m_replyDelayMs; }
    void setReplyDelayMs(int ms) { m_replyDelayMs = ms; }
    void setRefuse(bool on);
    void setRudeToNew(bool on) { m_rudeToNew = on; }
    void closeAll();
    void rejectAll();
    void sendMalformed(Malformed kind);
    int sessionCount() const { return m_sessions.size(); }

    // Fires MODULE_LOAD for mod_sofia, as reloading the SIP module does.
    void moduleLoad();
    // Re-reads the directory folder and fires RELOADXML.
    QString reloadXml();

    LabDirectory &directory() { return *m_directory; }
    LabConferences &conferences() { return *m_conferences; }
    LabCalls &calls() { return *m_calls; }
    LabKeyValueStore &store() { return *m_store; }
    // The SIP side; null when the lab runs without one.
    LabSipStack *sip() { return m_sip; }

private:
    void onNewConnection();
    bool listen(QString *error);

    LabConfig m_config;
    quint16 m_port = 0;
    QTcpServer *m_tcp;
    QList<EslSession *> m_sessions;
    std::unique_ptr<LabDirectory> m_directory;
    std::unique_ptr<LabKeyValueStore> m_store;
    LabConferences *m_conferences;
    LabCalls *m_calls;
    LabSipStack *m_sip = nullptr;
    bool m_silent = false;
    int m_replyDelayMs = 0;
    bool m_refuse = false;
    bool m_rudeToNew = false;
};
