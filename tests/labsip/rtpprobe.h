#pragma once

#include "lab/labsrtp.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

// The far end of a call's media for the lab's SIP tests: decodes what the lab sends (G.711,
// SRTP when keyed) and measures it, and talks back a tone or silence every 20 ms to the
// address the lab sends from. Independent of the lab's own media code except for the
// G.711 tables and libsrtp.
class RtpProbe : public QObject
{
    Q_OBJECT
public:
    struct Measure
    {
        int packets = 0;
        int payloadType = -1;
        double level = 0;     // mean absolute sample value
        double crossings = 0; // zero crossings per 160-sample frame: 2 x frequency / 50
    };

    bool bind();
    quint16 port() const { return m_socket.localPort(); }
    bool setSrtp(const QString &suite, const QByteArray &sendKey, const QByteArray &receiveKey);
    int undecryptable() const { return m_undecryptable; }

    // What arrives during the next ms milliseconds.
    Measure measure(int ms);
    // Sends a sine of that amplitude and frequency (amplitude 0: silence) until told otherwise.
    void talk(int amplitude, int hz = 1000);

private:
    void readPending();
    void sendFrame();

    QUdpSocket m_socket;
    QTimer m_sender;
    LabSrtp m_srtp;
    bool m_srtpOn = false;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
    Measure m_current;
    qint64 m_sum = 0;
    qint64 m_samples = 0;
    int m_crossings = 0;
    int m_undecryptable = 0;
    int m_amplitude = 0;
    int m_hz = 1000;
    double m_phase = 0;
    quint16 m_sequence = 1;
    quint32 m_timestamp = 0;
};
