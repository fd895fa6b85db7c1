#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "scheduler/core.h"
#include "tests/scheduler/scheduler_fixture.h"

using namespace scheduler;
using scheduler::task::Daily;
using scheduler::task::Once;
using testing_support::kTickDelay;
using testing_support::utc;

namespace {

constexpr TimePoint kHour = 60 * kTicksPerMinute;

/// Counts what the scheduler thread asks of a task; optionally fails its runs.
class ProbeTask : public task::ITask {
public:
    explicit ProbeTask(std::uint32_t id, bool failing = false) : m_id(id), m_failing(failing) {}
    std::uint32_t getId() const override { return m_id; }
    void run(TimePoint) override {
        ++runs;
        if (m_failing) throw std::runtime_error("probe failure");
    }
    void reinit(TimePoint now) override {
        ++reinits;
        lastReinit = now;
    }
    void enable(bool) override {}
    bool isEnabled() const override { return true; }
    bool checkCondition(TimePoint) override { return true; }
    void advance(TimePoint) override {}

    std::atomic<int> runs{0};
    std::atomic<int> reinits{0};
    std::atomic<TimePoint> lastReinit{0};

private:
    std::uint32_t m_id;
    bool m_failing;
};

}  // namespace

class CoreTicks : public testing_support::SchedulerTest {
protected:
    /// A core whose clock starts at `start`; returns once its thread sleeps.
    Core& startCore(TimePoint start) {
        m_clock->set(start);
        m_core = std::make_unique<Core>(m_clock);
        m_clock->waitAsleep();
        return *m_core;
    }
    void put(std::shared_ptr<task::ITask> task) {
        m_clock->afterWake([&] { ASSERT_TRUE(m_core->putTask(task)); });
    }
    std::shared_ptr<Once> once(std::uint32_t id, const wchar_t* date, const wchar_t* time) {
        return std::make_shared<Once>(id, date, time, m_log.event(id), m_log.environment());
    }
    std::shared_ptr<Daily> daily(std::uint32_t id, const wchar_t* first, const wchar_t* time,
                                 const wchar_t* last) {
        return std::make_shared<Daily>(id, first, time, last, m_log.event(id), m_log.environment());
    }

    void TearDown() override {
        m_core.reset();
        SchedulerTest::TearDown();
    }

    std::unique_ptr<Core> m_core;
};

TEST_F(CoreTicks, WakesJustPastEveryMinuteAndRunsADueTaskOnce) {
    startCore(utc(2025, 6, 10, 10, 0, 20));
    EXPECT_EQ(m_clock->deadline(), utc(2025, 6, 10, 10, 1) + kTickDelay);
    put(once(7, L"2025-06-10", L"10:02"));

    EXPECT_EQ(m_clock->tick(), utc(2025, 6, 10, 10, 1) + kTickDelay);
    EXPECT_TRUE(m_log.runs().empty());
    m_clock->tick();
    m_clock->runUntil(utc(2025, 6, 10, 10, 30));
    EXPECT_EQ(m_log.timesOf(7), std::vector<TimePoint>{utc(2025, 6, 10, 10, 2) + kTickDelay});
    EXPECT_EQ(m_clock->deadline(), utc(2025, 6, 10, 10, 31) + kTickDelay);
}

// The tick comes a millisecond past the minute, by a sleep on the steady
// clock: a system clock slewed against it may still show the minute's eve
// when the sleep ends. That wake-up sleeps the rest, and the task of the
// minute runs in it, not a minute late or never.
TEST_F(CoreTicks, AWakeUpTheSystemClockShowsBeforeTheMinuteSleepsTheRest) {
    startCore(utc(2025, 6, 10, 10, 0, 20));
    put(once(7, L"2025-06-10", L"10:01"));
    const TimePoint early = m_clock->tick(-kTickDelay - 50'000);  // 10:00:59.995
    EXPECT_LT(early, utc(2025, 6, 10, 10, 1));
    EXPECT_TRUE(m_log.runs().empty());
    EXPECT_EQ(m_clock->deadline(), utc(2025, 6, 10, 10, 1) + kTickDelay);
    m_clock->tick();
    EXPECT_EQ(m_log.timesOf(7), std::vector<TimePoint>{utc(2025, 6, 10, 10, 1) + kTickDelay});
}

TEST_F(CoreTicks, PutTaskRefusesTakenAndReservedIds) {
    Core& core = startCore(utc(2025, 6, 10, 10, 0));
    auto first = once(5, L"2025-06-10", L"11:00");
    EXPECT_TRUE(core.putTask(first));
    EXPECT_FALSE(core.putTask(once(5, L"2025-06-10", L"12:00")));
    EXPECT_EQ(core.getTask(5), first) << "the first task stays";
    EXPECT_FALSE(core.putTask(once(0xFFFFFFFFu, L"2025-06-10", L"11:00")));
    EXPECT_FALSE(core.hasTask(0xFFFFFFFFu));
    EXPECT_FALSE(core.putTask(nullptr));
    EXPECT_TRUE(core.putTask(once(0, L"2025-06-10", L"11:00")));
    EXPECT_TRUE(core.putTask(once(0x80000000u, L"2025-06-10", L"11:00")));

    EXPECT_EQ(core.getTasks().rbegin()->first, 0x80000000u) << "ordered by id as unsigned";
    EXPECT_FALSE(core.erase(6));
    EXPECT_TRUE(core.erase(5));
    EXPECT_EQ(core.getTasks().size(), 2u);
}

TEST_F(CoreTicks, ATaskAddedInsideItsMinuteRunsAtOnce) {
    startCore(utc(2025, 6, 10, 10, 5, 20));
    put(once(1, L"2025-06-10", L"10:05"));
    EXPECT_EQ(m_log.timesOf(1), std::vector<TimePoint>{utc(2025, 6, 10, 10, 5, 20)})
        << "without waiting for the next tick, which would be too late";

    put(daily(2, L"2025-06-10", L"10:05", L""));
    put(once(3, L"2025-06-10", L"10:04"));
    EXPECT_EQ(m_clock->deadline(), utc(2025, 6, 10, 10, 6) + kTickDelay) << "the tick plan holds";
    m_clock->runUntil(utc(2025, 6, 11, 10, 7));
    EXPECT_EQ(m_log.timesOf(2), std::vector<TimePoint>{utc(2025, 6, 11, 10, 5) + kTickDelay})
        << "a daily task made after its minute starts tomorrow";
    EXPECT_TRUE(m_log.timesOf(3).empty()) << "more than 59 s late: never";
    EXPECT_EQ(m_log.timesOf(1).size(), 1u);
}

TEST_F(CoreTicks, ClockJumpsReinitialiseEveryTaskAfterTheNextTick) {
    startCore(utc(2025, 6, 10, 10, 0, 30));
    auto probe = std::make_shared<ProbeTask>(1);
    put(probe);
    m_clock->tick();
    m_clock->tick();
    EXPECT_EQ(probe->reinits.load(), 0) << "neither the first pass nor a normal tick";

    const TimePoint back = m_clock->tick(-kHour);  // set back by an hour during the sleep
    EXPECT_EQ(back, utc(2025, 6, 10, 9, 3) + kTickDelay);
    EXPECT_EQ(probe->reinits.load(), 0);
    const TimePoint next = m_clock->tick();
    EXPECT_EQ(probe->reinits.load(), 1);
    EXPECT_EQ(probe->lastReinit.load(), next);
    EXPECT_EQ(next, utc(2025, 6, 10, 9, 4) + kTickDelay) << "ticks follow the new time";

    m_clock->tick(3 * kHour);  // set on
    m_clock->tick();
    EXPECT_EQ(probe->reinits.load(), 2);
    m_clock->tick();
    EXPECT_EQ(probe->reinits.load(), 2);
}

TEST_F(CoreTicks, ClockSetBackRunsADailyTaskOnceAndLeavesARunOnceTaskClosed) {
    startCore(utc(2025, 6, 10, 10, 0, 30));
    put(daily(1, L"2025-06-10", L"10:30", L""));
    put(daily(2, L"2025-06-10", L"11:00", L""));
    put(once(3, L"2025-06-10", L"10:20"));
    m_clock->runUntil(utc(2025, 6, 10, 10, 40));
    m_clock->tick(-30 * kTicksPerMinute);  // back to 10:11
    m_clock->runUntil(utc(2025, 6, 10, 11, 10));

    EXPECT_EQ(m_log.timesOf(1), std::vector<TimePoint>{utc(2025, 6, 10, 10, 30) + kTickDelay});
    EXPECT_EQ(m_log.timesOf(2), std::vector<TimePoint>{utc(2025, 6, 10, 11, 0) + kTickDelay});
    EXPECT_EQ(m_log.timesOf(3), std::vector<TimePoint>{utc(2025, 6, 10, 10, 20) + kTickDelay});
}

TEST_F(CoreTicks, TheRepeatedAutumnHourIsNoClockJump) {
    useZone("Europe/Berlin");
    // Autumn: 02:00-03:00 of 2025-10-26 comes twice; the ticks follow the
    // clock without taking the repeated hour for a jump.
    auto probe = std::make_shared<ProbeTask>(9);
    startCore(utc(2025, 10, 25, 7, 0));
    put(probe);
    put(daily(3, L"2025-10-25", L"09:30", L"2025-10-27"));
    m_clock->runUntil(utc(2025, 10, 28, 0, 0));
    EXPECT_EQ(m_log.timesOf(3), (std::vector<TimePoint>{utc(2025, 10, 25, 7, 30) + kTickDelay,
                                                        utc(2025, 10, 26, 8, 30) + kTickDelay,
                                                        utc(2025, 10, 27, 8, 30) + kTickDelay}));
    EXPECT_EQ(probe->reinits.load(), 0);
}

TEST_F(CoreTicks, AFailingTaskDoesNotStopTheOthers) {
    startCore(utc(2025, 6, 10, 10, 0, 30));
    auto failing = std::make_shared<ProbeTask>(1, true);
    put(failing);
    put(once(2, L"2025-06-10", L"10:02"));
    m_clock->runUntil(utc(2025, 6, 10, 10, 3));
    EXPECT_GE(failing->runs.load(), 3);
    EXPECT_EQ(m_log.timesOf(2).size(), 1u);
}

TEST_F(CoreTicks, StopEndsTheSleepAndDropsTheTasks) {
    Core& core = startCore(utc(2025, 6, 10, 10, 0));
    put(once(1, L"2025-06-10", L"11:00"));
    core.stop();
    EXPECT_TRUE(core.getTasks().empty());
    EXPECT_EQ(core.nativeHandle(), pthread_t()) << "no handle of a joined thread to raise";
    core.stop();  // again, and once more from the destructor
}

TEST(CoreOnTheSystemClock, StopInterruptsARealSleepAtOnce) {
    const auto started = std::chrono::steady_clock::now();
    {
        Core core;
        EXPECT_NE(core.nativeHandle(), pthread_t()) << "the running scheduler thread's handle";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}
