#include <chrono>
#include <cwchar>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/thread_dispatcher.h"
#include "scheduler/task.h"
#include "tests/scheduler/scheduler_fixture.h"

using namespace scheduler;
using scheduler::task::Daily;
using scheduler::task::Once;
using testing_support::kTickDelay;
using testing_support::utc;

class TaskRuns : public testing_support::SchedulerTest {
protected:
    /// Calls run() as the scheduler thread would at that time; the number of
    /// runs the task made.
    std::size_t runAt(task::ITask& task, TimePoint now) {
        m_clock->set(now);
        const std::size_t before = m_log.runs().size();
        task.run(floorToMinute(now) + kTicksPerSecond);
        return m_log.runs().size() - before;
    }
};

TEST_F(TaskRuns, OnceRunsOnceInsideItsMinuteEvenUpTo59SecondsLate) {
    m_clock->set(utc(2025, 6, 10, 10, 0));
    Once task(1, L"2025-06-10", L"10:05", m_log.event(1), m_log.environment());
    EXPECT_EQ(runAt(task, utc(2025, 6, 10, 10, 4, 59, 999)), 0u);
    EXPECT_EQ(runAt(task, utc(2025, 6, 10, 10, 5) + kTickDelay), 1u);
    EXPECT_EQ(runAt(task, utc(2025, 6, 10, 10, 5, 30)), 0u) << "the run closed the window";
    EXPECT_EQ(runAt(task, utc(2025, 6, 11, 10, 5) + kTickDelay), 0u);
    EXPECT_EQ(m_log.descriptions(), std::vector<std::wstring>{L"run task"});

    m_clock->set(utc(2025, 6, 10, 10, 5, 30));
    Once late(2, L"2025-06-10", L"10:05", m_log.event(2), m_log.environment());
    EXPECT_EQ(runAt(late, utc(2025, 6, 10, 10, 5, 59)), 1u);
    m_clock->set(utc(2025, 6, 10, 10, 6, 10));
    Once missed(3, L"2025-06-10", L"10:05", m_log.event(3), m_log.environment());
    EXPECT_EQ(runAt(missed, utc(2025, 6, 10, 10, 6, 10)), 0u);
    missed.reinit(utc(2025, 6, 10, 10, 7));
    for (int day = 1; day <= 3; ++day)
        EXPECT_EQ(runAt(missed, utc(2025, 6, 10 + day, 10, 5) + kTickDelay), 0u);
}

TEST_F(TaskRuns, DailyCreatedAfterItsMinuteStartsTomorrow) {
    m_clock->set(utc(2025, 6, 10, 10, 0));
    Daily past(1, L"2025-06-10", L"09:30", L"", m_log.event(1), m_log.environment());
    EXPECT_EQ(past.getNextRun(), utc(2025, 6, 11, 9, 30));
    EXPECT_EQ(runAt(past, utc(2025, 6, 11, 9, 30) + kTickDelay), 1u);
    EXPECT_EQ(runAt(past, utc(2025, 6, 11, 9, 30, 30)), 0u) << "one run a day";
    EXPECT_EQ(runAt(past, utc(2025, 6, 12, 9, 30) + kTickDelay), 1u);
}

TEST_F(TaskRuns, DailyFromLongAgoCatchesUpToTheNextMinute) {
    m_clock->set(utc(2025, 6, 10, 10, 0));
    Daily task(1, L"2020-01-01", L"09:30", L"", m_log.event(1), m_log.environment());
    EXPECT_EQ(task.getNextRun(), utc(2025, 6, 11, 9, 30));
    task.reinit(utc(2025, 6, 11, 9, 30));
    EXPECT_EQ(task.getNextRun(), utc(2025, 6, 11, 9, 30)) << "a next run equal to now stays";
    // A clock set on by weeks skips the days in between.
    EXPECT_EQ(runAt(task, utc(2025, 7, 1, 9, 31) + kTickDelay), 0u);
    EXPECT_EQ(task.getNextRun(), utc(2025, 7, 2, 9, 30));
    // The catch-up moves the next run past now, even when today's minute
    // began less than 59 s ago (after a suspend, say).
    EXPECT_EQ(runAt(task, utc(2025, 7, 4, 9, 30, 20)), 0u);
    EXPECT_EQ(task.getNextRun(), utc(2025, 7, 5, 9, 30));
}

TEST_F(TaskRuns, FinalDateIncludesItsLastMinute) {
    m_clock->set(utc(2025, 6, 9, 12, 0));
    Daily task(1, L"2025-06-09", L"23:59", L"2025-06-10", m_log.event(1), m_log.environment());
    EXPECT_EQ(runAt(task, utc(2025, 6, 9, 23, 59) + kTickDelay), 1u);
    EXPECT_EQ(runAt(task, utc(2025, 6, 10, 23, 59) + kTickDelay), 1u)
        << "the final date's 23:59 is inside the range";
    EXPECT_EQ(runAt(task, utc(2025, 6, 11, 23, 59) + kTickDelay), 0u);

    Daily open(2, L"2025-06-09", L"23:59", L"", m_log.event(2), m_log.environment());
    EXPECT_EQ(runAt(open, utc(2035, 6, 11, 23, 58) + kTickDelay), 0u);
    EXPECT_EQ(runAt(open, utc(2035, 6, 11, 23, 59) + kTickDelay), 1u) << "no final date, no end";
}

TEST_F(TaskRuns, DisabledOrEventlessTasksDoNotRun) {
    m_clock->set(utc(2025, 6, 10, 10, 0));
    Daily task(1, L"2025-06-10", L"10:05", L"", m_log.event(1), m_log.environment());
    task.enable(false);
    EXPECT_EQ(runAt(task, utc(2025, 6, 10, 10, 5) + kTickDelay), 0u);
    EXPECT_EQ(runAt(task, utc(2025, 6, 10, 10, 6) + kTickDelay), 0u);
    EXPECT_EQ(task.getNextRun(), utc(2025, 6, 11, 10, 5)) << "a disabled task keeps up";
    task.enable(true);
    EXPECT_EQ(runAt(task, utc(2025, 6, 11, 10, 5) + kTickDelay), 1u);

    task.setEvent(nullptr);
    EXPECT_EQ(runAt(task, utc(2025, 6, 12, 10, 5) + kTickDelay), 0u);
    EXPECT_EQ(task.getNextRun(), utc(2025, 6, 12, 10, 5)) << "a skipped task is not consumed";
    task.setEvent(m_log.event(1));
    EXPECT_EQ(runAt(task, utc(2025, 6, 12, 10, 5, 30)), 1u);
}

TEST_F(TaskRuns, BadTextsFailConstructionAndLeaveAnExistingTaskAlone) {
    m_clock->set(utc(2025, 6, 10, 10, 0));
    EXPECT_THROW(Once(1, L"2025-6-10", L"10:05", m_log.event(1), m_log.environment()),
                 exception::IncorrectFormat);
    EXPECT_THROW(Daily(1, L"2025-06-10", L"10:05", L"someday", m_log.event(1), m_log.environment()),
                 exception::IncorrectFormat);

    Daily task(1, L"2025-06-10", L"10:05", L"2025-06-20", m_log.event(1), m_log.environment());
    EXPECT_THROW(task.setDateTime(L"2025-06-12", L"11:00", L"2025-13-01"),
                 exception::IncorrectFormat);
    EXPECT_EQ(runAt(task, utc(2025, 6, 10, 10, 5) + kTickDelay), 1u);
    EXPECT_EQ(runAt(task, utc(2025, 6, 11, 10, 5) + kTickDelay), 1u);
    EXPECT_EQ(task.getEnd(), utc(2025, 6, 21, 0, 0) - 1);
}

TEST(TaskOnTheSystem, ADueEventRunsOnTheJobDispatcher) {
    base::ThreadDispatcher::create();
    std::promise<std::thread::id> ran;
    // One reading of the clock for the task's minute, and the run a second
    // into it: the run window closes 59 s in, so a reading in the minute's
    // last second would make the task look overdue.
    const auto now = systemNow();
    const std::tm local = toLocalCalendar(now);
    wchar_t date[16];
    wchar_t time[8];
    std::wcsftime(date, 16, L"%Y-%m-%d", &local);
    std::wcsftime(time, 8, L"%H:%M", &local);
    Once task(1, date, time, [&ran] { ran.set_value(std::this_thread::get_id()); });
    task.run(floorToMinute(now) + kTicksPerSecond);
    auto done = ran.get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(done.get(), std::this_thread::get_id());
    base::ThreadDispatcher::destroy();
}
