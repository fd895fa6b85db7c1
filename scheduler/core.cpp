#include "scheduler/core.h"

#include <cstdlib>
#include <exception>
#include <utility>

#include "base/exception.h"
#include "base/log.h"

namespace scheduler {

namespace {

/// The tick comes this long after the full minute: a task's notice starts
/// with it, so it is kept short. A wake-up that the system clock still shows
/// before the minute (a clock slewed against the steady one the sleep counts
/// on) sleeps the rest.
constexpr TimePoint kTickDelay = 10'000;  // 1 ms
/// A clock that differs from the plan by more than this was set.
constexpr TimePoint kJumpTolerance = kTicksPerSecond;
/// A sleep this much longer (or shorter) than planned is worth a log line.
constexpr TimePoint kSleepDivergence = 25'000 * 10'000;  // 25 s

constexpr std::int64_t toMilliseconds(TimePoint ticks) { return ticks / 10'000; }

/// Runs one task's step; a failing task is logged and the others still run.
template <class Step>
void guarded(const task::ITask& task, const wchar_t* step, Step&& body) {
    try {
        body();
    } catch (const exception::Base& e) {
        LOG_ERROR(L"scheduler: %1% of task (id=%2%) failed: %3% / %4%", step, task.getId(),
                  e.getNotification(), e.getDetails());
    } catch (const std::exception& e) {
        LOG_ERROR(L"scheduler: %1% of task (id=%2%) failed: %3%", step, task.getId(), std::string(e.what()));
    }
}

}  // namespace

Core::Core(std::shared_ptr<Clock> clock) : m_clock(std::move(clock)) {
    m_thread = std::thread([this] { schedulerThread(); });
}

Core::~Core() { stop(); }

bool Core::putTask(std::shared_ptr<task::ITask> task) {
    if (!task) return false;
    const std::uint32_t id = task->getId();
    if (id == 0xFFFFFFFFu) return false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (!m_tasks.emplace(id, task).second) return false;
        if (!m_stopping.load()) m_fresh.push_back(std::move(task));
        LOG_DEBUG(L"scheduler: task added with id=%1%", id);
    }
    m_alarm.ring();
    return true;
}

bool Core::erase(std::uint32_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const auto found = m_tasks.find(id);
    if (found == m_tasks.end()) {
        LOG_WARN(L"Планировщик. Номер задания не найден: %1%", id);
        return false;
    }
    LOG_DEBUG(L"scheduler: erase number task: %1%", id);
    m_tasks.erase(found);
    return true;
}

void Core::clear() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_tasks.clear();
    m_fresh.clear();
    LOG_DEBUG(L"scheduler: clear all task");
}

std::shared_ptr<task::ITask> Core::getTask(std::uint32_t id) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const auto found = m_tasks.find(id);
    return found == m_tasks.end() ? nullptr : found->second;
}

bool Core::hasTask(std::uint32_t id) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_tasks.count(id) != 0;
}

Core::TaskMap Core::getTasks() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_tasks;
}

void Core::stop() {
    std::lock_guard<std::mutex> stopLock(m_stopMutex);
    if (!m_thread.joinable()) return;
    m_stopping.store(true);
    m_alarm.ring();
    clear();
    m_thread.join();  // from the scheduler thread itself this throws std::system_error
}

pthread_t Core::nativeHandle() {
    std::lock_guard<std::mutex> stopLock(m_stopMutex);
    return m_thread.joinable() ? m_thread.native_handle() : pthread_t();
}

void Core::setPowerEventCheck(std::function<bool()> check) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_powerEventCheck = std::move(check);
}

void Core::schedulerThread() {
    // The minute that the last tick handled; the loop plans the one after it.
    TimePoint planned = floorToMinute(m_clock->now());
    bool reinitAll = false;
    bool firstPass = true;
    while (!m_stopping.load()) {
        LOG_TRACE3(L"scheduler: next loop");
        const TimePoint now = m_clock->now();
        // On the first pass `planned` is this minute's start by construction,
        // not the time of a tick, so there is nothing to compare yet.
        if (!firstPass && planned > now + kJumpTolerance) {
            LOG_DEBUG(L"scheduler: system time was changed backward");
            planned = floorToMinute(now);
            reinitAll = true;
        } else if (!firstPass && planned < now - kJumpTolerance) {
            LOG_DEBUG(L"scheduler: system time was changed forward");
            planned = floorToMinute(now);
            reinitAll = true;
        }
        firstPass = false;
        planned += kTicksPerMinute;
        if (!sleepUntilTick(planned)) return;
        runTasks(m_clock->now(), reinitAll);
        reinitAll = false;
    }
}

bool Core::sleepUntilTick(TimePoint planned) {
    const TimePoint wakeAt = planned + kTickDelay;
    for (;;) {
        const TimePoint before = m_clock->now();
        TimePoint duration = wakeAt - before;
        LOG_TRACE2(L"scheduler: falls asleep for %1% mS", toMilliseconds(duration));
        if (duration < 0) {
            LOG_WARN(L"Планировщик. Требуемое время сна отрицательно. (%1% mS)", toMilliseconds(duration));
            duration = 0;
        }
        const bool rung = m_clock->sleep(duration, m_alarm);
        if (m_stopping.load()) return false;
        LOG_TRACE2(L"scheduler: woke up.");
        const TimePoint after = m_clock->now();
        if (!rung) {
            // Woken a little early by the system clock: not yet the minute.
            if (after < planned && after >= planned - kJumpTolerance) continue;
            checkSleep(duration, after - before);
            return true;
        }
        runFreshTasks(after);
        // The clock was set while the thread slept: the loop's checks see it.
        if (after > wakeAt + kJumpTolerance || after < planned - kTicksPerMinute - kJumpTolerance)
            return true;
    }
}

void Core::checkSleep(TimePoint calculated, TimePoint real) {
    const TimePoint divergence = real - calculated;
    LOG_TRACE3(L"scheduler: the durations of sleep are calculated=%1%, real=%2%, divergence=%3% mS",
               toMilliseconds(calculated), toMilliseconds(real), toMilliseconds(divergence));
    if (std::llabs(divergence) <= kSleepDivergence) return;
    std::function<bool()> check;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        check = m_powerEventCheck;
    }
    if (check && check())
        LOG_DEBUG(L"scheduler: the duration of sleep is %1% mS", toMilliseconds(real));
    else
        LOG_INFO(L"scheduler: the duration of sleep is incorrect. (%1% mS)", toMilliseconds(real));
}

void Core::runTasks(TimePoint now, bool reinitAll) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_fresh.clear();  // this pass covers them
    for (const auto& entry : m_tasks) {
        task::ITask& task = *entry.second;
        guarded(task, L"run", [&] { task.run(now); });
    }
    if (!reinitAll) return;
    LOG_TRACE2(L"scheduler: It needs to reinitialize all tasks.");
    for (const auto& entry : m_tasks) {
        task::ITask& task = *entry.second;
        guarded(task, L"reinit", [&] { task.reinit(now); });
    }
}

void Core::runFreshTasks(TimePoint now) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (const auto& task : m_fresh) {
        // Erased or replaced meanwhile: not ours to run any more.
        const auto found = m_tasks.find(task->getId());
        if (found == m_tasks.end() || found->second != task) continue;
        guarded(*task, L"run", [&] { task->run(now); });
    }
    m_fresh.clear();
}

}  // namespace scheduler
