#include "lab/labsrtp.h"

#include <QDebug>
#include <QRandomGenerator>
#include <srtp2/srtp.h>

namespace {

constexpr int KeyLength = 30;

// Brought up on every start: another user of libsrtp in the process (the console's SIP agent in
// tests) may shut it down and up again. When that user already initialised it, srtp_init()
// reports an error although the library works, so only session creation decides.
void startLibrary()
{
    srtp_init();
}

bool setSuite(const QString &suite, srtp_crypto_policy_t *rtp)
{
    if (suite == QLatin1String("AES_CM_128_HMAC_SHA1_80"))
        srtp_crypto_policy_set_aes_cm_128_hmac_sha1_80(rtp);
    else if (suite == QLatin1String("AES_CM_128_HMAC_SHA1_32"))
        srtp_crypto_policy_set_aes_cm_128_hmac_sha1_32(rtp);
    else
        return false;
    return true;
}

srtp_t create(const QString &suite, const QByteArray &key, srtp_ssrc_type_t direction)
{
    srtp_policy_t policy{};
    if (key.size() != KeyLength || !setSuite(suite, &policy.rtp))
        return nullptr;
    srtp_crypto_policy_set_rtcp_default(&policy.rtcp);
    policy.ssrc.type = direction;
    QByteArray copy = key; // libsrtp wants a writable pointer; it copies the key
    policy.key = reinterpret_cast<unsigned char *>(copy.data());
    policy.window_size = 1024;
    srtp_t session = nullptr;
    const srtp_err_status_t status = srtp_create(&session, &policy);
    if (status != srtp_err_status_ok) {
        qWarning() << "tesmar-lab: SRTP session refused by libsrtp, status" << status;
        return nullptr;
    }
    return session;
}

} // namespace

LabSrtp::~LabSrtp()
{
    stop();
}

bool LabSrtp::supportsSuite(const QString &suite)
{
    srtp_crypto_policy_t p{};
    return setSuite(suite, &p);
}

QByteArray LabSrtp::newKey()
{
    QByteArray key(KeyLength, '\0');
    for (char &c : key)
        c = char(QRandomGenerator::system()->bounded(256));
    return key;
}

bool LabSrtp::start(const QString &suite, const QByteArray &sendKey, const QByteArray &receiveKey)
{
    stop();
    startLibrary();
    m_send = create(suite, sendKey, ssrc_any_outbound);
    m_receive = create(suite, receiveKey, ssrc_any_inbound);
    if (!m_send || !m_receive) {
        stop();
        return false;
    }
    return true;
}

void LabSrtp::stop()
{
    if (m_send)
        srtp_dealloc(m_send);
    if (m_receive)
        srtp_dealloc(m_receive);
    m_send = m_receive = nullptr;
}

bool LabSrtp::protect(QByteArray &packet)
{
    if (!m_send)
        return false;
    int length = packet.size();
    packet.resize(length + SRTP_MAX_TRAILER_LEN);
    if (srtp_protect(m_send, packet.data(), &length) != srtp_err_status_ok)
        return false;
    packet.resize(length);
    return true;
}

bool LabSrtp::unprotect(QByteArray &packet)
{
    if (!m_receive)
        return false;
    int length = packet.size();
    if (srtp_unprotect(m_receive, packet.data(), &length) != srtp_err_status_ok)
        return false;
    packet.resize(length);
    return true;
}
