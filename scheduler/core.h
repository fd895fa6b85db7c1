#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "scheduler/clock.h"
#include "scheduler/task.h"

namespace scheduler {

/// The task registry and the scheduler thread. The thread wakes 1 ms past
/// every full minute, notices a clock that was set back or on, and runs every
/// task in id order; the tasks decide themselves whether they are due and hand
/// their events on, so no event runs on the scheduler thread.
///
/// The GUI thread adds, removes and looks up tasks; the scheduler thread holds
/// the core's lock while it runs them (lock order: core, then task).
class Core {
public:
    using TaskMap = std::map<std::uint32_t, std::shared_ptr<task::ITask>>;

    /// Starts the scheduler thread; std::system_error when it cannot start.
    explicit Core(std::shared_ptr<Clock> clock = systemClock());
    /// Stops the thread (see stop()).
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    /// Refuses (false) an empty pointer, an id that is present and the id
    /// 0xFFFFFFFF. Wakes the thread, which gives the new task its chance in
    /// the current minute at once.
    bool putTask(std::shared_ptr<task::ITask> task);
    bool erase(std::uint32_t id);
    void clear();
    std::shared_ptr<task::ITask> getTask(std::uint32_t id) const;
    bool hasTask(std::uint32_t id) const;
    /// A copy, ordered by id.
    TaskMap getTasks() const;

    /// Ends the thread's sleep, removes every task and joins the thread. Safe
    /// to repeat; never call it from a task's event on the scheduler thread.
    void stop();

    /// The scheduler thread's pthread handle, for its owner to raise its
    /// priority; a default handle once stop() has joined the thread.
    pthread_t nativeHandle();

    /// Tells a sleep that lasted far longer than planned because the machine
    /// was suspended (a DEBUG line) from one of unknown cause (INFO). The owner
    /// binds the operating system's power-event check; without one every such
    /// sleep counts as of unknown cause.
    void setPowerEventCheck(std::function<bool()> check);

private:
    void schedulerThread();
    /// Sleeps until 1 ms past the planned minute. A ring from putTask runs the
    /// new tasks and sleeps on. False when the core stops.
    bool sleepUntilTick(TimePoint planned);
    void checkSleep(TimePoint calculated, TimePoint real);
    void runTasks(TimePoint now, bool reinitAll);
    void runFreshTasks(TimePoint now);

    const std::shared_ptr<Clock> m_clock;
    mutable std::recursive_mutex m_lock;
    TaskMap m_tasks;
    /// Added since the thread last ran the tasks (guarded by m_lock).
    std::vector<std::shared_ptr<task::ITask>> m_fresh;
    std::function<bool()> m_powerEventCheck;  // guarded by m_lock
    Alarm m_alarm;
    std::atomic<bool> m_stopping{false};
    std::mutex m_stopMutex;  // one stop at a time
    std::thread m_thread;    // last: starts once everything above exists
};

}  // namespace scheduler
