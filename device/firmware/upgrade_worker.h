#pragma once

#include <boost/function.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

namespace device {

/// Owns the thread of one device's firmware upgrade. A transfer takes
/// minutes, so it runs on a thread of its own rather than on the dispatcher.
///
/// The thread holds the device by shared pointer while it sends and by weak
/// pointer while it waits for the device to restart, so the device (and this
/// owner with it) may be destroyed only while the thread waits, has ended, or
/// on the thread itself as it lets go of its last pointer. The destructor
/// interrupts and joins in the first two cases and detaches in the last.
class UpgradeWorker {
public:
    UpgradeWorker() = default;
    ~UpgradeWorker();
    UpgradeWorker(const UpgradeWorker&) = delete;
    UpgradeWorker& operator=(const UpgradeWorker&) = delete;

    /// Starts `body` on a new thread, first joining the thread of the previous
    /// upgrade (it has ended, or is at its very end handing over to the next
    /// image). Runs on a dispatcher job. Throws boost::thread_resource_error
    /// when no thread can be made.
    void start(boost::function<void()> body);

private:
    boost::mutex m_lock;  // guards m_thread
    boost::thread m_thread;
};

}  // namespace device
