#include "sip/sipaudiodevices.h"

#include "sip/sipcallset.h"

namespace {

// The core's devices, released when this goes.
class DeviceList
{
public:
    explicit DeviceList(LinphoneCore *core)
        : m_list(core ? linphone_core_get_extended_audio_devices(core) : nullptr)
    {}
    ~DeviceList()
    {
        bctbx_list_free_with_data(m_list,
                                  reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    }
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    template <typename F>
    LinphoneAudioDevice *findIf(F match) const
    {
        for (bctbx_list_t *it = m_list; it; it = bctbx_list_next(it)) {
            auto *device = static_cast<LinphoneAudioDevice *>(bctbx_list_get_data(it));
            if (match(device))
                return device;
        }
        return nullptr;
    }

private:
    bctbx_list_t *m_list;
};

} // namespace

QByteArray SipAudioDevices::find(LinphoneCore *core, const QByteArray &id, int capability)
{
    const DeviceList devices(core);
    const bool found = devices.findIf([&](LinphoneAudioDevice *device) {
        return (capability == 0 || linphone_audio_device_has_capability(
                                       device, static_cast<LinphoneAudioDeviceCapabilities>(capability))) &&
               id == linphone_audio_device_get_id(device);
    });
    return found ? id : QByteArray();
}

bool SipAudioDevices::list(LinphoneCore *core, LinphoneAudioDeviceCapabilities capability,
                           QList<QByteArray> &ids)
{
    ids.clear();
    const DeviceList devices(core);
    devices.findIf([&](LinphoneAudioDevice *device) {
        if (linphone_audio_device_has_capability(device, capability))
            ids.append(QByteArray(linphone_audio_device_get_id(device)));
        return false;
    });
    return !ids.isEmpty();
}

bool SipAudioDevices::select(LinphoneCore *core, const QByteArray &id, bool output, const SipCallSet &calls)
{
    const DeviceList devices(core);
    LinphoneAudioDevice *device =
        devices.findIf([&](LinphoneAudioDevice *d) { return id == linphone_audio_device_get_id(d); });
    if (!device)
        return false;
    if (output)
        linphone_core_set_default_output_audio_device(core, device);
    else
        linphone_core_set_default_input_audio_device(core, device);
    calls.applyDevice(device, output);
    return true;
}

QByteArray SipAudioDevices::current(LinphoneCore *core, bool output)
{
    if (!core)
        return QByteArray();
    const LinphoneAudioDevice *device = output ? linphone_core_get_default_output_audio_device(core)
                                               : linphone_core_get_default_input_audio_device(core);
    return device ? QByteArray(linphone_audio_device_get_id(device)) : QByteArray();
}
