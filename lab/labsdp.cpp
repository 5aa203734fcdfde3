#include "lab/labsdp.h"

#include "lab/labg711.h"
#include "lab/labsrtp.h"

#include <QDateTime>
#include <QStringList>

#include <sofia-sip/sdp.h>
#include <sofia-sip/su_alloc.h>

namespace {

const QString Incompatible = QStringLiteral("INCOMPATIBLE_DESTINATION");

} // namespace

LabSdp::Secure LabSdp::secureMode(const QString &variable)
{
    const QString mode = variable.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    if (mode == QLatin1String("mandatory") || mode == QLatin1String("true"))
        return Secure::Mandatory;
    if (mode == QLatin1String("optional"))
        return Secure::Optional;
    return Secure::Forbidden;
}

LabSdp::LabSdp(const QHostAddress &address, quint16 port, Secure mode)
    : m_address(address), m_port(port), m_mode(mode), m_sessionId(QDateTime::currentSecsSinceEpoch())
{
    if (mode == Secure::Forbidden)
        return;
    m_crypto.insert(1, {QStringLiteral("AES_CM_128_HMAC_SHA1_80"), LabSrtp::newKey()});
    m_crypto.insert(2, {QStringLiteral("AES_CM_128_HMAC_SHA1_32"), LabSrtp::newKey()});
}

QString LabSdp::offer() const
{
    const QString ip = m_address.toString();
    // A mandatory offer uses the secure profile, so a callee without SRTP refuses it outright.
    const QString profile =
        m_mode == Secure::Mandatory ? QStringLiteral("RTP/SAVP") : QStringLiteral("RTP/AVP");
    QString sdp = QStringLiteral("v=0\r\n"
                                 "o=tesmar-lab %1 %2 IN IP4 %3\r\n"
                                 "s=tesmar-lab\r\n"
                                 "c=IN IP4 %3\r\n"
                                 "t=0 0\r\n"
                                 "m=audio %4 %5 0 8 101\r\n"
                                 "a=rtpmap:0 PCMU/8000\r\n"
                                 "a=rtpmap:8 PCMA/8000\r\n"
                                 "a=rtpmap:101 telephone-event/8000\r\n"
                                 "a=fmtp:101 0-15\r\n"
                                 "a=ptime:20\r\n")
                      .arg(m_sessionId)
                      .arg(m_sessionId + 1)
                      .arg(ip)
                      .arg(m_port)
                      .arg(profile);
    for (auto it = m_crypto.constBegin(); it != m_crypto.constEnd(); ++it) {
        sdp += QStringLiteral("a=crypto:%1 %2 inline:%3\r\n")
                   .arg(it.key())
                   .arg(it->suite, QString::fromLatin1(it->key.toBase64()));
    }
    return sdp;
}

LabSdp::Answer LabSdp::negotiate(const QByteArray &text) const
{
    Answer answer;
    answer.cause = Incompatible;
    su_home_t *home = static_cast<su_home_t *>(su_home_new(sizeof(su_home_t)));
    sdp_parser_t *parser = sdp_parse(home, text.constData(), text.size(), 0);
    const sdp_session_t *session = sdp_session(parser);
    const sdp_media_t *media = session ? session->sdp_media : nullptr;
    while (media && media->m_type != sdp_media_audio)
        media = media->m_next;
    if (media && media->m_port > 0 && media->m_port < 65536) {
        const sdp_connection_t *c = media->m_connections ? media->m_connections : session->sdp_connection;
        answer.address = QHostAddress(QString::fromLatin1(c && c->c_address ? c->c_address : ""));
        answer.port = quint16(media->m_port);
        int payload = -1;
        for (const sdp_rtpmap_t *rm = media->m_rtpmaps; rm && payload < 0; rm = rm->rm_next) {
            if (rm->rm_pt == LabG711::PayloadPcmu || rm->rm_pt == LabG711::PayloadPcma)
                payload = rm->rm_pt;
        }
        // The callee picks one crypto line of ours and answers with its own key under the same tag.
        if (m_mode != Secure::Forbidden) {
            for (const sdp_attribute_t *a = media->m_attributes; a; a = a->a_next) {
                if (qstrcmp(a->a_name, "crypto") != 0 || !a->a_value)
                    continue;
                const QStringList words =
                    QString::fromLatin1(a->a_value).split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const int tag = words.value(0).toInt();
                const QString key = words.value(2);
                if (!m_crypto.contains(tag) || m_crypto[tag].suite != words.value(1) ||
                    !key.startsWith(QLatin1String("inline:")))
                    continue;
                const QByteArray theirs =
                    QByteArray::fromBase64(key.mid(7).section(QLatin1Char('|'), 0, 0).toLatin1());
                if (theirs.size() != m_crypto[tag].key.size())
                    continue;
                answer.suite = m_crypto[tag].suite;
                answer.sendKey = m_crypto[tag].key;
                answer.receiveKey = theirs;
                break;
            }
        }
        const bool secureMissing = m_mode == Secure::Mandatory && answer.suite.isEmpty();
        if (payload >= 0 && !answer.address.isNull() && !secureMissing) {
            answer.payloadType = payload;
            answer.cause.clear();
        }
    }
    sdp_parser_free(parser);
    su_home_unref(home);
    return answer;
}
