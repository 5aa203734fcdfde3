#pragma once

#include <QByteArray>
#include <QString>

struct srtp_ctx_t_;

// SDES-keyed SRTP for one RTP session (libsrtp): our key protects what we send, the peer's
// key from its crypto line opens what it sends. Suites: AES_CM_128_HMAC_SHA1_80 and _32.
class LabSrtp
{
public:
    LabSrtp() = default;
    ~LabSrtp();
    LabSrtp(const LabSrtp &) = delete;
    LabSrtp &operator=(const LabSrtp &) = delete;

    static bool supportsSuite(const QString &suite);
    // 30 random bytes: the 16-byte master key followed by the 14-byte salt.
    static QByteArray newKey();

    bool start(const QString &suite, const QByteArray &sendKey, const QByteArray &receiveKey);
    bool active() const { return m_send != nullptr; }
    bool protect(QByteArray &packet);
    bool unprotect(QByteArray &packet);

private:
    void stop();

    srtp_ctx_t_ *m_send = nullptr;
    srtp_ctx_t_ *m_receive = nullptr;
};
