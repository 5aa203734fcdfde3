#include "tests/support/rtpfarend.h"

#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int samplesPerPacket = 160; // 20 ms at 8 kHz
const int payloadPcmu = 0;

// Goertzel filter: the amplitude of one frequency without a full transform.
double goertzel(const qint16 *samples, int n, double hz, int rate)
{
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * hz / rate);
    double previous = 0.0, beforePrevious = 0.0;
    for (int i = 0; i < n; ++i) {
        const double current = samples[i] / 32768.0 + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / n;
}

// G.711 µ-law as in ITU-T G.711 (bias 0x84, segments of doubling step).
qint16 decodeMuLaw(quint8 value)
{
    value = quint8(~value);
    const int exponent = (value >> 4) & 0x07;
    const int mantissa = value & 0x0f;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return qint16((value & 0x80) ? -magnitude : magnitude);
}

quint8 encodeMuLaw(qint16 sample)
{
    int value = sample;
    const int sign = value < 0 ? 0x80 : 0x00;
    if (value < 0)
        value = -value;
    value = std::min(value, 32635) + 0x84;
    int exponent = 7;
    for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (value >> (exponent + 3)) & 0x0f;
    return quint8(~(sign | (exponent << 4) | mantissa));
}

} // namespace

RtpFarEnd::RtpFarEnd(double toneHz, double toneAmplitude) : m_toneHz(toneHz), m_toneAmplitude(toneAmplitude)
{
    m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket >= 0 && ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
    m_thread = std::thread(&RtpFarEnd::run, this);
}

RtpFarEnd::~RtpFarEnd()
{
    m_running = false;
    m_thread.join();
    if (m_socket >= 0)
        ::close(m_socket);
}

void RtpFarEnd::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packets = 0;
    m_samples.clear();
}

int RtpFarEnd::packets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_packets;
}

double RtpFarEnd::toneAmplitude(double hz) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return toneAmplitudeIn(m_samples, hz, 8000);
}

// Sends by the clock: packet n leaves 20·n ms after the peer was first heard.
void RtpFarEnd::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point start;
    while (m_running && m_socket >= 0) {
        pollfd descriptor{m_socket, POLLIN, 0};
        if (::poll(&descriptor, 1, 2) > 0)
            receive();
        if (!m_peerKnown)
            continue;
        if (start == Clock::time_point())
            start = Clock::now();
        while (Clock::now() - start >= std::chrono::milliseconds(20) * m_sequence)
            sendPacket();
    }
}

void RtpFarEnd::receive()
{
    char data[2048];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const ssize_t size =
        ::recvfrom(m_socket, data, sizeof data, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (size < 12 || (quint8(data[0]) >> 6) != 2 || (quint8(data[1]) & 0x7f) != payloadPcmu)
        return;
    int offset = 12 + 4 * (quint8(data[0]) & 0x0f);
    if ((quint8(data[0]) & 0x10) && size >= offset + 4)
        offset += 4 + 4 * qFromBigEndian<quint16>(data + offset + 2);
    int end = int(size);
    if (quint8(data[0]) & 0x20)
        end -= quint8(data[end - 1]);
    if (offset > end)
        return;
    if (!m_peerKnown && fromLength <= sizeof m_peer) {
        // Symmetric RTP: answer where the peer sends from.
        memcpy(m_peer, &from, fromLength);
        m_peerLength = fromLength;
        m_peerKnown = true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_packets;
    for (int i = offset; i < end; ++i)
        m_samples.append(decodeMuLaw(quint8(data[i])));
}

void RtpFarEnd::sendPacket()
{
    char packet[12 + samplesPerPacket] = {};
    packet[0] = char(0x80);
    packet[1] = char(payloadPcmu);
    qToBigEndian<quint16>(m_sequence++, packet + 2);
    qToBigEndian<quint32>(m_timestamp, packet + 4);
    qToBigEndian<quint32>(0x7e5a0001u ^ m_port, packet + 8);
    for (int i = 0; i < samplesPerPacket; ++i) {
        const double t = double(m_timestamp + quint32(i)) / 8000.0;
        packet[12 + i] =
            char(encodeMuLaw(qint16(m_toneAmplitude * 32767.0 * std::sin(2.0 * M_PI * m_toneHz * t))));
    }
    m_timestamp += samplesPerPacket;
    ::sendto(m_socket, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(m_peer), m_peerLength);
}

double RtpFarEnd::toneAmplitudeIn(const QVector<qint16> &samples, double hz, int rate)
{
    const int block = rate / 20;
    std::vector<double> amplitudes;
    for (int start = 0; start + block <= samples.size(); start += block) {
        double strongest = 0.0;
        for (double f = hz * 0.85; f <= hz * 1.15; f += 10.0)
            strongest = std::max(strongest, goertzel(samples.constData() + start, block, f, rate));
        amplitudes.push_back(strongest);
    }
    if (amplitudes.empty())
        return 0.0;
    std::nth_element(amplitudes.begin(), amplitudes.begin() + amplitudes.size() / 2, amplitudes.end());
    return amplitudes[amplitudes.size() / 2];
}
