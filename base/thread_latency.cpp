#include "base/thread_latency.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace base {

namespace {

/// The kernel's struct sched_attr (glibc before 2.41 has no wrapper).
struct SchedAttributes {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime;  // ns
    std::uint64_t deadline;
    std::uint64_t period;
    std::uint32_t utilMin;
    std::uint32_t utilMax;
};

}  // namespace

bool preferPromptWakeups(std::uint32_t sliceMicroseconds) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#if defined(SYS_sched_getattr) && defined(SYS_sched_setattr)
    SchedAttributes attributes;
    std::memset(&attributes, 0, sizeof attributes);
    if (syscall(SYS_sched_getattr, 0, &attributes, sizeof attributes, 0) != 0) return false;
    if (attributes.policy != SCHED_OTHER) return false;
    // Everything read back is written again (the nice value above all,
    // which an ordinary user could not lower again); only the slice changes.
    attributes.size = sizeof attributes;
    attributes.flags &= 0x01;  // SCHED_FLAG_RESET_ON_FORK, as it was
    attributes.runtime = static_cast<std::uint64_t>(sliceMicroseconds) * 1000;
    return syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
#else
    (void)sliceMicroseconds;
    return false;
#endif
}

}  // namespace base
