#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Playback of one file into a conference: tracks the position in media time (honouring the
// lab's time scale), pauses, seeks and reports the natural end. Owned by LabConferences.
class LabPlayer final : public QObject
{
    Q_OBJECT
public:
    // Sample rate the conference mixes at; seek replies count samples at this rate.
    static constexpr int Rate = 8000;

    LabPlayer(const QString &file, qint64 durationMs, double timeScale, QObject *parent = nullptr);

    // Duration of a RIFF/WAVE file in milliseconds; -1 when the file is not a readable WAV.
    static qint64 wavDurationMs(const QString &path);

    void start();
    // Pauses a running file or resumes a paused one; returns true when it is now paused.
    bool togglePause();
    // "1000" seeks to 1000 ms, "+2000" / "-500" move relative to the current position.
    // Returns the new position in milliseconds.
    qint64 seek(const QString &arg);
    void stop();

    qint64 positionMs() const;
    qint64 durationMs() const { return m_durationMs; }
    QString file() const { return m_file; }
    bool paused() const { return m_paused; }

signals:
    void finished();

private:
    void schedule();

    QString m_file;
    qint64 m_durationMs;
    double m_timeScale;
    qint64 m_baseMs = 0; // media position when the clock last started
    QElapsedTimer m_clock;
    QTimer m_endTimer;
    bool m_paused = false;
};
