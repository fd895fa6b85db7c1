#include "tools/soak/minute_schedule.h"

#include <cwchar>
#include <ctime>
#include <string>

namespace soak {

namespace {
constexpr scheduler::TimePoint kTickDelay = 10'000;  // the scheduler's 1 ms past the minute
}  // namespace

MinuteSchedule::MinuteSchedule(scheduler::TimePoint start, double speed, scheduler::TimePoint until,
                               scheduler::task::Dispatch dispatch)
    : m_clock(std::make_shared<SteppedClock>(start, speed)), m_ledger(std::make_shared<MinuteLedger>(kTickDelay)) {
    m_core = std::make_unique<scheduler::Core>(m_clock);
    m_started = m_clock->now();
    const scheduler::task::Environment environment{m_clock, std::move(dispatch)};
    std::uint32_t id = 1;
    for (scheduler::TimePoint minute = scheduler::floorToMinute(start) + scheduler::kTicksPerMinute;
         minute <= until; minute += scheduler::kTicksPerMinute) {
        const std::tm local = scheduler::toLocalCalendar(minute);
        wchar_t date[16];
        wchar_t time[8];
        std::swprintf(date, 16, L"%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        std::swprintf(time, 8, L"%02d:%02d", local.tm_hour, local.tm_min);
        // The event may run after this object is gone: it holds what it needs.
        auto event = [ledger = m_ledger, clock = m_clock, minute] { ledger->fired(minute, clock->now()); };
        m_core->putTask(
            std::make_shared<scheduler::task::Daily>(id++, date, time, std::wstring(), event, environment));
    }
}

MinuteSchedule::~MinuteSchedule() { stop(); }

void MinuteSchedule::step(scheduler::TimePoint by) {
    if (m_stepFrom != 0) return;
    m_stepFrom = m_clock->step(by);
    m_stepTo = m_stepFrom + by;
}

void MinuteSchedule::close(scheduler::TimePoint margin) {
    m_ended = m_clock->now() - margin;
    if (m_stepFrom != 0) {
        m_ledger->ranThrough(m_started, m_stepFrom);
        m_ledger->ranThrough(m_stepTo, m_ended);
    } else {
        m_ledger->ranThrough(m_started, m_ended);
    }
}

void MinuteSchedule::stop() {
    if (m_core) m_core->stop();
}

}  // namespace soak
