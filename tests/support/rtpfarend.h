#pragma once

#include <QVector>

#include <atomic>
#include <mutex>
#include <thread>

// The far side of one call's audio, for tests: a PCMU (G.711 µ-law, 8 kHz) RTP
// endpoint on 127.0.0.1 at a free port. It keeps what it receives (packets and
// decoded samples) and, once the peer has sent its first packet, answers every
// 20 ms with a steady tone of its own, as a conference would send speech. It
// runs on a thread of its own, so that a busy test thread does not make it
// send in bursts.
//
//   RtpFarEnd far(700);                   // sends 700 Hz
//   sdp: "m=audio <far.port()> RTP/AVP 0"
//   QTRY_VERIFY(far.packets() > 25);
//   far.reset(); QTest::qWait(1000);
//   far.toneAmplitude(440);               // 0..1 of full scale
class RtpFarEnd final
{
public:
    explicit RtpFarEnd(double toneHz, double toneAmplitude = 0.3);
    ~RtpFarEnd();
    RtpFarEnd(const RtpFarEnd &) = delete;
    RtpFarEnd &operator=(const RtpFarEnd &) = delete;

    bool isValid() const { return m_port != 0; }
    quint16 port() const { return m_port; }

    // Forget what came so far.
    void reset();
    int packets() const;
    // Amplitude of a tone in the audio received since reset, as a fraction of
    // full scale.
    double toneAmplitude(double hz) const;

    // Median over 50 ms blocks of the strongest component within ±15 % of hz:
    // a receiver's clock adjustment drops or repeats bits of audio, which
    // jumps the phase (one long window would cancel itself) and, while it
    // squeezes the audio, shifts the pitch.
    static double toneAmplitudeIn(const QVector<qint16> &samples, double hz, int rate);

private:
    void run();
    void receive();
    void sendPacket();

    int m_socket = -1;
    quint16 m_port = 0;
    double m_toneHz;
    double m_toneAmplitude;
    std::atomic<bool> m_running{true};
    std::thread m_thread;

    // Thread side only.
    bool m_peerKnown = false;
    quint8 m_peer[16] = {};
    unsigned m_peerLength = 0;
    quint16 m_sequence = 0;
    quint32 m_timestamp = 0;

    mutable std::mutex m_mutex;
    int m_packets = 0;
    QVector<qint16> m_samples;
};
