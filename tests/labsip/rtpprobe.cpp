#include "tests/labsip/rtpprobe.h"

#include "lab/labg711.h"

#include <QTest>
#include <QtEndian>
#include <QtMath>

bool RtpProbe::bind()
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &RtpProbe::readPending);
    m_sender.setInterval(20);
    m_sender.setTimerType(Qt::PreciseTimer);
    connect(&m_sender, &QTimer::timeout, this, &RtpProbe::sendFrame);
    return m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
}

bool RtpProbe::setSrtp(const QString &suite, const QByteArray &sendKey, const QByteArray &receiveKey)
{
    m_srtpOn = m_srtp.start(suite, sendKey, receiveKey);
    return m_srtpOn;
}

RtpProbe::Measure RtpProbe::measure(int ms)
{
    m_current = Measure();
    m_sum = m_samples = 0;
    m_crossings = 0;
    QTest::qWait(ms);
    Measure m = m_current;
    if (m_samples > 0) {
        m.level = double(m_sum) / m_samples;
        m.crossings = double(m_crossings) * 160 / m_samples;
    }
    return m;
}

void RtpProbe::talk(int amplitude, int hz)
{
    m_amplitude = amplitude;
    m_hz = hz;
    if (!m_sender.isActive())
        m_sender.start();
}

void RtpProbe::readPending()
{
    while (m_socket.hasPendingDatagrams()) {
        QByteArray packet(int(m_socket.pendingDatagramSize()), '\0');
        QHostAddress from;
        quint16 fromPort = 0;
        m_socket.readDatagram(packet.data(), packet.size(), &from, &fromPort);
        if (m_srtpOn && !m_srtp.unprotect(packet)) {
            ++m_undecryptable;
            continue;
        }
        if (packet.size() <= 12)
            continue;
        m_peer = from;
        m_peerPort = fromPort;
        const int type = uchar(packet[1]) & 0x7F;
        ++m_current.packets;
        m_current.payloadType = type;
        qint16 previous = 0;
        for (int i = 12; i < packet.size(); ++i) {
            const quint8 code = uchar(packet[i]);
            const qint16 s =
                type == LabG711::PayloadPcma ? LabG711::alawToLinear(code) : LabG711::ulawToLinear(code);
            m_sum += qAbs(int(s));
            if (i > 12 && (s >= 0) != (previous >= 0))
                ++m_crossings;
            previous = s;
            ++m_samples;
        }
    }
}

void RtpProbe::sendFrame()
{
    if (m_peerPort == 0)
        return; // nothing heard yet: the lab's address is not known
    QByteArray packet(12 + 160, '\0');
    auto *p = reinterpret_cast<uchar *>(packet.data());
    p[0] = 0x80;
    p[1] = LabG711::PayloadPcma;
    qToBigEndian(m_sequence++, p + 2);
    qToBigEndian(m_timestamp, p + 4);
    qToBigEndian(quint32(0x7e57), p + 8);
    m_timestamp += 160;
    for (int i = 0; i < 160; ++i) {
        p[12 + i] = LabG711::linearToAlaw(qint16(qRound(m_amplitude * qSin(m_phase))));
        m_phase = std::fmod(m_phase + 2 * M_PI * m_hz / 8000, 2 * M_PI);
    }
    if (m_srtpOn && !m_srtp.protect(packet))
        return;
    m_socket.writeDatagram(packet, m_peer, m_peerPort);
}
