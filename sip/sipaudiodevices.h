#pragma once

#include <QByteArray>
#include <QList>

#include <linphone/core.h>

class SipCallSet;

// The sound devices of a liblinphone core, named by the library's device ids
// ("PulseAudio Unknown: Null Output"). Stateless helpers for CPJSIPSUA; call on
// the thread that drives the core.
class SipAudioDevices final
{
public:
    // The id when a device of that id (and capability, 0 for any) exists,
    // else empty.
    static QByteArray find(LinphoneCore *core, const QByteArray &id, int capability);
    // Ids of the devices with the capability, in the library's order.
    static bool list(LinphoneCore *core, LinphoneAudioDeviceCapabilities capability, QList<QByteArray> &ids);
    // Makes the device the one later calls use and moves the running calls
    // to it. False when no device has that id.
    static bool select(LinphoneCore *core, const QByteArray &id, bool output, const SipCallSet &calls);
    // The device later calls will use.
    static QByteArray current(LinphoneCore *core, bool output);
};
