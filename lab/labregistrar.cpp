#include "lab/labregistrar.h"

#include "lab/labdirectory.h"
#include "lab/labevent.h"
#include "lab/labserver.h"

#include <QDebug>

#include <sofia-sip/auth_digest.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su_alloc.h>
#include <sofia-sip/url.h>

namespace {

constexpr int DefaultExpires = 3600;
constexpr int SweepMs = 250;
// Nonces handed out and not yet used are forgotten beyond this many.
constexpr int MaxNonces = 1000;

QString text(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

} // namespace

LabRegistrar::LabRegistrar(LabServer *server, QObject *parent) : QObject(parent), m_server(server)
{
    m_clock.start();
    m_sweep.setInterval(SweepMs);
    connect(&m_sweep, &QTimer::timeout, this, &LabRegistrar::sweep);
    m_sweep.start();
}

bool LabRegistrar::isRegistered(const QString &id) const
{
    const auto it = m_bindings.constFind(id);
    return it != m_bindings.constEnd() && m_server->directory().contact(id) == it->contact;
}

void LabRegistrar::challenge(nua_s *nua, nua_handle_s *handle)
{
    if (m_nonces.size() >= MaxNonces)
        m_nonces.clear();
    const QString nonce = LabEvent::newUuid();
    m_nonces.insert(nonce);
    const QByteArray header = QStringLiteral("Digest realm=\"%1\", nonce=\"%2\", algorithm=MD5, qop=\"auth\"")
                                  .arg(m_server->directory().domain(), nonce)
                                  .toUtf8();
    nua_respond(handle, 401, "Unauthorized", NUTAG_WITH_THIS(nua),
                SIPTAG_WWW_AUTHENTICATE_STR(header.constData()), TAG_END());
}

int LabRegistrar::verify(const sip_s *sip, QString *user)
{
    const sip_authorization_t *au = sip->sip_authorization;
    if (!au || !au->au_params)
        return 401;
    su_home_t *home = static_cast<su_home_t *>(su_home_new(sizeof(su_home_t)));
    auth_response_t ar{};
    ar.ar_size = sizeof(ar);
    int status = 403;
    if (auth_digest_response_get(home, &ar, au->au_params) < 0 || !ar.ar_username || !ar.ar_nonce ||
        !ar.ar_response) {
        status = 401;
    } else if (!m_nonces.remove(text(ar.ar_nonce))) {
        // Not a nonce of ours, or used already: challenge afresh.
        status = 401;
    } else {
        *user = text(ar.ar_username);
        const LabUser *u = m_server->directory().user(*user);
        const QByteArray password = u ? u->params.value(QStringLiteral("password")).toUtf8() : QByteArray();
        auth_hexmd5_t ha1, response;
        if (u && !password.isEmpty() && text(ar.ar_realm) == m_server->directory().domain() &&
            auth_digest_a1(&ar, ha1, password.constData()) == 0 &&
            auth_digest_response(&ar, response, ha1, "REGISTER", nullptr, 0) == 0 &&
            qstricmp(response, ar.ar_response) == 0)
            status = 0;
    }
    su_home_unref(home);
    return status;
}

void LabRegistrar::handle(nua_s *nua, nua_handle_s *handle, const sip_s *sip)
{
    QString id;
    const int refusal = verify(sip, &id);
    if (refusal == 401) {
        challenge(nua, handle);
        return;
    }
    if (refusal != 0) {
        qInfo().noquote() << "tesmar-lab: REGISTER refused for" << (id.isEmpty() ? QStringLiteral("?") : id);
        nua_respond(handle, 403, "Forbidden", NUTAG_WITH_THIS(nua), TAG_END());
        return;
    }

    int expires = sip->sip_expires ? int(sip->sip_expires->ex_delta) : DefaultExpires;
    const sip_contact_t *m = sip->sip_contact;
    if (m && m->m_expires)
        expires = QByteArray(m->m_expires).toInt();
    const bool removeAll = m && m->m_url->url_type == url_any;
    su_home_t *home = static_cast<su_home_t *>(su_home_new(sizeof(su_home_t)));
    sip_date_t *date = sip_date_create(home, sip_now());

    if (!m && !removeAll) {
        // A query: report the binding as it is.
        const Binding b = m_bindings.value(id);
        const QByteArray contact = b.contact.isEmpty()
                                       ? QByteArray()
                                       : QStringLiteral("<%1>;expires=%2")
                                             .arg(b.contact)
                                             .arg(qMax<qint64>(0, (b.expiresAtMs - m_clock.elapsed()) / 1000))
                                             .toUtf8();
        nua_respond(handle, 200, "OK", NUTAG_WITH_THIS(nua), SIPTAG_DATE(date),
                    TAG_IF(!contact.isEmpty(), SIPTAG_CONTACT_STR(contact.constData())), TAG_END());
    } else if (removeAll || expires <= 0) {
        nua_respond(handle, 200, "OK", NUTAG_WITH_THIS(nua), SIPTAG_DATE(date), TAG_END());
        unbind(id);
    } else {
        char *uri = url_as_string(home, m->m_url);
        Binding b;
        b.contact = text(uri);
        b.callId = sip->sip_call_id ? text(sip->sip_call_id->i_id) : QString();
        const sip_via_t *via = sip->sip_via;
        b.transport =
            via ? text(via->v_protocol).section(QLatin1Char('/'), 2).toUpper() : QStringLiteral("UDP");
        b.networkIp = via ? text(via->v_received ? via->v_received : via->v_host) : QString();
        b.networkPort = via && via->v_rport && *via->v_rport ? text(via->v_rport)
                        : via && via->v_port                 ? text(via->v_port)
                                                             : QStringLiteral("5060");
        b.userAgent = sip->sip_user_agent ? text(sip->sip_user_agent->g_string) : QString();
        const QByteArray contact = QStringLiteral("<%1>;expires=%2").arg(b.contact).arg(expires).toUtf8();
        nua_respond(handle, 200, "OK", NUTAG_WITH_THIS(nua), SIPTAG_CONTACT_STR(contact.constData()),
                    SIPTAG_DATE(date), TAG_END());
        bind(id, b, expires);
    }
    su_home_unref(home);
}

void LabRegistrar::bind(const QString &id, const Binding &binding, int expires)
{
    Binding b = binding;
    b.expiresAtMs = m_clock.elapsed() + qint64(expires) * 1000;
    m_bindings.insert(id, b);
    LabDirectory &dir = m_server->directory();
    dir.setContact(id, b.contact);
    // Every accepted REGISTER, refreshes included, is reported like the first one.
    QVector<LabEvent> events = dir.registerEvents(id, b.contact, expires);
    for (LabEvent &e : events) {
        if (!b.userAgent.isEmpty())
            e.set(QStringLiteral("user-agent"), b.userAgent);
        if (e.subclass() != QLatin1String("sofia::register"))
            continue;
        e.set(QStringLiteral("call-id"), b.callId);
        e.set(QStringLiteral("status"), QStringLiteral("Registered(%1)").arg(b.transport));
        e.set(QStringLiteral("network-ip"), b.networkIp);
        e.set(QStringLiteral("network-port"), b.networkPort);
    }
    for (const LabEvent &e : qAsConst(events))
        m_server->publish(e);
}

void LabRegistrar::unbind(const QString &id)
{
    const auto it = m_bindings.constFind(id);
    if (it == m_bindings.constEnd())
        return;
    const Binding b = it.value();
    m_bindings.erase(it);
    LabDirectory &dir = m_server->directory();
    if (dir.contact(id) == b.contact)
        dir.setContact(id, QString());
    QVector<LabEvent> events = dir.unregisterEvents(id, b.contact);
    for (LabEvent &e : events) {
        if (!b.userAgent.isEmpty())
            e.set(QStringLiteral("user-agent"), b.userAgent);
        if (e.subclass() != QLatin1String("sofia::unregister"))
            continue;
        e.set(QStringLiteral("call-id"), b.callId);
        e.set(QStringLiteral("network-ip"), b.networkIp);
        e.set(QStringLiteral("network-port"), b.networkPort);
    }
    for (const LabEvent &e : qAsConst(events))
        m_server->publish(e);
}

void LabRegistrar::sweep()
{
    const qint64 now = m_clock.elapsed();
    for (auto it = m_bindings.begin(); it != m_bindings.end();) {
        if (it->expiresAtMs > now) {
            ++it;
            continue;
        }
        const QString id = it.key();
        const Binding b = it.value();
        it = m_bindings.erase(it);
        LabDirectory &dir = m_server->directory();
        if (dir.contact(id) == b.contact)
            dir.setContact(id, QString());
        qInfo().noquote() << "tesmar-lab: registration of" << id << "expired";
        LabEvent e = dir.expireEvent(id, b.contact);
        e.set(QStringLiteral("call-id"), b.callId);
        e.set(QStringLiteral("network-ip"), b.networkIp);
        e.set(QStringLiteral("network-port"), b.networkPort);
        if (!b.userAgent.isEmpty())
            e.set(QStringLiteral("user-agent"), b.userAgent);
        m_server->publish(e);
    }
}
