#include "lab/labrtpsession.h"

#include "lab/labg711.h"

#include <QRandomGenerator>
#include <QUdpSocket>
#include <QtEndian>

namespace {

constexpr int HeaderSize = 12;
// Speech starts after this many loud frames and ends after this many quiet ones.
constexpr int StartFrames = 2;
constexpr int StopFrames = 10;
// A frame older than this is not mixed any more; silence after it counts as quiet.
constexpr int StaleMs = 60;

} // namespace

LabRtpSession::LabRtpSession(const QHostAddress &local, QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
    , m_sequence(quint16(QRandomGenerator::global()->bounded(65536)))
    , m_timestamp(QRandomGenerator::global()->generate())
    , m_ssrc(QRandomGenerator::global()->generate())
{
    m_socket->bind(local, 0);
    connect(m_socket, &QUdpSocket::readyRead, this, &LabRtpSession::readPending);
}

LabRtpSession::~LabRtpSession() = default;

bool LabRtpSession::isBound() const
{
    return m_socket->state() == QAbstractSocket::BoundState;
}

quint16 LabRtpSession::localPort() const
{
    return m_socket->localPort();
}

void LabRtpSession::setRemote(const QHostAddress &address, quint16 port, int payloadType)
{
    m_remote = address;
    m_remotePort = port;
    m_payloadType = payloadType;
}

void LabRtpSession::send(const QVector<qint16> &frame)
{
    if (m_remotePort == 0 || frame.size() != FrameSamples)
        return;
    QByteArray packet(HeaderSize + FrameSamples, '\0');
    auto *p = reinterpret_cast<uchar *>(packet.data());
    p[0] = 0x80;
    p[1] = uchar(m_payloadType | (m_first ? 0x80 : 0));
    qToBigEndian(m_sequence++, p + 2);
    qToBigEndian(m_timestamp, p + 4);
    qToBigEndian(m_ssrc, p + 8);
    m_timestamp += FrameSamples;
    m_first = false;
    const bool alaw = m_payloadType == LabG711::PayloadPcma;
    for (int i = 0; i < FrameSamples; ++i)
        p[HeaderSize + i] = alaw ? LabG711::linearToAlaw(frame[i]) : LabG711::linearToUlaw(frame[i]);
    if (m_srtp.active() && !m_srtp.protect(packet))
        return;
    if (m_socket->writeDatagram(packet, m_remote, m_remotePort) > 0)
        ++m_sent;
}

void LabRtpSession::readPending()
{
    while (m_socket->hasPendingDatagrams()) {
        QByteArray packet(int(m_socket->pendingDatagramSize()), '\0');
        if (m_socket->readDatagram(packet.data(), packet.size()) < HeaderSize)
            continue;
        // RTCP shares the port when the peer multiplexes it: payload types 72-76 with the marker.
        const int type = uchar(packet[1]) & 0x7F;
        if ((uchar(packet[0]) >> 6) != 2 || (type >= 72 && type <= 76))
            continue;
        if (m_srtp.active() && !m_srtp.unprotect(packet)) {
            ++m_undecryptable;
            continue;
        }
        const auto *p = reinterpret_cast<const uchar *>(packet.constData());
        int offset = HeaderSize + 4 * (p[0] & 0x0F);
        if ((p[0] & 0x10) && packet.size() >= offset + 4)
            offset += 4 + 4 * qFromBigEndian<quint16>(p + offset + 2);
        int end = packet.size();
        if (p[0] & 0x20)
            end -= p[end - 1];
        if (end <= offset || (type != LabG711::PayloadPcmu && type != LabG711::PayloadPcma))
            continue; // telephone events and comfort noise carry no audio to measure
        QVector<qint16> frame(FrameSamples, 0);
        qint64 sum = 0;
        const int count = qMin(end - offset, int(FrameSamples));
        for (int i = 0; i < count; ++i) {
            const quint8 code = p[offset + i];
            frame[i] =
                type == LabG711::PayloadPcma ? LabG711::alawToLinear(code) : LabG711::ulawToLinear(code);
            sum += qAbs(int(frame[i]));
        }
        ++m_received;
        m_lastFrame = frame;
        m_lastArrival.start();
        account(int(sum / count));
    }
}

void LabRtpSession::tick()
{
    if (m_talking && (!m_lastArrival.isValid() || m_lastArrival.elapsed() > StaleMs))
        account(0);
}

void LabRtpSession::account(int level)
{
    m_lastLevel = level;
    if (level >= TalkLevel) {
        m_quietFrames = 0;
        if (++m_loudFrames >= StartFrames && !m_talking) {
            m_talking = true;
            emit talkingChanged(true);
        }
    } else {
        m_loudFrames = 0;
        if (++m_quietFrames >= StopFrames && m_talking) {
            m_talking = false;
            emit talkingChanged(false);
        }
    }
}

bool LabRtpSession::recentFrame(QVector<qint16> *frame) const
{
    if (!m_lastArrival.isValid() || m_lastArrival.elapsed() > StaleMs)
        return false;
    *frame = m_lastFrame;
    return true;
}
