#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// The request by which another copy of the program (started with --quit)
// asks the running one to stop: a notify-all on a named interprocess
// condition, guarded by a named interprocess mutex. Boost.Interprocess keeps
// both as shared-memory objects in /dev/shm, which the whole machine shares,
// so their names carry the device and inode of this user's runtime folder
// (single_instance.h): copies of different users, and tests with runtime
// folders of their own, never meet. The user id would not do: inside the
// user namespace of scripts/netns-run it reads 0.
namespace os {

struct StopRequestNames {
    std::string mutex;      // "SONVAR_STOP_APP_MUTEX_<device>:<inode>"
    std::string condition;  // "SONVAR_STOP_APP_CONDITION_<device>:<inode>"
};

/// The names for the current runtime folder (made when missing).
StopRequestNames stopRequestNames();

/// The waiting side; the running copy's stop thread alone makes one. Its
/// construction removes what an earlier run left under the names and makes
/// both objects afresh; its destruction removes them. A notify that comes
/// before wait() has begun is not heard: notifiers repeat theirs (see
/// stopRunningCopy). Boost.Interprocess errors are thrown as
/// boost::interprocess::interprocess_exception.
class StopRequestWaiter {
public:
    StopRequestWaiter();
    ~StopRequestWaiter();
    StopRequestWaiter(const StopRequestWaiter&) = delete;
    StopRequestWaiter& operator=(const StopRequestWaiter&) = delete;

    /// Waits once for a notify. `waiting` runs with the mutex held, just
    /// before the wait begins: a notifier that takes the mutex after it is
    /// heard.
    void wait(const std::function<void()>& waiting = {});

private:
    struct Objects;
    StopRequestNames m_names;
    std::unique_ptr<Objects> m_objects;
};

/// Wakes the waiter of this runtime folder, if there is one: opens both
/// objects, takes the mutex and notifies all. Nothing happens when no waiter
/// has made them. Any thread or process.
void notifyStopRequest();

enum class QuitResult {
    NotRunning,    // no copy held the single-instance lock
    Stopped,       // the running copy released it within the limit
    StillRunning,  // it still holds it after the limit
};

/// The --quit path: when a copy runs, notifies it every `period` until it
/// releases the single-instance lock or `limit` has passed. The repetition
/// covers a copy whose stop thread does not wait yet. `notify` is replaceable
/// for tests. The limit covers the longest exit: the writes of a device's
/// settings under way (30 s at most), then the loudspeakers given back.
QuitResult stopRunningCopy(std::chrono::milliseconds period = std::chrono::milliseconds(200),
                           std::chrono::milliseconds limit = std::chrono::seconds(40),
                           const std::function<void()>& notify = notifyStopRequest);

}  // namespace os
