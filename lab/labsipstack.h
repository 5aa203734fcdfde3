#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class LabMixer;
class LabRegistrar;
class LabServer;
class LabSipCall;
struct LabChannel;
struct nua_s;
struct nua_handle_s;
struct su_root_s;
struct sip_s;

// The lab's SIP side on sofia-sip's user-agent library (nua): one agent listening on UDP and
// TCP, the registrar for the directory's domain, and the calls placed to registered users
// with their media. sofia-sip runs its own reactor (su_root); a 5 ms Qt timer steps it without
// blocking, so all SIP callbacks arrive on the lab's thread between Qt events. Owned by
// LabServer when a SIP address is configured.
class LabSipStack final : public QObject
{
    Q_OBJECT
public:
    // Empty cause: the callee answered. Returns false when the leg no longer wants the call
    // (it was cancelled or lost the race); the call is then hung up.
    using Outcome = std::function<bool(const QString &cause)>;

    explicit LabSipStack(LabServer *server);
    ~LabSipStack() override;

    // "127.0.0.1:5060" (port 0: any port free for UDP and TCP); false with a reason when the
    // address is bad or taken.
    bool start(const QString &listen, QString *error);
    QHostAddress address() const { return m_address; }
    quint16 port() const { return m_port; }

    LabRegistrar &registrar() { return *m_registrar; }
    bool isRegistered(const QString &userId) const;

    // Places the call of a ringing user leg to the user's registered contact.
    bool call(const LabChannel &channel, const QString &userId, const QString &secureMedia,
              const Outcome &outcome);
    // Ends the SIP side of a leg: CANCEL while it rings, BYE once answered; nothing when unknown.
    void hangup(const QString &uuid, const QString &cause);
    LabSipCall *findCall(const QString &uuid) const { return m_calls.value(uuid); }

private:
    struct Callback; // sofia-sip's callback, typed with its headers
    void dispatch(int event, int status, const char *phrase, nua_handle_s *nh, void *hmagic, const sip_s *sip,
                  void *tags);
    void release(LabSipCall *call);

    LabServer *m_server;
    su_root_s *m_root = nullptr;
    nua_s *m_nua = nullptr;
    QTimer m_pump;
    QHostAddress m_address;
    quint16 m_port = 0;
    bool m_shutDown = false;
    bool m_closing = false;
    LabRegistrar *m_registrar;
    LabMixer *m_mixer;
    QHash<QString, LabSipCall *> m_calls; // channel UUID -> call
};
