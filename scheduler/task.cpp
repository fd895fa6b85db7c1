#include "scheduler/task.h"

#include <utility>

#include "base/log.h"

namespace scheduler::task {

namespace {

/// How late a task may still run after its minute: the tick comes 1 ms past
/// the minute, so this leaves room for a slow tick but never reaches the next
/// minute's tick.
constexpr TimePoint kRunWindow = 59 * kTicksPerSecond;

}  // namespace

// ---- BaseTask ----------------------------------------------------------------

BaseTask::BaseTask(std::uint32_t id, Event event, Environment environment)
    : m_id(id), m_event(std::move(event)), m_environment(std::move(environment)) {}

void BaseTask::run(TimePoint now) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_nextRun + kRunWindow < now) reinit(now);
    if (!m_event) {
        LOG_ERROR(L"Планировщик. Событие для задания не установлено. (id=%1%)", m_id);
        return;
    }
    if (!isEnabled()) {
        LOG_DEBUG(L"scheduler: The task (id=%1%) is disabled.", m_id);
        return;
    }
    if (m_start > now || now > m_end) {
        LOG_DEBUG(L"scheduler: A datetime of task is out of range. (id=%1%)", m_id);
        return;
    }
    if (m_nextRun > now || now > m_nextRun + kRunWindow) {
        LOG_TRACE3(L"scheduler: A task is waiting next check. (id=%1%, next run is '%2%')", m_id,
                   toLocalText(m_nextRun));
        return;
    }
    if (!checkCondition(now)) {
        LOG_DEBUG(L"scheduler: A special condition is not performed. (id=%1%)", m_id);
        return;
    }
    advance(now);
    LOG_INFO(L"scheduler: execute task... (id=%1%, title='%2%')", m_id, m_title);
    m_environment.dispatch(L"run task", m_event);
}

void BaseTask::enable(bool enabled) {
    LOG_DEBUG(L"scheduler: set enable (%1%) for taskId=%2%", enabled ? L"true" : L"false", m_id);
    m_enabled.store(enabled);
}

void BaseTask::setDateTime(const std::wstring& startDate, const std::wstring& startTime,
                           const std::wstring& finalDate) {
    // Read every text before changing anything, so a bad one leaves the task whole.
    const LocalDateTime start = parseLocalDateTime(startDate, startTime);
    TimePoint end = kNoEnd;
    if (!finalDate.empty()) {
        // The whole final day counts: a task set for 23:59 runs at 23:59:00.001
        // on its final date, which an end at 23:59:00 would refuse.
        end = strUtcToTimePoint(finalDate, L"23:59") + kTicksPerMinute - 1;
    }
    const TimePoint startPoint = toTimePoint(start);

    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_startLocal = start;
    m_start = m_nextRun = startPoint;
    m_end = end;
    restartSchedule();
    LOG_DEBUG(L"scheduler: date and time are set for task (id=%1%), start date is %2%, "
              L"start utc time is %3%, end date is %4%",
              m_id, startDate, m_start, finalDate);
    reinit(m_environment.clock->now());
}

void BaseTask::setEvent(Event event) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_event = std::move(event);
}

void BaseTask::setClientData(boost::any data) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_clientData = std::move(data);
}

boost::any BaseTask::getClientData() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_clientData;
}

void BaseTask::setTitle(const std::wstring& title) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_title = title;
}

std::wstring BaseTask::getTitle() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_title;
}

TimePoint BaseTask::getNextRun() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_nextRun;
}

TimePoint BaseTask::getStart() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_start;
}

TimePoint BaseTask::getEnd() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_end;
}

// ---- Once --------------------------------------------------------------------

Once::Once(std::uint32_t id, const std::wstring& startDate, const std::wstring& startTime,
           Event event, Environment environment)
    : BaseTask(id, std::move(event), std::move(environment)) {
    LOG_TRACE(L"scheduler: create once task");
    setDateTime(startDate, startTime, std::wstring());
}

void Once::reinit(TimePoint) {
    LOG_TRACE3(L"");
}

void Once::advance(TimePoint) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_end = m_start;
}

// ---- Daily -------------------------------------------------------------------

Daily::Daily(std::uint32_t id, const std::wstring& startDate, const std::wstring& startTime,
             const std::wstring& finalDate, Event event, Environment environment)
    : BaseTask(id, std::move(event), std::move(environment)) {
    LOG_TRACE(L"scheduler: create daily task");
    setDateTime(startDate, startTime, finalDate);
}

void Daily::reinit(TimePoint now) {
    LOG_TRACE3(L"");
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_nextRun >= now) return;
    // Far behind (a start date long past, a clock set on by days): jump close
    // to now first instead of converting every day in between.
    const std::int64_t daysBehind = (now - m_nextRun) / kTicksPerDay;
    if (daysBehind > 2) moveToDay(m_day + (daysBehind - 2) / m_period * m_period);
    while (m_nextRun < now) moveToDay(m_day + m_period);
}

void Daily::advance(TimePoint) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    moveToDay(m_day + m_period);
}

void Daily::moveToDay(std::int64_t day) {
    // The same wall-clock minute on that day, not the next run plus 24 hours:
    // a change of summer time in between would move the task by an hour.
    m_day = day;
    m_nextRun = toTimePoint(m_startLocal, day);
}

}  // namespace scheduler::task
