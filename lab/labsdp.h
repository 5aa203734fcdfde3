#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QString>

// The lab's side of the SDP offer/answer for a call it places: the G.711 offer with the SDES
// crypto lines that rtp_secure_media asks for, and what the callee's answer settles (where to
// send, which law, which SRTP suite and keys) or why the call cannot go on. Parsing uses
// sofia-sip's SDP parser. Pure value logic, no sockets.
class LabSdp
{
public:
    enum class Secure { Forbidden, Optional, Mandatory };

    struct Crypto
    {
        QString suite;
        QByteArray key; // 30 bytes: master key and salt
    };

    struct Answer
    {
        QString cause; // empty when the call can go on, else the hang-up cause
        QHostAddress address;
        quint16 port = 0;
        int payloadType = 0;
        QString suite; // empty for plain RTP
        QByteArray sendKey;
        QByteArray receiveKey;
    };

    // "mandatory", "optional", "forbidden" (optionally followed by ":<suites>"); anything else
    // is forbidden, as when the variable is not set.
    static Secure secureMode(const QString &variable);

    // Our offer; crypto lines are made for every suite the mode asks for (tag -> suite and key).
    LabSdp(const QHostAddress &address, quint16 port, Secure mode);
    QString offer() const;
    const QMap<int, Crypto> &offeredCrypto() const { return m_crypto; }
    Secure mode() const { return m_mode; }

    Answer negotiate(const QByteArray &answer) const;

private:
    QHostAddress m_address;
    quint16 m_port;
    Secure m_mode;
    qint64 m_sessionId;
    QMap<int, Crypto> m_crypto;
};
