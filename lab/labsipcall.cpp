#include "lab/labsipcall.h"

#include "lab/labmixer.h"
#include "lab/labrtpsession.h"

#include <QDebug>
#include <QHash>

#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su_tag.h>

QString LabSipCall::causeForStatus(int status)
{
    switch (status) {
    case 401:
    case 402:
    case 403:
    case 407:
    case 603:
    case 608:
        return QStringLiteral("CALL_REJECTED");
    case 404:
        return QStringLiteral("UNALLOCATED_NUMBER");
    case 485:
    case 604:
        return QStringLiteral("NO_ROUTE_DESTINATION");
    case 408:
    case 504:
        return QStringLiteral("RECOVERY_ON_TIMER_EXPIRE");
    case 410:
        return QStringLiteral("NUMBER_CHANGED");
    case 413:
    case 414:
    case 416:
    case 420:
    case 421:
    case 423:
    case 505:
    case 513:
        return QStringLiteral("INTERWORKING");
    case 480:
        return QStringLiteral("NO_USER_RESPONSE");
    case 400:
    case 481:
    case 500:
    case 503:
        return QStringLiteral("NORMAL_TEMPORARY_FAILURE");
    case 486:
    case 600:
        return QStringLiteral("USER_BUSY");
    case 484:
        return QStringLiteral("INVALID_NUMBER_FORMAT");
    case 488:
    case 606:
        return QStringLiteral("INCOMPATIBLE_DESTINATION");
    case 502:
        return QStringLiteral("NETWORK_OUT_OF_ORDER");
    case 405:
        return QStringLiteral("SERVICE_UNAVAILABLE");
    case 406:
    case 415:
    case 501:
        return QStringLiteral("SERVICE_NOT_IMPLEMENTED");
    case 482:
    case 483:
        return QStringLiteral("EXCHANGE_ROUTING_ERROR");
    case 487:
        return QStringLiteral("ORIGINATOR_CANCEL");
    default:
        return QStringLiteral("NORMAL_UNSPECIFIED");
    }
}

int LabSipCall::q850(const QString &cause)
{
    static const QHash<QString, int> codes = {
        {QStringLiteral("NORMAL_CLEARING"), 16},
        {QStringLiteral("USER_BUSY"), 17},
        {QStringLiteral("NO_USER_RESPONSE"), 18},
        {QStringLiteral("NO_ANSWER"), 19},
        {QStringLiteral("CALL_REJECTED"), 21},
        {QStringLiteral("NORMAL_UNSPECIFIED"), 31},
        {QStringLiteral("INCOMPATIBLE_DESTINATION"), 88},
        {QStringLiteral("ORIGINATOR_CANCEL"), 487},
    };
    return codes.value(cause, 16);
}

LabSipCall::LabSipCall(nua_s *nua, nua_handle_s *handle, LabMixer *mixer, const QString &uuid,
                       const QHostAddress &mediaAddress, LabSdp::Secure secure, QObject *parent)
    : QObject(parent)
    , m_nua(nua)
    , m_handle(handle)
    , m_mixer(mixer)
    , m_uuid(uuid)
    , m_media(new LabRtpSession(mediaAddress, this))
    , m_sdp(mediaAddress, m_media->localPort(), secure)
{}

LabSipCall::~LabSipCall()
{
    m_mixer->remove(m_uuid);
}

bool LabSipCall::start(const QString &contact)
{
    if (!m_media->isBound()) {
        qWarning() << "tesmar-lab: no RTP port for call" << m_uuid;
        return false;
    }
    const QByteArray uri = contact.toUtf8();
    const QByteArray sdp = m_sdp.offer().toUtf8();
    nua_invite(m_handle, NUTAG_URL(uri.constData()), SIPTAG_CONTENT_TYPE_STR("application/sdp"),
               SIPTAG_PAYLOAD_STR(sdp.constData()), TAG_END());
    return true;
}

void LabSipCall::cancel()
{
    if (m_state != State::Calling)
        return;
    m_state = State::Cancelled;
    nua_cancel(m_handle, TAG_END());
}

void LabSipCall::hangup(const QString &cause)
{
    if (m_state == State::Calling) {
        cancel();
        return;
    }
    if (m_state != State::Answered)
        return;
    m_state = State::Ended;
    m_mixer->remove(m_uuid);
    const QByteArray reason =
        QStringLiteral("Q.850;cause=%1;text=\"%2\"").arg(q850(cause)).arg(cause).toUtf8();
    nua_bye(m_handle, SIPTAG_REASON_STR(reason.constData()), TAG_END());
}

void LabSipCall::handleEvent(int event, int status, const char *phrase, const sip_s *sip, int callState)
{
    switch (event) {
    case nua_r_invite:
        if (status < 200)
            return;
        if (status < 300) {
            if (m_state == State::Calling)
                answered(sip);
            else if (m_state == State::Cancelled) {
                // The answer crossed our CANCEL: end the call it set up.
                m_state = State::Answered;
                hangup(QStringLiteral("ORIGINATOR_CANCEL"));
            }
            return;
        }
        if (m_state == State::Calling) {
            m_state = State::Ended;
            qInfo().noquote() << "tesmar-lab: call" << m_uuid << "refused:" << status << phrase;
            emit outcome(causeForStatus(status));
        }
        return;
    case nua_i_invite:
        reinvite(sip);
        return;
    case nua_i_bye:
        if (m_state == State::Answered) {
            m_state = State::Ended;
            m_mixer->remove(m_uuid);
            emit remoteHangup();
        }
        return;
    case nua_i_state: {
        if (callState != nua_callstate_terminated)
            return;
        if (m_state == State::Answered) {
            // The dialog ended without a BYE we saw (transport error, session expiry).
            m_state = State::Ended;
            emit remoteHangup();
        } else if (m_state == State::Calling) {
            m_state = State::Ended;
            emit outcome(causeForStatus(status));
        }
        m_state = State::Ended;
        m_mixer->remove(m_uuid);
        emit finished();
        return;
    }
    default:
        return;
    }
}

void LabSipCall::answered(const sip_s *sip)
{
    const QByteArray body = sip && sip->sip_payload
                                ? QByteArray(sip->sip_payload->pl_data, int(sip->sip_payload->pl_len))
                                : QByteArray();
    const LabSdp::Answer answer = m_sdp.negotiate(body);
    if (!answer.cause.isEmpty()) {
        // The callee answered, but not with media we can use: hang up, as the real server does.
        m_state = State::Answered;
        hangup(answer.cause);
        emit outcome(answer.cause);
        return;
    }
    startMedia(answer);
    m_state = State::Answered;
    emit outcome(QString());
}

void LabSipCall::startMedia(const LabSdp::Answer &answer)
{
    if (!answer.suite.isEmpty() && !m_media->srtp().start(answer.suite, answer.sendKey, answer.receiveKey))
        qWarning() << "tesmar-lab: SRTP could not start for call" << m_uuid;
    m_media->setRemote(answer.address, answer.port, answer.payloadType);
    m_mixer->add(m_uuid, m_media);
}

void LabSipCall::reinvite(const sip_s *sip)
{
    // Hold, resume or a moved address: follow the new address, keep our session as it is.
    if (sip && sip->sip_payload && m_state == State::Answered) {
        const LabSdp::Answer answer =
            m_sdp.negotiate(QByteArray(sip->sip_payload->pl_data, int(sip->sip_payload->pl_len)));
        if (answer.cause.isEmpty())
            m_media->setRemote(answer.address, answer.port, answer.payloadType);
    }
    const QByteArray sdp = m_sdp.offer().toUtf8();
    nua_respond(m_handle, 200, "OK", NUTAG_WITH_THIS(m_nua), SIPTAG_CONTENT_TYPE_STR("application/sdp"),
                SIPTAG_PAYLOAD_STR(sdp.constData()), TAG_END());
}
