#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scheduler/task.h"
#include "tests/scheduler/manual_clock.h"

namespace testing_support {

/// The scheduler's tick comes 1 ms past the minute.
constexpr scheduler::TimePoint kTickDelay = 10'000;

/// A point given in UTC; expectations are written this way so that they do
/// not go through the conversions under test.
inline scheduler::TimePoint utc(int year, int month, int day, int hour, int minute, int second = 0,
                                int millisecond = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return scheduler::fromTimeT(timegm(&tm)) + millisecond * 10'000LL;
}

/// Every run of every task event, with the clock's time when it ran.
class RunLog {
public:
    struct Run {
        std::uint32_t id;
        scheduler::TimePoint at;
        bool operator==(const Run& o) const { return id == o.id && at == o.at; }
    };

    explicit RunLog(std::shared_ptr<ManualClock> clock) : m_clock(std::move(clock)) {}

    scheduler::task::Event event(std::uint32_t id) {
        return [this, id] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_runs.push_back({id, m_clock->now()});
        };
    }

    /// The test clock, and a hand-off that runs the event at once: the events
    /// here only record, so they may run on the scheduler thread.
    scheduler::task::Environment environment() {
        return {m_clock, [this](const std::wstring& description, scheduler::task::Event job) {
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_descriptions.push_back(description);
                    }
                    job();
                }};
    }

    std::vector<Run> runs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_runs;
    }
    std::vector<scheduler::TimePoint> timesOf(std::uint32_t id) {
        std::vector<scheduler::TimePoint> times;
        for (const Run& r : runs())
            if (r.id == id) times.push_back(r.at);
        return times;
    }
    std::vector<std::wstring> descriptions() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_descriptions;
    }

private:
    std::shared_ptr<ManualClock> m_clock;
    std::mutex m_mutex;
    std::vector<Run> m_runs;
    std::vector<std::wstring> m_descriptions;
};

/// Tests that need another time zone set it here; the test program's own
/// zone (UTC) comes back afterwards.
class SchedulerTest : public ::testing::Test {
protected:
    void useZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    void TearDown() override { useZone("UTC"); }

    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>(0);
    RunLog m_log{m_clock};
};

}  // namespace testing_support
