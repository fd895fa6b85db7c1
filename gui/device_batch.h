#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_set>
#include <vector>

#include <boost/shared_ptr.hpp>

namespace device {
class DeviceBase;
}

namespace frm {

/// The devices whose state changed, gathered where the collection reports
/// them and handed to the GUI thread in batches: among thousands of sending
/// devices the GUI thread files and redraws once per batch instead of once
/// per device.
///
/// Threads: add from any thread (the collection's workers), take on the GUI
/// thread; one mutex guards everything. The owner schedules one hand-over
/// when add asks for it and calls take when it runs. Owned by the main
/// window.
class DeviceBatch {
public:
    typedef boost::shared_ptr<device::DeviceBase> DevicePtr;

    /// Notes a device (a device already noted is noted once). True when no
    /// hand-over is pending: the caller schedules one.
    bool add(const DevicePtr& device);
    /// The devices noted since the last take, in the order of their first
    /// note; the next add asks for a hand-over again.
    std::vector<DevicePtr> take();
    std::size_t size() const;

private:
    mutable std::mutex m_lock;
    std::vector<DevicePtr> m_devices;
    std::unordered_set<const device::DeviceBase*> m_noted;
    bool m_handOverPending = false;
};

}  // namespace frm
