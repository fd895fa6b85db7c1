#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/concurrent_walk.h"

TEST(ConcurrentWalk, VisitsEveryIndexOnceWithTheCallsOverlapping) {
    constexpr std::size_t kCount = 6;
    std::mutex mutex;
    std::condition_variable entered;
    std::size_t inside = 0;
    bool allInside = false;
    std::vector<int> visits(kCount, 0);
    frm::WalkThreads(kCount).forEach(kCount, [&](std::size_t i) {
        std::unique_lock<std::mutex> lock(mutex);
        ++visits[i];
        if (++inside == kCount) entered.notify_all();
        // In turn, the first call would wait here for ever; bounded.
        allInside = entered.wait_for(lock, std::chrono::seconds(10), [&] { return inside == kCount; }) || allInside;
    });
    EXPECT_TRUE(allInside);
    EXPECT_EQ(visits, std::vector<int>(kCount, 1));

    std::vector<int> few(5, 0);
    frm::WalkThreads(2).forEach(few.size(), [&](std::size_t i) { ++few[i]; });  // fewer threads than calls
    EXPECT_EQ(few, std::vector<int>(5, 1));
    frm::WalkThreads(4).forEach(0, [](std::size_t) { FAIL() << "nothing to visit"; });
}

TEST(ConcurrentWalk, AnExceptionReachesTheCallerAfterTheOtherCallsEnded) {
    std::atomic<int> begun{0}, ended{0};
    try {
        frm::WalkThreads(4).forEach(4, [&](std::size_t i) {
            if (i == 0) {
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (begun.load() < 3 && std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                throw std::runtime_error("lost");
            }
            ++begun;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ++ended;
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "lost");
    }
    EXPECT_EQ(ended.load(), 3) << "the calls already running finished first";
}

// The alarm channel walks its loudspeakers at each step of each notice: the
// threads of one walk serve the next ones instead of new threads each time,
// and a call that throws neither loses the walk's other calls nor the next
// walk.
TEST(WalkThreads, EveryIndexAtOnceOnThreadsKeptForTheNextWalk) {
    constexpr std::size_t kCount = 4;
    frm::WalkThreads walkers(kCount);
    const auto walk = [&] {
        std::mutex mutex;
        std::condition_variable entered;
        std::size_t inside = 0;
        bool allInside = false;
        std::vector<int> visits(kCount, 0);
        std::set<std::thread::id> threads;
        walkers.forEach(kCount, [&](std::size_t i) {
            std::unique_lock<std::mutex> lock(mutex);
            ++visits[i];
            threads.insert(std::this_thread::get_id());
            if (++inside == kCount) entered.notify_all();
            allInside = entered.wait_for(lock, std::chrono::seconds(10), [&] { return inside == kCount; }) ||
                        allInside;
        });
        EXPECT_TRUE(allInside);
        EXPECT_EQ(visits, std::vector<int>(kCount, 1));
        return threads;
    };
    const std::set<std::thread::id> first = walk();
    EXPECT_EQ(first.size(), kCount);
    EXPECT_EQ(walk(), first) << "the same threads";

    EXPECT_THROW(walkers.forEach(kCount,
                                 [](std::size_t i) {
                                     if (i == 0) throw std::runtime_error("lost");
                                 }),
                 std::runtime_error);
    std::vector<int> next(kCount, 0);
    walkers.forEach(kCount, [&](std::size_t i) { ++next[i]; });
    EXPECT_EQ(next, std::vector<int>(kCount, 1));
}
