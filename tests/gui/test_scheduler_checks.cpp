// The questions the pages ask of the scheduled tasks: does a task play this
// file (before a message or recording is deleted), and does a task fall
// within the task list's date and time filters. Tasks of a real core; no
// window.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "gui/scheduler_checks.h"
#include "tests/gui/scheduler_support.h"

namespace {

using scheduler_testing::Planner;
using scheduler_testing::TaskPtr;

class SchedulerChecks : public scheduler_testing::SchedulerSite, public testing::WithParamInterface<bool> {
protected:
    bool emptyFolderSettings() const override { return GetParam(); }
    void SetUp() override {
        SchedulerSite::SetUp();
        m_planner = std::make_unique<Planner>(m_site.collection, makeSources());
    }
    void TearDown() override {
        m_planner.reset();
        SchedulerSite::TearDown();
    }

    /// A task with only its record's dates and times, as the filters read it.
    TaskPtr planned(const std::wstring& startDate, const std::wstring& finalDate,
                    const std::wstring& startTime, const std::wstring& stopTime) {
        auto task = std::make_shared<scheduler::task::Daily>(
            ++m_id, L"2024-03-05", L"10:00", L"", scheduler::task::Event(), m_planner->environment());
        scheduler::task::DataVault vault;
        vault.startDate = startDate;
        vault.finalDate = finalDate;
        vault.startTime = startTime;
        vault.stopTime = stopTime;
        scheduler::task::setVault(*task, vault);
        return task;
    }
    bool dateInside(const std::wstring& start, const std::wstring& final, const std::wstring& filter) {
        return scheduler::isInsideDate(*planned(start, final, L"10:00", L""), filter);
    }
    bool timeInside(const std::wstring& start, const std::wstring& stop, const std::wstring& from,
                    const std::wstring& to) {
        return scheduler::isInsideTime(*planned(L"2024-03-05", L"", start, stop), from, to);
    }
    boost::shared_ptr<frm::IPlayback> source(const std::wstring& key, const std::wstring& name) {
        return find(m_planner->store.getSources(), key, name);
    }

    std::unique_ptr<Planner> m_planner;
    std::uint32_t m_id = 100;
};

TEST_P(SchedulerChecks, DatesAreInsideBetweenBothDaysInclusiveAndADailyTaskWithoutALastDayHasNoEnd) {
    EXPECT_TRUE(dateInside(L"2024-03-05", L"2024-03-10", L"2024-03-05")) << "the first day";
    EXPECT_TRUE(dateInside(L"2024-03-05", L"2024-03-10", L"2024-03-10")) << "the last day";
    EXPECT_FALSE(dateInside(L"2024-03-05", L"2024-03-10", L"2024-03-04"));
    EXPECT_FALSE(dateInside(L"2024-03-05", L"2024-03-10", L"2024-03-11"));
    EXPECT_TRUE(dateInside(L"2024-03-05", L"2024-03-10", L"2024-3-5")) << "numbers, not texts";
    EXPECT_TRUE(dateInside(L"2024-3-5", L"2024-3-5", L"2024-03-05"));
    EXPECT_FALSE(dateInside(L"2024-03-05", L"2024-03-10", L"2023-12-31")) << "year before month";
    EXPECT_TRUE(dateInside(L"2024-02-28", L"2024-03-01", L"2024-02-29"));

    EXPECT_TRUE(dateInside(L"2024-03-05", L"", L"2031-01-01")) << "no last day: no end";
    EXPECT_FALSE(dateInside(L"2024-03-05", L"", L"2024-03-04"));
    EXPECT_FALSE(dateInside(L"", L"", L"2024-03-05")) << "a task without a record";
    EXPECT_FALSE(dateInside(L"2024-03-05", L"2024-03-10", L"5.3.2024"));
    EXPECT_FALSE(dateInside(L"2024-03-05", L"2024-03-10", L"2024-03-05x"));
    EXPECT_TRUE(
        logged("Check inside of date: filter 2024-3-5. Task has 2024-03-05 & 2024-03-10. inside=true"));
}

TEST_P(SchedulerChecks, TimesPassEachBoundAloneOrBothTogether) {
    // The lower bound alone: the start counts, whatever the stop.
    EXPECT_TRUE(timeInside(L"08:00", L"23:00", L"08:00", L""));
    EXPECT_FALSE(timeInside(L"07:59", L"08:30", L"08:00", L""));
    // The upper bound alone: the stop counts.
    EXPECT_TRUE(timeInside(L"06:00", L"18:00", L"", L"18:00"));
    EXPECT_FALSE(timeInside(L"06:00", L"18:01", L"", L"18:00"));
    // Both: the whole window.
    EXPECT_FALSE(timeInside(L"07:00", L"09:00", L"08:00", L"18:00"));
    EXPECT_FALSE(timeInside(L"17:00", L"19:00", L"08:00", L"18:00"));
    EXPECT_TRUE(timeInside(L"08:00", L"18:00", L"08:00", L"18:00"));
    EXPECT_TRUE(timeInside(L"9:5", L"", L"09:05", L"")) << "numbers, not texts";
    EXPECT_TRUE(timeInside(L"09:05", L"10:00", L"9:5", L"10:0"));
    // Without a stop the start stands in for it.
    EXPECT_TRUE(timeInside(L"17:00", L"", L"", L"18:00"));
    EXPECT_FALSE(timeInside(L"18:30", L"", L"", L"18:00"));
    EXPECT_TRUE(timeInside(L"09:00", L"", L"08:00", L"18:00"));
    // No bound, or texts that are no times.
    EXPECT_FALSE(timeInside(L"09:00", L"10:00", L"", L""));
    EXPECT_FALSE(timeInside(L"09:00", L"10:00", L"8 ч", L""));
    EXPECT_FALSE(timeInside(L"", L"", L"08:00", L""));
}

TEST_P(SchedulerChecks, AFileIsUsedThroughEitherTaskOfAPairByItsWholePathUntilTheTasksGo) {
    m_planner->plan(source(L"serviceMessage", L"Объявления: Обед"), true, L"2024-03-05", L"08:30", L"",
                    L"09:00", {}, folder(L"gong/гонг.mp3"));
    m_planner->plan(source(L"serviceMessage", L"Тревога: Пожар"), false, L"2024-03-06", L"08:30", L"", L"",
                    {});
    m_planner->plan(source(L"playlist", L"Утро"), false, L"2024-03-06", L"08:30", L"", L"", {});
    scheduler::Core& core = m_planner->core;
    const std::wstring message = folder(L"service/обед.mp3");
    const std::wstring gong = folder(L"gong/гонг.mp3");

    EXPECT_TRUE(scheduler::isUsed(core, message));
    EXPECT_TRUE(scheduler::isUsed(core, gong));
    EXPECT_TRUE(scheduler::isUsed(core, folder(L"alarm/пожар.mp3")));
    EXPECT_FALSE(scheduler::isUsed(core, folder(L"gong/Гонг.mp3"))) << "letter case counts";
    EXPECT_FALSE(scheduler::isUsed(core, folder(L"service/обед")));
    EXPECT_FALSE(scheduler::isUsed(core, L"")) << "a group has no path; gong-less tasks must not claim it";

    EXPECT_TRUE(core.erase(1));
    EXPECT_TRUE(scheduler::isUsed(core, message)) << "the stop task plays nothing but shares the record";
    EXPECT_TRUE(core.erase(2));
    EXPECT_FALSE(scheduler::isUsed(core, message));
    EXPECT_FALSE(scheduler::isUsed(core, gong));
}

// A task's message and gong moved within their folders: the question and
// the file name the new place, and the task's own track stays as it was,
// also while a dispatcher job reads it and the file is being saved.
TEST_P(SchedulerChecks, ResolvingAMovedFileLeavesTheTaskAloneWhileOthersReadIt) {
    const std::wstring stale = folder(L"elsewhere/обед.mp3");
    auto copy = source(L"serviceMessage", L"Объявления: Обед")->clone();
    boost::dynamic_pointer_cast<frm::PlaybackTrack>(copy)->setMessage(L"Обед", stale);
    const TaskPtr task =
        m_planner->plan(copy, false, L"2024-03-05", L"10:00", L"", L"", {}, folder(L"elsewhere/гонг.mp3"));
    const auto track =
        boost::dynamic_pointer_cast<frm::PlaybackTrack>(m_planner->vaultOf(task->getId()).playback);
    ASSERT_TRUE(track);

    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        // What a due message event and the shutdown save do meanwhile.
        while (!stop.load()) {
            EXPECT_EQ(track->messageDir(), folder(L"service/обед.mp3"));
            EXPECT_EQ(scheduler::resolvedGongPath(*track), folder(L"gong/гонг.mp3"));
            (void)m_planner->store.tree();
            ++reads;
        }
    });
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(scheduler::isUsed(m_planner->core, folder(L"service/обед.mp3")));
        EXPECT_TRUE(scheduler::isUsed(m_planner->core, folder(L"gong/гонг.mp3")));
        EXPECT_FALSE(scheduler::isUsed(m_planner->core, stale))
            << "a file that is not there is not what plays";
    }
    while (reads.load() < 20) std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(track->getMessagePath(), stale);
    EXPECT_EQ(track->getGongPath(), folder(L"elsewhere/гонг.mp3"));
}

TEST_P(SchedulerChecks, ATaskWithoutARecordGivesAnEmptyOneAndSaysSo) {
    auto bare = std::make_shared<scheduler::task::Once>(7, L"2024-03-05", L"10:00", scheduler::task::Event(),
                                                        m_planner->environment());
    const scheduler::task::DataVault empty = scheduler::task::getVault(*bare);
    EXPECT_FALSE(empty.playback);
    EXPECT_EQ(empty.stopTaskId, 0u);
    EXPECT_FALSE(empty.isStopTask);
    bare->setClientData(std::wstring(L"чужое"));
    EXPECT_TRUE(scheduler::task::getVault(*bare).startDate.empty());
    EXPECT_EQ(loggedCount("task: Failed to retrieve data", "ERROR"), 2);
    EXPECT_FALSE(scheduler::isInsideDate(*bare, L"2024-03-05"));
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Folders, SchedulerChecks, testing::Bool(), scheduler_testing::folderSettingsName);
