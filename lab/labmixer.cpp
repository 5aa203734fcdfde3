#include "lab/labmixer.h"

#include "lab/labconferences.h"
#include "lab/labplayer.h"
#include "lab/labrtpsession.h"

#include <QFile>
#include <QtEndian>
#include <QtMath>

namespace {

constexpr int Rate = 8000;
constexpr int Frame = LabRtpSession::FrameSamples;
// The player's clock and the mixer's drift apart by timer jitter; beyond this they are re-aligned.
constexpr int ResyncSamples = 3 * Frame;

} // namespace

LabMixer::LabMixer(LabConferences *conferences, QObject *parent) : QObject(parent), m_conferences(conferences)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1000 * Frame / Rate);
    connect(&m_timer, &QTimer::timeout, this, &LabMixer::tick);
}

void LabMixer::add(const QString &uuid, LabRtpSession *session)
{
    m_sessions.insert(uuid, session);
    if (!m_timer.isActive())
        m_timer.start();
}

void LabMixer::remove(const QString &uuid)
{
    m_sessions.remove(uuid);
    if (m_sessions.isEmpty())
        m_timer.stop();
}

QVector<qint16> LabMixer::loadWav(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.readAll();
    if (data.size() < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE")
        return {};
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    int channels = 0, rate = 0, bits = 0, format = 0;
    int pos = 12;
    while (pos + 8 <= data.size()) {
        const qint64 size = qFromLittleEndian<quint32>(p + pos + 4);
        const int body = pos + 8;
        if (data.mid(pos, 4) == "fmt " && size >= 16 && body + 16 <= data.size()) {
            format = qFromLittleEndian<quint16>(p + body);
            channels = qFromLittleEndian<quint16>(p + body + 2);
            rate = int(qFromLittleEndian<quint32>(p + body + 4));
            bits = qFromLittleEndian<quint16>(p + body + 14);
        } else if (data.mid(pos, 4) == "data") {
            if (format != 1 || channels < 1 || rate < 1 || (bits != 16 && bits != 8))
                return {};
            const int bytesPerFrame = channels * bits / 8;
            // A streamed file may leave the size open; take what is there.
            const qint64 available = qMin<qint64>(size, data.size() - body);
            const qint64 frames = available / bytesPerFrame;
            QVector<qint16> out;
            out.reserve(int(frames * Rate / rate) + 1);
            for (qint64 i = 0;; ++i) {
                const qint64 source = i * rate / Rate; // nearest earlier sample
                if (source >= frames)
                    break;
                int sum = 0;
                for (int c = 0; c < channels; ++c) {
                    const uchar *s = p + body + source * bytesPerFrame + c * bits / 8;
                    sum += bits == 16 ? qFromLittleEndian<qint16>(s) : (int(*s) - 128) << 8;
                }
                out.append(qint16(sum / channels));
            }
            return out;
        }
        pos = body + int(size) + int(size % 2);
    }
    return {};
}

const QVector<qint16> &LabMixer::samples(const QString &file)
{
    auto it = m_files.find(file);
    if (it == m_files.end())
        it = m_files.insert(file, loadWav(file));
    return it.value();
}

QVector<qint16> LabMixer::baseFrame(const QString &conference)
{
    Cursor &cursor = m_cursors[conference];
    QVector<qint16> frame(Frame, 0);
    const LabPlayer *player = conference.isEmpty() ? nullptr : m_conferences->player(conference);
    if (player && !player->paused()) {
        const QVector<qint16> &pcm = samples(player->file());
        const qint64 expected = player->positionMs() * Rate / 1000;
        if (cursor.file != player->file() || qAbs(cursor.sample - expected) > ResyncSamples) {
            cursor.file = player->file();
            cursor.sample = expected;
        }
        for (int i = 0; i < Frame; ++i) {
            const qint64 at = cursor.sample + i;
            frame[i] = at < pcm.size() ? pcm[int(at)] : 0;
        }
        cursor.sample += Frame;
        return frame;
    }
    cursor.file.clear();
    const double step = 2 * M_PI * ToneHz / Rate;
    for (int i = 0; i < Frame; ++i) {
        frame[i] = qint16(qRound(ToneAmplitude * qSin(cursor.tonePhase)));
        cursor.tonePhase = std::fmod(cursor.tonePhase + step, 2 * M_PI);
    }
    return frame;
}

void LabMixer::tick()
{
    // Group the legs by conference so that each hears the others.
    QHash<QString, QStringList> groups;
    for (auto it = m_sessions.constBegin(); it != m_sessions.constEnd(); ++it) {
        it.value()->tick();
        groups[m_conferences->conferenceOf(it.key())].append(it.key());
    }
    for (auto g = groups.constBegin(); g != groups.constEnd(); ++g) {
        const QVector<qint16> base = baseFrame(g.key());
        QHash<QString, QVector<qint16>> voices;
        if (!g.key().isEmpty()) {
            for (const QString &uuid : g.value()) {
                QVector<qint16> voice;
                if (m_conferences->canSpeak(uuid) && m_sessions.value(uuid)->recentFrame(&voice))
                    voices.insert(uuid, voice);
            }
        }
        for (const QString &uuid : g.value()) {
            QVector<int> mix(Frame);
            for (int i = 0; i < Frame; ++i)
                mix[i] = base[i];
            for (auto v = voices.constBegin(); v != voices.constEnd(); ++v) {
                if (v.key() == uuid)
                    continue;
                for (int i = 0; i < Frame; ++i)
                    mix[i] += v.value()[i];
            }
            QVector<qint16> out(Frame);
            for (int i = 0; i < Frame; ++i)
                out[i] = qint16(qBound(-32768, mix[i], 32767));
            m_sessions.value(uuid)->send(out);
        }
    }
    // Forget conferences that are gone.
    for (auto it = m_cursors.begin(); it != m_cursors.end();) {
        if (groups.contains(it.key()))
            ++it;
        else
            it = m_cursors.erase(it);
    }
}
