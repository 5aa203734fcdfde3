#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

class LabConferences;
class LabRtpSession;

// The audio the lab sends to its SIP members, one frame every 20 ms: per conference the file
// playing into it (or a quiet comfort tone when nothing plays) plus what the other SIP members
// of that conference said, each member without its own voice. A leg not in a conference
// hears the tone. 8 kHz, 16-bit linear; the sessions encode. Owned by LabSipStack.
class LabMixer final : public QObject
{
    Q_OBJECT
public:
    static constexpr int ToneHz = 425;
    static constexpr int ToneAmplitude = 250; // about -42 dBFS: audible, never mistaken for speech

    explicit LabMixer(LabConferences *conferences, QObject *parent = nullptr);

    void add(const QString &uuid, LabRtpSession *session);
    void remove(const QString &uuid);

    // 8 kHz mono samples of a RIFF/WAVE file (16- or 8-bit PCM, any rate or channel count,
    // down-mixed and resampled); empty when the file cannot be used.
    static QVector<qint16> loadWav(const QString &path);

private:
    struct Cursor
    {
        QString file;
        qint64 sample = 0;
        double tonePhase = 0;
    };

    void tick();
    QVector<qint16> baseFrame(const QString &conference);
    const QVector<qint16> &samples(const QString &file);

    LabConferences *m_conferences;
    QTimer m_timer;
    QHash<QString, LabRtpSession *> m_sessions; // call UUID -> its media
    QHash<QString, Cursor> m_cursors;           // conference ("" for legs outside one) -> playback state
    QHash<QString, QVector<qint16>> m_files;
};
