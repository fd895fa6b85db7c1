#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "device/device_base.h"
#include "device/memory/audio_control.h"

namespace device::sim {

/// A device object that does nothing of its own: tests and benchmarks use it
/// for the request layer of DeviceBase and override what they exercise.
class StubDevice : public device::DeviceBase {
public:
    using DeviceBase::DeviceBase;

    bool isFirmwareSuitable(boost::shared_ptr<device::IFirmware>) override { return false; }
    bool setVolume(std::uint32_t) override { return false; }
    bool parsePing(const std::string&, const net::IpAndPort&) override { return false; }
    bool hasInternalPlaying() override { return false; }
    std::wstring getPlaybackTypeText() override { return L""; }
    device::ConfigCommon readConfig(bool) override { return {}; }
    bool writeConfig(const device::ConfigCommon&) override { return false; }
    std::string getDebugInfo() override { return {}; }
    void handleVolume(const std::string&) override {}

protected:
    boost::shared_ptr<device::memory::IAudioControl> createAudioControl(bool) override { return {}; }
};

}  // namespace device::sim
