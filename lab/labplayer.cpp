#include "lab/labplayer.h"

#include <QFile>
#include <QtEndian>
#include <QtMath>

LabPlayer::LabPlayer(const QString &file, qint64 durationMs, double timeScale, QObject *parent)
    : QObject(parent), m_file(file), m_durationMs(durationMs), m_timeScale(timeScale > 0 ? timeScale : 1.0)
{
    m_endTimer.setSingleShot(true);
    m_endTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_endTimer, &QTimer::timeout, this, [this] {
        // The end of the file is the end of media time, whatever the wall clock says.
        m_baseMs = m_durationMs;
        m_paused = true;
        emit finished();
    });
}

qint64 LabPlayer::wavDurationMs(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = f.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return -1;
    quint32 byteRate = 0;
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(8);
        if (chunk.size() < 8)
            return -1;
        const quint32 size =
            qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(chunk.constData() + 4));
        if (chunk.startsWith("fmt ")) {
            const QByteArray fmt = f.read(size);
            if (fmt.size() < 12)
                return -1;
            byteRate = qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(fmt.constData() + 8));
            if (size % 2)
                f.read(1);
        } else if (chunk.startsWith("data")) {
            if (byteRate == 0)
                return -1;
            // A writer that streamed the file may leave the size open; take what is there.
            const qint64 available = f.size() - f.pos();
            const qint64 dataSize = qMin<qint64>(size, available);
            return dataSize * 1000 / byteRate;
        } else if (!f.seek(f.pos() + size + (size % 2))) {
            return -1;
        }
    }
    return -1;
}

void LabPlayer::start()
{
    m_baseMs = 0;
    m_paused = false;
    m_clock.start();
    schedule();
}

qint64 LabPlayer::positionMs() const
{
    if (m_paused || !m_clock.isValid())
        return m_baseMs;
    const qint64 pos = m_baseMs + qRound64(m_clock.elapsed() / m_timeScale);
    return qMin(pos, m_durationMs);
}

void LabPlayer::schedule()
{
    const qint64 remaining = qMax<qint64>(0, m_durationMs - m_baseMs);
    m_endTimer.start(int(qRound64(remaining * m_timeScale)));
}

bool LabPlayer::togglePause()
{
    if (m_paused) {
        m_paused = false;
        m_clock.restart();
        schedule();
    } else {
        m_baseMs = positionMs();
        m_paused = true;
        m_endTimer.stop();
    }
    return m_paused;
}

qint64 LabPlayer::seek(const QString &arg)
{
    const qint64 current = positionMs();
    qint64 target;
    if (arg.startsWith(QLatin1Char('+')) || arg.startsWith(QLatin1Char('-')))
        target = current + arg.toLongLong();
    else
        target = arg.toLongLong();
    target = qBound<qint64>(0, target, m_durationMs);
    m_baseMs = target;
    if (!m_paused) {
        m_clock.restart();
        schedule();
    }
    return target;
}

void LabPlayer::stop()
{
    m_baseMs = positionMs();
    m_endTimer.stop();
    m_paused = true;
}
