#pragma once

#include <cstdint>

#include <boost/function.hpp>

namespace device::memory {

/// The audio memory of one device (recorded fragments, scenarios, names,
/// gongs) as the device objects and the property panel reach it. A device
/// makes it on first use and keeps it (DeviceBase::getAudioControl); it is
/// shared by pointer. Lookups answer from the memory as last read or edited;
/// isPlaying asks the device. Positions and ids are 16-bit, 0xFFFF meaning
/// "none".
class IAudioControl {
public:
    static constexpr std::uint16_t kNone = 0xFFFF;

    virtual ~IAudioControl() = default;

    /// Two functions called around every change of the scenarios, from
    /// whatever thread makes the change; they may exchange with the device.
    virtual void setScenariosChangedCallbacks(boost::function<void()> before, boost::function<void()> after) = 0;

    /// Whether the device plays from its audio memory now.
    virtual bool isPlaying() = 0;
    /// Edits not yet written to the device.
    virtual bool hasChanges() = 0;

    virtual bool hasScenario(std::uint16_t id) = 0;
    virtual std::uint16_t getScenarioPosition(std::uint16_t id) = 0;
    virtual std::uint16_t getScenarioId(std::uint16_t position) = 0;

    virtual bool hasFragment(std::uint16_t id) = 0;
    virtual std::uint16_t getFragmentPosition(std::uint16_t id) = 0;
    virtual std::uint16_t getFragmentId(std::uint16_t position) = 0;
};

}  // namespace device::memory
