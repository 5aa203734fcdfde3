#include "sip/soundtestplayer.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>

namespace {

const char *const soundTestResource = ":/Data/toy-mono.raw";
const int soundTestRate = 44100;

} // namespace

SoundTestPlayer::SoundTestPlayer(QObject *parent) : QObject(parent)
{}

SoundTestPlayer::~SoundTestPlayer()
{
    stop();
}

// The library's file player reads WAV, not headerless PCM.
QByteArray SoundTestPlayer::wavFromRaw(const QByteArray &pcm, int sampleRate)
{
    QByteArray wav;
    auto put32 = [&wav](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        wav.append(b, 4);
    };
    auto put16 = [&wav](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        wav.append(b, 2);
    };
    wav.append("RIFF");
    put32(36 + pcm.size());
    wav.append("WAVEfmt ");
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(sampleRate);
    put32(sampleRate * 2);
    put16(2);
    put16(16);
    wav.append("data");
    put32(pcm.size());
    wav.append(pcm);
    return wav;
}

bool SoundTestPlayer::start(LinphoneCore *core, const QByteArray &deviceId, const QString &workDirectory)
{
    stop();
    if (!core) {
        qCritical() << "CPJSIPSUA::startSoundTest(): cannot create sound player port:"
                    << "the SIP user agent is not running";
        return false;
    }
    QFile resource(QString::fromLatin1(soundTestResource));
    if (!resource.open(QIODevice::ReadOnly)) {
        qCritical() << "CPJSIPSUA::startSoundTest(): cannot create file media port from the WAV file:"
                    << qPrintable(resource.errorString());
        return false;
    }
    m_file = workDirectory + QStringLiteral("/soundtest.wav");
    QFile wav(m_file);
    if (!wav.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        wav.write(wavFromRaw(resource.readAll(), soundTestRate)) < 0) {
        qCritical() << "CPJSIPSUA::startSoundTest(): cannot create file media port from the WAV file:"
                    << qPrintable(wav.errorString());
        return false;
    }
    wav.close();

    // Without a device the library would fall back to its ringer device.
    m_player = deviceId.isEmpty()
                   ? nullptr
                   : linphone_core_create_local_player(core, deviceId.constData(), nullptr, nullptr);
    if (!m_player) {
        qCritical() << "CPJSIPSUA::startSoundTest(): cannot create sound player port:"
                    << (deviceId.isEmpty() ? "no such sound device"
                                           : "the SIP library has no player for this device");
        stop();
        return false;
    }
    m_cbs = linphone_factory_create_player_cbs(linphone_factory_get());
    linphone_player_cbs_set_user_data(m_cbs, this);
    linphone_player_cbs_set_eof_reached(m_cbs, &SoundTestPlayer::onEof);
    linphone_player_add_callbacks(m_player, m_cbs);

    // The library answers both steps with a bare -1; what failed is all it tells.
    if (linphone_player_open(m_player, QFile::encodeName(m_file).constData()) != 0) {
        qCritical() << "CPJSIPSUA::startSoundTest(): cannot create file media port from the WAV file:"
                    << "the SIP library cannot open" << qPrintable(m_file);
        stop();
        return false;
    }
    if (linphone_player_start(m_player) != 0) {
        qCritical() << "CPJSIPSUA::startSoundTest(): cannot connect file port to the sound player:"
                    << "the sound device did not start";
        stop();
        return false;
    }
    return true;
}

void SoundTestPlayer::onEof(LinphonePlayer *player)
{
    auto *self = static_cast<SoundTestPlayer *>(
        linphone_player_cbs_get_user_data(linphone_player_get_current_callbacks(player)));
    // The end of the file is reported from the media thread; rewind on ours.
    if (self)
        QMetaObject::invokeMethod(self, &SoundTestPlayer::rewind, Qt::QueuedConnection);
}

void SoundTestPlayer::rewind()
{
    if (!m_player)
        return;
    if (linphone_player_seek(m_player, 0) != 0 || linphone_player_start(m_player) != 0)
        qWarning() << "CPJSIPSUA::startSoundTest(): cannot loop the test sound";
}

bool SoundTestPlayer::isPlaying() const
{
    return m_player && linphone_player_get_state(m_player) == LinphonePlayerPlaying;
}

void SoundTestPlayer::stop()
{
    if (m_player) {
        linphone_player_close(m_player);
        if (m_cbs)
            linphone_player_remove_callbacks(m_player, m_cbs);
        linphone_player_unref(m_player);
        m_player = nullptr;
    }
    if (m_cbs) {
        linphone_player_cbs_unref(m_cbs);
        m_cbs = nullptr;
    }
    if (!m_file.isEmpty()) {
        QFile::remove(m_file);
        m_file.clear();
    }
}
