#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
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
    frm::forEachConcurrently(kCount, kCount, [&](std::size_t i) {
        std::unique_lock<std::mutex> lock(mutex);
        ++visits[i];
        if (++inside == kCount) entered.notify_all();
        // In turn, the first call would wait here for ever; bounded.
        allInside = entered.wait_for(lock, std::chrono::seconds(10), [&] { return inside == kCount; }) || allInside;
    });
    EXPECT_TRUE(allInside);
    EXPECT_EQ(visits, std::vector<int>(kCount, 1));

    std::vector<int> few(5, 0);
    frm::forEachConcurrently(few.size(), 2, [&](std::size_t i) { ++few[i]; });  // fewer threads than calls
    EXPECT_EQ(few, std::vector<int>(5, 1));
    frm::forEachConcurrently(0, 4, [](std::size_t) { FAIL() << "nothing to visit"; });
}

TEST(ConcurrentWalk, AnExceptionReachesTheCallerAfterTheOtherCallsEnded) {
    std::atomic<int> begun{0}, ended{0};
    try {
        frm::forEachConcurrently(4, 4, [&](std::size_t i) {
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
