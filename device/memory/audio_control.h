#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/function.hpp>

#include "base/exception.h"
#include "device/memory/audio_memory_types.h"

namespace device::memory {

/// The audio memory of one device (recorded fragments, scenarios, names,
/// gongs) as the device objects and the property panel reach it. A device
/// makes it on first use and keeps it (DeviceBase::getAudioControl); it is
/// shared by pointer. Lookups answer from the memory as last read or edited;
/// isPlaying asks the device. Positions and ids are 16-bit, 0xFFFF meaning
/// "none".
///
/// Threads: the page's operations run on the GUI thread and exchange with the
/// device synchronously; writeChanges reports from a worker thread; isPlaying
/// and the lookups are also called from dispatcher jobs.
///
/// The editing and transfer operations below the lookups have default bodies
/// that throw exception::NotImplemented, so that a stand-in used by a test of
/// the device classes need only provide the lookups.
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

    // ---- lists ----------------------------------------------------------------

    virtual std::vector<ScenarioInfo> getScenarios() { throw exception::NotImplemented(); }
    /// In memory order.
    virtual std::vector<FragmentInfo> getFragments() { throw exception::NotImplemented(); }
    /// The fragment whose id is `id`; none: exception::InternalError.
    virtual FragmentInfo getFragmentAt(std::uint16_t /*id*/) { throw exception::NotImplemented(); }
    /// The fragment's bytes (an MP3 file), read from the device when needed.
    virtual std::string getFragmentFile(std::uint16_t /*id*/) { throw exception::NotImplemented(); }
    /// Free bytes of the edited memory.
    virtual std::uint32_t getSizeOfFreeMemory() { throw exception::NotImplemented(); }

    // ---- playback on the device -------------------------------------------------

    virtual void playFragment(std::uint16_t /*id*/) { throw exception::NotImplemented(); }
    virtual void playScenario(std::uint16_t /*id*/) { throw exception::NotImplemented(); }
    virtual void stop() { throw exception::NotImplemented(); }

    // ---- editing ------------------------------------------------------------------

    virtual void addFragment(const std::wstring& /*title*/, const std::string& /*bytes*/) { throw exception::NotImplemented(); }
    virtual void addScenario(std::uint16_t /*gongId*/, std::uint16_t /*messageId*/, std::uint16_t /*periodSeconds*/, const std::wstring& /*title*/) {
        throw exception::NotImplemented();
    }
    /// Also removes the scenarios that play the fragment.
    virtual void removeFragment(std::uint16_t /*id*/) { throw exception::NotImplemented(); }
    virtual void removeScenario(std::uint16_t /*id*/) { throw exception::NotImplemented(); }
    virtual void clear() { throw exception::NotImplemented(); }
    /// Drops the edits; reads the device again when it is online.
    virtual void revertChanges() { throw exception::NotImplemented(); }
    /// Writes the edits to the device on a worker thread. `progress` gets 0,
    /// then percentages, then exactly one of 100 (done) or -1 (failed), from
    /// that thread. Refusals before the start are thrown here.
    virtual void writeChanges(boost::function<void(int)> /*progress*/) { throw exception::NotImplemented(); }

    // ---- image files ------------------------------------------------------------------

    /// The whole edited memory as an image ("*.a-bin" file content).
    virtual std::string getImage() { throw exception::NotImplemented(); }
    /// Replaces the edited memory by an image.
    virtual void setImage(const std::string& /*bytes*/) { throw exception::NotImplemented(); }
    /// Equal stamps mean equal content.
    virtual std::string makeMemoryStamp() { throw exception::NotImplemented(); }
};

}  // namespace device::memory
