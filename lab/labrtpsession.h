#pragma once

#include "lab/labsrtp.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QVector>

class QUdpSocket;

// The media of one SIP call leg: a UDP socket for RTP (G.711 at 20 ms ptime, optionally SRTP),
// the frames the mixer hands it go out, what the peer sends is decoded and measured. The
// member's talking state follows the energy of what arrives, with a short hang-over so
// that gaps between words do not toggle it. Owned by LabSipCall.
class LabRtpSession final : public QObject
{
    Q_OBJECT
public:
    static constexpr int FrameSamples = 160; // 20 ms at 8 kHz
    // Mean absolute amplitude from which a frame counts as speech.
    static constexpr int TalkLevel = 300;

    explicit LabRtpSession(const QHostAddress &local, QObject *parent = nullptr);
    ~LabRtpSession() override;

    bool isBound() const;
    quint16 localPort() const;
    void setRemote(const QHostAddress &address, quint16 port, int payloadType);
    LabSrtp &srtp() { return m_srtp; }

    // Sends one frame of FrameSamples samples to the peer.
    void send(const QVector<qint16> &frame);
    // Called once per frame period: a peer that stopped sending counts as silent.
    void tick();
    // The last frame received, if it is recent enough to be mixed; else false.
    bool recentFrame(QVector<qint16> *frame) const;

    bool talking() const { return m_talking; }
    int lastLevel() const { return m_lastLevel; }
    int packetsSent() const { return m_sent; }
    int packetsReceived() const { return m_received; }
    int packetsUndecryptable() const { return m_undecryptable; }

signals:
    void talkingChanged(bool talking);

private:
    void readPending();
    void account(int level);

    QUdpSocket *m_socket;
    QHostAddress m_remote;
    quint16 m_remotePort = 0;
    int m_payloadType = 0;
    LabSrtp m_srtp;
    quint16 m_sequence;
    quint32 m_timestamp;
    quint32 m_ssrc;
    bool m_first = true;
    QVector<qint16> m_lastFrame;
    QElapsedTimer m_lastArrival;
    int m_lastLevel = 0;
    int m_loudFrames = 0;
    int m_quietFrames = 0;
    bool m_talking = false;
    int m_sent = 0;
    int m_received = 0;
    int m_undecryptable = 0;
};
