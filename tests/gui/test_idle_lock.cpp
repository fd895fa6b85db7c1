// The idle lock without a window: when it asks for the lock, and that its
// thread passes, reads the activity the GUI thread writes and ends at once
// when interrupted. Run under ThreadSanitizer as well (a build with
// -DSONVAR_SANITIZE=thread).
#include <atomic>
#include <chrono>
#include <thread>

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "gui/idle_lock.h"

using namespace std::chrono_literals;

namespace {

constexpr std::int64_t kMinute = 1000;  // microseconds in a minute of these tests

struct Idle {
    std::atomic<std::int64_t> last{0}, now{0};
    std::atomic<int> minutes{1}, requests{0};

    frm::IdleLock make(std::chrono::microseconds period) {
        frm::IdleLock::Sources sources;
        sources.lastActivity = [this] { return last.load(); };
        sources.timeoutMinutes = [this] { return minutes.load(); };
        sources.requestLock = [this] { ++requests; };
        sources.now = [this] { return now.load(); };
        return frm::IdleLock(sources, {period, kMinute});
    }
};

}  // namespace

TEST(IdleLock, AsksFromTheLimitOnReadingTheTimeoutOnEveryPassAndNeverWithZero) {
    Idle idle;
    const frm::IdleLock lock = idle.make(1h);
    idle.last = 500;
    idle.now = 500 + kMinute - 1;
    EXPECT_FALSE(lock.check());
    idle.now = 500 + kMinute;
    EXPECT_TRUE(lock.check()) << "at the limit";
    idle.minutes = 3;
    EXPECT_FALSE(lock.check());
    idle.now = 500 + 3 * kMinute;
    EXPECT_TRUE(lock.check());
    idle.minutes = 0;
    idle.now = 1000 * kMinute;
    EXPECT_FALSE(lock.check());
    EXPECT_EQ(idle.requests, 2);
}

TEST(IdleLock, TheThreadPassesWhileTheActivityMovesAndEndsAtOnceWhenInterrupted) {
    Idle idle;
    idle.now = 10 * kMinute;
    boost::thread timer([&] { idle.make(1h).run(); });
    std::thread writer([&] {  // the GUI thread's activity meanwhile
        for (std::int64_t t = 0; t < 5 * kMinute; ++t) idle.last = t;
    });
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (idle.requests == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    writer.join();

    const auto before = std::chrono::steady_clock::now();
    timer.interrupt();
    timer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "in the middle of an hour's wait";
    EXPECT_EQ(idle.requests, 1) << "one pass, then the wait";
}
