// The idle lock's thread without a window: it reads the activity that the
// GUI thread writes, asks once per pass, and ends at once when interrupted.
// Run under ThreadSanitizer as well (a build with -DSONVAR_SANITIZE=thread).
// When it asks is the main window lock test's.
#include <atomic>
#include <chrono>
#include <thread>

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "gui/idle_lock.h"

using namespace std::chrono_literals;

TEST(IdleLock, TheThreadPassesWhileTheActivityMovesAndEndsAtOnceWhenInterrupted) {
    std::atomic<std::int64_t> last{0};
    std::atomic<int> requests{0};
    frm::IdleLock::Sources sources;
    sources.lastActivity = [&] { return last.load(); };
    sources.timeoutMinutes = [] { return 1; };
    sources.requestLock = [&] { ++requests; };
    sources.now = [] { return std::int64_t{10000}; };
    const frm::IdleLock lock(sources, {1h, 1000});
    boost::thread timer([&] { lock.run(); });
    std::thread writer([&] {  // the GUI thread's activity meanwhile
        for (std::int64_t t = 0; t < 5000; ++t) last = t;
    });
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (requests == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    writer.join();

    const auto before = std::chrono::steady_clock::now();
    timer.interrupt();
    timer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "in the middle of an hour's wait";
    EXPECT_EQ(requests, 1) << "one pass, then the wait";
}
