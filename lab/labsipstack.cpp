#include "lab/labsipstack.h"

#include "lab/labcalls.h"
#include "lab/labchannel.h"
#include "lab/labconferences.h"
#include "lab/labdirectory.h"
#include "lab/labmixer.h"
#include "lab/labregistrar.h"
#include "lab/labrtpsession.h"
#include "lab/labserver.h"
#include "lab/labsipcall.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QUdpSocket>

#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su_tag.h>
#include <sofia-sip/su_wait.h>

namespace {

constexpr int PumpMs = 5;
constexpr int ShutdownMs = 2000;
const char Allow[] = "INVITE, ACK, BYE, CANCEL, OPTIONS, INFO, UPDATE, REGISTER";

// The caller name goes between quotes in From: quotes, backslashes and control characters would
// end the header early, so they are dropped.
QString displayName(const QString &name)
{
    QString out;
    for (const QChar ch : name) {
        if (ch != QLatin1Char('"') && ch != QLatin1Char('\\') && ch.unicode() >= 0x20)
            out += ch;
    }
    return out.isEmpty() ? QStringLiteral("FreeSWITCH") : out;
}

// The caller number is the user part of the From URI: only characters a URI user needs no
// escaping for pass; anything else falls back to the server's default number.
QString uriUser(const QString &number)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._~+*#!$&'()=,;?/-]+$"));
    if (plain.match(number).hasMatch())
        return number;
    if (!number.isEmpty())
        qWarning().noquote() << "tesmar-lab: caller number not usable in SIP, sending the default:" << number;
    return QStringLiteral("0000000000");
}

} // namespace

struct LabSipStack::Callback
{
    static void event(nua_event_t event, int status, char const *phrase, nua_t *, nua_magic_t *magic,
                      nua_handle_t *nh, nua_hmagic_t *hmagic, sip_t const *sip, tagi_t tags[])
    {
        static_cast<LabSipStack *>(magic)->dispatch(event, status, phrase, nh, hmagic, sip, tags);
    }
};

LabSipStack::LabSipStack(LabServer *server)
    : QObject(server)
    , m_server(server)
    , m_registrar(new LabRegistrar(server, this))
    , m_mixer(new LabMixer(&server->conferences(), this))
{
    m_pump.setInterval(PumpMs);
    connect(&m_pump, &QTimer::timeout, this, [this] { su_root_step(m_root, 0); });
}

LabSipStack::~LabSipStack()
{
    m_closing = true;
    m_pump.stop();
    if (m_nua) {
        // Let the agent end its calls and transactions before it goes.
        nua_shutdown(m_nua);
        QElapsedTimer clock;
        clock.start();
        while (!m_shutDown && clock.elapsed() < ShutdownMs)
            su_root_step(m_root, 20);
        nua_destroy(m_nua);
    }
    // The handles died with the agent; the calls must not use them any more.
    qDeleteAll(findChildren<LabSipCall *>(QString(), Qt::FindDirectChildrenOnly));
    m_calls.clear();
    if (m_root) {
        su_root_destroy(m_root);
        su_deinit();
    }
}

bool LabSipStack::start(const QString &listen, QString *error)
{
    const int colon = listen.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    m_address = QHostAddress(listen.left(colon));
    const uint port = listen.mid(colon + 1).toUInt(&ok);
    if (colon < 0 || m_address.isNull() || m_address.protocol() != QAbstractSocket::IPv4Protocol || !ok ||
        port > 65535) {
        *error = QStringLiteral("--sip-listen wants an IPv4 addr:port, not ") + listen;
        return false;
    }
    m_port = quint16(port);
    // Port 0: a port free for both UDP and TCP, as the agent listens on both.
    for (int attempt = 0; attempt < 20 && m_port == 0; ++attempt) {
        QUdpSocket udp;
        QTcpServer tcp;
        if (udp.bind(m_address, 0) && tcp.listen(m_address, udp.localPort()))
            m_port = udp.localPort();
    }
    su_init();
    m_root = su_root_create(nullptr);
    const QByteArray url = QStringLiteral("sip:%1:%2").arg(m_address.toString()).arg(m_port).toUtf8();
    m_nua =
        m_root ? nua_create(m_root, &Callback::event, this, NUTAG_URL(url.constData()), NUTAG_MEDIA_ENABLE(0),
                            NUTAG_APPL_METHOD("REGISTER"), NUTAG_ALLOW(Allow), NUTAG_AUTOANSWER(0),
                            NUTAG_M_USERNAME("mod_sofia"), SIPTAG_USER_AGENT_STR("tesmar-lab"),
                            SIPTAG_SUPPORTED_STR("timer, path, replaces"), TAG_END())
               : nullptr;
    if (!m_nua) {
        *error = QStringLiteral("cannot listen for SIP on ") + listen;
        return false;
    }
    m_pump.start();
    return true;
}

bool LabSipStack::isRegistered(const QString &userId) const
{
    return m_registrar->isRegistered(userId);
}

bool LabSipStack::call(const LabChannel &channel, const QString &userId, const QString &secureMedia,
                       const Outcome &outcome)
{
    const QString domain = m_server->directory().domain();
    const QString contact = m_registrar->binding(userId).contact;
    // As the real server: To names the registered contact, From the caller id of the originate.
    const QByteArray to = QStringLiteral("<%1>").arg(contact).toUtf8();
    const QByteArray from =
        QStringLiteral("\"%1\" <sip:%2@%3>")
            .arg(displayName(channel.origCallerIdName), uriUser(channel.origCallerIdNumber), domain)
            .toUtf8();
    nua_handle_t *nh = nua_handle(m_nua, nullptr, SIPTAG_TO_STR(to.constData()),
                                  SIPTAG_FROM_STR(from.constData()), TAG_END());
    if (!nh)
        return false;
    auto *call =
        new LabSipCall(m_nua, nh, m_mixer, channel.uuid, m_address, LabSdp::secureMode(secureMedia), this);
    nua_handle_bind(nh, call);
    m_calls.insert(channel.uuid, call);
    const QString uuid = channel.uuid;
    connect(call, &LabSipCall::outcome, this, [this, call, outcome](const QString &cause) {
        if (m_closing)
            return;
        if (!outcome(cause) && cause.isEmpty())
            call->hangup(QStringLiteral("ORIGINATOR_CANCEL"));
    });
    connect(call, &LabSipCall::remoteHangup, this, [this, uuid] {
        if (!m_closing)
            m_server->calls().kill(uuid);
    });
    connect(call, &LabSipCall::finished, this, [this, call] { release(call); });
    connect(call->media(), &LabRtpSession::talkingChanged, this, [this, uuid](bool talking) {
        if (!m_closing)
            m_server->conferences().setChannelTalking(uuid, talking);
    });
    if (!call->start(contact)) {
        release(call);
        return false;
    }
    return true;
}

void LabSipStack::hangup(const QString &uuid, const QString &cause)
{
    if (LabSipCall *call = m_calls.value(uuid))
        call->hangup(cause);
}

void LabSipStack::release(LabSipCall *call)
{
    if (m_calls.value(call->uuid()) == call)
        m_calls.remove(call->uuid());
    if (!m_closing) {
        nua_handle_bind(call->handle(), nullptr);
        nua_handle_destroy(call->handle());
    }
    call->deleteLater();
}

void LabSipStack::dispatch(int event, int status, const char *phrase, nua_handle_s *nh, void *hmagic,
                           const sip_s *sip, void *tags)
{
    if (event == nua_r_shutdown) {
        m_shutDown = status >= 200;
        return;
    }
    if (hmagic) {
        int callState = nua_callstate_init;
        if (event == nua_i_state)
            tl_gets(static_cast<tagi_t *>(tags), NUTAG_CALLSTATE_REF(callState), TAG_END());
        static_cast<LabSipCall *>(hmagic)->handleEvent(event, status, phrase, sip, callState);
        return;
    }
    switch (event) {
    case nua_i_register:
        if (m_closing)
            nua_respond(nh, 503, "Service Unavailable", NUTAG_WITH_THIS(m_nua), TAG_END());
        else
            m_registrar->handle(m_nua, nh, sip);
        nua_handle_destroy(nh);
        return;
    case nua_i_invite:
        // Nobody calls into the lab over SIP: the console only receives calls.
        nua_respond(nh, 403, "Forbidden", NUTAG_WITH_THIS(m_nua), TAG_END());
        nua_handle_destroy(nh);
        return;
    case nua_i_message:
    case nua_i_info:
    case nua_i_subscribe:
    case nua_i_publish:
    case nua_i_notify:
    case nua_i_refer:
        nua_respond(nh, 501, "Not Implemented", NUTAG_WITH_THIS(m_nua), TAG_END());
        nua_handle_destroy(nh);
        return;
    case nua_i_options:
        nua_handle_destroy(nh); // answered by the agent itself
        return;
    default:
        return;
    }
}
