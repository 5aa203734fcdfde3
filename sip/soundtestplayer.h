#pragma once

#include <QObject>
#include <QString>

#include <linphone/core.h>

// Plays the built-in test sound (":/Data/toy-mono.raw", 16-bit mono PCM at
// 44100 Hz) in a loop on one playback device of a running liblinphone core,
// independently of any call. Owned by CPJSIPSUA; GUI thread.
class SoundTestPlayer final : public QObject
{
    Q_OBJECT

public:
    explicit SoundTestPlayer(QObject *parent = nullptr);
    ~SoundTestPlayer() override;

    // deviceId must be a device of the core; an empty id fails. The sound is
    // written as a WAV file into workDirectory for the library's player.
    bool start(LinphoneCore *core, const QByteArray &deviceId, const QString &workDirectory);
    void stop();
    // True while the sound is being played (including across a loop).
    bool isPlaying() const;

    static QByteArray wavFromRaw(const QByteArray &pcm, int sampleRate);

private:
    static void onEof(LinphonePlayer *player);
    void rewind();

    LinphonePlayer *m_player = nullptr;
    LinphonePlayerCbs *m_cbs = nullptr;
    QString m_file;
};
