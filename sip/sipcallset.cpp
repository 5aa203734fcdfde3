#include "sip/sipcallset.h"

#include <cmath>

#include <mediastreamer2/mediastream.h>
#include <mediastreamer2/msvolume.h>

// Exported by liblinphone for its own tools but missing from its public
// headers; the per-call software gains are reachable only through it.
extern "C" MediaStream *linphone_call_get_stream(LinphoneCall *call, LinphoneStreamType type);

namespace {

AudioStream *audioStream(LinphoneCall *call)
{
    // An AudioStream begins with its MediaStream.
    return reinterpret_cast<AudioStream *>(linphone_call_get_stream(call, LinphoneStreamTypeAudio));
}

float filterGain(MSFilter *volume)
{
    float gain = -1.0f;
    if (volume)
        ms_filter_call_method(volume, MS_VOLUME_GET_GAIN, &gain);
    return gain;
}

} // namespace

// The library's volume filters read decibels as power ratios (10·log10), so
// this is what makes the amplitude factor percent / 100.
float SipCallSet::decibels(int percent)
{
    return static_cast<float>(10.0 * std::log10(percent / 100.0));
}

SipCallSet::~SipCallSet()
{
    clear();
}

void SipCallSet::add(LinphoneCall *call)
{
    // A re-INVITE restarts the media of a call already held: keep one entry,
    // moved to the end as the newest activity.
    if (m_calls.removeOne(call)) {
        m_calls.append(call);
        return;
    }
    m_calls.append(linphone_call_ref(call));
}

bool SipCallSet::remove(LinphoneCall *call)
{
    if (!m_calls.removeOne(call))
        return false;
    linphone_call_unref(call);
    return true;
}

void SipCallSet::clear()
{
    for (LinphoneCall *call : qAsConst(m_calls))
        linphone_call_unref(call);
    m_calls.clear();
}

// The library restores its core-wide gain when a direction is unmuted, so the
// caller sets that first; the gain is then put on each call's own stream,
// since the core-wide setters reach only the library's "current" call.
void SipCallSet::applySpeakerLevel(int percent) const
{
    for (LinphoneCall *call : m_calls) {
        linphone_call_set_speaker_muted(call, percent == 0);
        AudioStream *stream = audioStream(call);
        if (percent > 0 && stream)
            audio_stream_set_spk_gain_db(stream, decibels(percent));
    }
}

void SipCallSet::applyMicrophoneLevel(int percent) const
{
    for (LinphoneCall *call : m_calls) {
        linphone_call_set_microphone_muted(call, percent == 0);
        AudioStream *stream = audioStream(call);
        if (percent > 0 && stream)
            audio_stream_set_mic_gain_db(stream, decibels(percent));
    }
}

void SipCallSet::applyDevice(LinphoneAudioDevice *device, bool output) const
{
    for (LinphoneCall *call : m_calls) {
        if (output)
            linphone_call_set_output_audio_device(call, device);
        else
            linphone_call_set_input_audio_device(call, device);
    }
}

float SipCallSet::speakerGain() const
{
    LinphoneCall *call = current();
    if (!call)
        return -1.0f;
    if (linphone_call_get_speaker_muted(call))
        return 0.0f;
    AudioStream *stream = audioStream(call);
    return stream ? filterGain(stream->volrecv) : -1.0f;
}

float SipCallSet::receivedLevel() const
{
    LinphoneCall *call = current();
    return call ? linphone_call_get_play_volume(call) : float(LINPHONE_VOLUME_DB_LOWEST);
}

float SipCallSet::microphoneGain() const
{
    LinphoneCall *call = current();
    if (!call)
        return -1.0f;
    if (linphone_call_get_microphone_muted(call))
        return 0.0f;
    AudioStream *stream = audioStream(call);
    return stream ? filterGain(stream->volsend) : -1.0f;
}
