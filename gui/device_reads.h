#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "gui/device_view.h"

namespace device {
class DeviceBase;
class OrvelInfo;
}  // namespace device

namespace frm {

/// The reads of a shown device that may wait for the device: a
/// loudspeaker's channel (with what the player and the alarm channel play
/// meanwhile), its volume, and the online probe of a device that sends state
/// packets but has not answered. The GUI thread never waits for a device: a
/// read runs as a dispatcher job, at most one job per device at a time (a
/// read asked for while one runs is left to that one's result); its result is
/// kept as the device's last known value and the done callback runs on the
/// GUI thread through the GUI-thread invoker. A read that fails keeps the
/// value before it (DEBUG line).
///
/// Threads: read, known and the destructor on the GUI thread; the jobs on
/// the dispatcher's threads. One mutex guards the jobs running and the known
/// values; it is never held across a device exchange. Jobs hold the shared
/// part alive; the done callback is dropped by the destructor, so a result
/// that comes after the owner went is not shown.
class DeviceReads {
public:
    typedef boost::shared_ptr<device::DeviceBase> DevicePtr;
    enum What : unsigned { kChannel = 1, kVolume = 2, kProbe = 4 };
    /// GUI thread, after a job: the device it read.
    using Done = std::function<void(const DevicePtr&)>;

    struct Known {
        std::optional<ChannelFacts> channel;
        std::optional<int> volume;
        /// The number of the read that brought the volume (reads are
        /// numbered as they start, from 1): a later read counts as newer.
        std::uint64_t volumeRead = 0;
    };

    explicit DeviceReads(Done done);
    ~DeviceReads();
    DeviceReads(const DeviceReads&) = delete;
    DeviceReads& operator=(const DeviceReads&) = delete;

    /// Starts a job for the reads `what` (kChannel only for a loudspeaker)
    /// unless a job of the device runs. False when none was started.
    bool read(const DevicePtr& device, unsigned what);
    Known known(const device::DeviceBase& device) const;
    /// The number of the latest read started (0: none yet).
    std::uint64_t lastStarted() const;

private:
    struct Shared;

    static void runJob(const std::shared_ptr<Shared>& shared, const DevicePtr& device, unsigned what,
                       std::uint64_t number);

    std::shared_ptr<Shared> m_shared;
};

/// What a loudspeaker's channel carries now: its channel ("get ch" unless
/// known), the player's playlist and item, and the alarm channel's message.
/// Waits for the loudspeaker; the exchange's exceptions pass on.
ChannelFacts readChannelFacts(device::OrvelInfo& loudspeaker);

}  // namespace frm
