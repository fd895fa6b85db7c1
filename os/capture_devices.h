#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The audio capture devices (microphones, line inputs) the operator can
// broadcast from, from ALSA's PCM name hints.
namespace os {

struct AudioCaptureDevice {
    /// What the operator sees: the ALSA description, its lines joined by
    /// " - ", else the ALSA name.
    std::wstring name;
    /// The device's place in the list of this enumeration.
    std::uint32_t waveInId = 0;
    /// What the stream code opens ("hw:CARD=USB,DEV=0", "default", ...).
    std::string alsaName;
};

/// Every PCM that can capture (ALSA's IOID "Input" or none, which means
/// both), in ALSA's order; ALSA's "null" sink is left out. Empty when ALSA
/// gives no hints. Built anew on each call, so devices plugged in since are
/// seen.
std::vector<AudioCaptureDevice> getAudioCaptureDeviceList();

/// The records of a hint list as snd_device_name_hint gives it.
std::vector<AudioCaptureDevice> enumAudioCaptureDevices(void** hints);

}  // namespace os
