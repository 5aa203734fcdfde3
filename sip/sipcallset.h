#pragma once

#include <QList>

#include <linphone/core.h>

// The calls the agent has answered and whose media runs. Every one of them is
// connected to the sound devices at the same time: the dispatcher hears all of
// them and speaks into all of them, and a level, mute or device change reaches
// each. Owned by CPJSIPSUA; used on the thread that drives the core.
class SipCallSet final
{
public:
    SipCallSet() = default;
    SipCallSet(const SipCallSet &) = delete;
    SipCallSet &operator=(const SipCallSet &) = delete;
    ~SipCallSet();

    // A call whose media has (re)started; takes a reference. The newest call
    // is the current one.
    void add(LinphoneCall *call);
    // Drops the call if held; returns whether it was.
    bool remove(LinphoneCall *call);
    void clear();

    int count() const { return m_calls.size(); }
    bool isEmpty() const { return m_calls.isEmpty(); }
    LinphoneCall *current() const { return m_calls.isEmpty() ? nullptr : m_calls.last(); }

    // Percent 0..100; 0 mutes that direction of every call.
    void applySpeakerLevel(int percent) const;
    void applyMicrophoneLevel(int percent) const;
    void applyDevice(LinphoneAudioDevice *device, bool output) const;

    // Gain the library takes for a level of 1..100 percent.
    static float decibels(int percent);

    // Linear gains the media streams of the current call really apply (0
    // when muted); -1 without a call.
    float speakerGain() const;
    float microphoneGain() const;
    // Level of what the current call receives, in dBm0; the library's silence floor
    // when no call media runs.
    float receivedLevel() const;

private:
    QList<LinphoneCall *> m_calls;
};
