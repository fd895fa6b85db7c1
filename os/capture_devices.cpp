#include "os/capture_devices.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/text.h"

namespace os {

namespace {

using HintText = std::unique_ptr<char, decltype(&std::free)>;

HintText hint(void* entry, const char* id) {
    return HintText(snd_device_name_get_hint(entry, id), &std::free);
}

std::wstring displayName(const char* description, const std::string& alsaName) {
    if (description == nullptr || description[0] == '\0') return base::fromUtf8(alsaName);
    std::string joined;
    for (const char* p = description; *p != '\0'; ++p) {
        if (*p == '\n')
            joined += " - ";
        else
            joined += *p;
    }
    return base::fromUtf8(joined);
}

}  // namespace

std::vector<AudioCaptureDevice> enumAudioCaptureDevices(void** hints) {
    std::vector<AudioCaptureDevice> devices;
    for (void** entry = hints; entry != nullptr && *entry != nullptr; ++entry) {
        const HintText name = hint(*entry, "NAME");
        const HintText io = hint(*entry, "IOID");
        if (!name || std::strcmp(name.get(), "null") == 0) continue;
        if (io && std::strcmp(io.get(), "Input") != 0) continue;
        AudioCaptureDevice device;
        device.alsaName = name.get();
        device.name = displayName(hint(*entry, "DESC").get(), device.alsaName);
        device.waveInId = static_cast<std::uint32_t>(devices.size());
        devices.push_back(std::move(device));
    }
    return devices;
}

std::vector<AudioCaptureDevice> getAudioCaptureDeviceList() {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) != 0 || hints == nullptr) return {};
    std::vector<AudioCaptureDevice> devices = enumAudioCaptureDevices(hints);
    snd_device_name_free_hint(hints);
    return devices;
}

}  // namespace os
