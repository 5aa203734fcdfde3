#pragma once

#include "lab/labsdp.h"

#include <QObject>
#include <QString>

class LabMixer;
class LabRtpSession;
struct nua_s;
struct nua_handle_s;
struct sip_s;

// One call the lab places to a SIP-registered user: the INVITE with our G.711 offer to the
// registered contact, the answer (provisional, 200 with automatic ACK, failure with the
// server's cause), CANCEL while it rings, BYE from either side, re-INVITEs answered with our
// session unchanged, and the RTP session once answered. Owned by LabSipStack, which routes
// the SIP events of its handle here.
class LabSipCall final : public QObject
{
    Q_OBJECT
public:
    enum class State { Calling, Answered, Cancelled, Ended };

    // The hang-up cause the real server gives for a failure status of the callee.
    static QString causeForStatus(int status);
    // The Q.850 code of a cause name, for the Reason header of our BYE.
    static int q850(const QString &cause);

    LabSipCall(nua_s *nua, nua_handle_s *handle, LabMixer *mixer, const QString &uuid,
               const QHostAddress &mediaAddress, LabSdp::Secure secure, QObject *parent = nullptr);
    ~LabSipCall() override;

    // Sends the INVITE to the contact (the request URI).
    bool start(const QString &contact);
    void cancel();
    void hangup(const QString &cause);

    // One event of our handle; callState is the call state an nua_i_state event reports.
    void handleEvent(int event, int status, const char *phrase, const sip_s *sip, int callState);

    QString uuid() const { return m_uuid; }
    State state() const { return m_state; }
    nua_handle_s *handle() const { return m_handle; }
    LabRtpSession *media() const { return m_media; }

signals:
    // Empty cause: answered with usable media; otherwise why the call failed.
    void outcome(const QString &cause);
    void remoteHangup();
    // SIP is done with this call; the handle may go.
    void finished();

private:
    void answered(const sip_s *sip);
    void reinvite(const sip_s *sip);
    void startMedia(const LabSdp::Answer &answer);

    nua_s *m_nua;
    nua_handle_s *m_handle;
    LabMixer *m_mixer;
    QString m_uuid;
    LabRtpSession *m_media;
    LabSdp m_sdp;
    State m_state = State::Calling;
};
