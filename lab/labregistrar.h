#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class LabServer;
struct nua_s;
struct nua_handle_s;
struct sip_s;

// The registrar of the directory's domain: answers REGISTER with an MD5 digest challenge
// (realm = the domain, password = the user's "password" param), keeps one binding per user
// with its expiry, and fires the same events and list_users contact as the simulated
// registrations. Wrong password and unknown user both get "403 Forbidden", as the real server
// answers. Owned by LabSipStack; expiry is checked on a short timer.
class LabRegistrar final : public QObject
{
    Q_OBJECT
public:
    struct Binding
    {
        QString contact; // "sip:1002@127.0.0.1:5074" (URI parameters kept)
        QString callId;
        QString transport; // "UDP", "TCP"
        QString networkIp;
        QString networkPort;
        QString userAgent;
        qint64 expiresAtMs = 0; // on m_clock
    };

    explicit LabRegistrar(LabServer *server, QObject *parent = nullptr);

    // Answers one REGISTER request through nua (the handle is the request's own).
    void handle(nua_s *nua, nua_handle_s *handle, const sip_s *sip);

    // A user registered over SIP whose binding is still the directory's contact.
    bool isRegistered(const QString &id) const;
    Binding binding(const QString &id) const { return m_bindings.value(id); }

private:
    void challenge(nua_s *nua, nua_handle_s *handle);
    // Empty when the digest proves the password; else the refusal status (401 new challenge, 403).
    int verify(const sip_s *sip, QString *user);
    void bind(const QString &id, const Binding &binding, int expires);
    void unbind(const QString &id);
    void sweep();

    LabServer *m_server;
    QHash<QString, Binding> m_bindings;
    QSet<QString> m_nonces;
    QElapsedTimer m_clock;
    QTimer m_sweep;
};
