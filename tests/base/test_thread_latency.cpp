#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "base/thread_latency.h"

namespace {

struct Attributes {
    std::uint32_t size, policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime, deadline, period;
    std::uint32_t utilMin, utilMax;
};

Attributes current() {
    Attributes a;
    std::memset(&a, 0, sizeof a);
    EXPECT_EQ(0, syscall(SYS_sched_getattr, 0, &a, sizeof a, 0));
    return a;
}

int ownNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

// Each case runs on a thread of its own: the settings are the thread's.
template <class F>
void onThread(F f) {
    std::thread thread(f);
    thread.join();
}

}  // namespace

// The slice is the only thing that changes: a nice value raised before
// stays (as root, writing 0 back would silently undo it; as a user it
// could not be undone at all), and the timer slack drops to 1 ns.
TEST(PromptWakeups, ShortensTheSliceAndKeepsTheNiceValue) {
    onThread([] {
        ASSERT_EQ(0, setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), ownNice() + 3));
        const int nice = ownNice();
        const bool taken = base::preferPromptWakeups(300);
        EXPECT_EQ(1, prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
        const Attributes after = current();
        EXPECT_EQ(static_cast<std::uint32_t>(SCHED_OTHER), after.policy);
        EXPECT_EQ(nice, after.nice);
        EXPECT_EQ(nice, ownNice());
        if (taken) {
            EXPECT_EQ(300000u, after.runtime);
            // A second call sets the slice again; the kernel's lower bound holds.
            EXPECT_TRUE(base::preferPromptWakeups(10));
            EXPECT_GE(current().runtime, 10000u);
            EXPECT_LE(current().runtime, 100000u);
            EXPECT_EQ(nice, ownNice());
        }
    });
}

// A batch or idle thread has asked to give way: it is not turned into an
// ordinary one.
TEST(PromptWakeups, LeavesOtherPoliciesAlone) {
    onThread([] {
        sched_param param{};
        ASSERT_EQ(0, sched_setscheduler(0, SCHED_BATCH, &param));
        EXPECT_FALSE(base::preferPromptWakeups());
        EXPECT_EQ(static_cast<std::uint32_t>(SCHED_BATCH), current().policy);
    });
}
