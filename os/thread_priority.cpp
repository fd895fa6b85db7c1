#include "os/thread_priority.h"

#include <pthread.h>
#include <sys/resource.h>

#include <cerrno>
#include <ctime>

#include "base/log.h"

namespace os {

namespace {

/// The kernel's id of a thread given by its pthread handle. glibc offers no
/// direct call before 2.42, but the thread's CPU-time clock id carries it:
/// the kernel's ABI encodes a per-thread clock as (~tid << 3) | 6.
pid_t kernelThreadId(pthread_t handle) {
    clockid_t clock = 0;
    const int error = ::pthread_getcpuclockid(handle, &clock);
    if (error != 0) {
        errno = error;
        return -1;
    }
    constexpr clockid_t kPerThreadSchedClock = 6;
    if ((clock & 7) != kPerThreadSchedClock) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<pid_t>(~(clock >> 3));
}

}  // namespace

void setThreadPriority(boost::thread& thread) {
    setThreadPriority(thread.joinable() ? thread.native_handle() : pthread_t());
}

void setThreadPriority(pthread_t thread) {
    LOG_TRACE(L"set thread priority");
    errno = ESRCH;
    const pid_t tid = thread != pthread_t() ? kernelThreadId(thread) : -1;
    if (tid > 0) {
        errno = 0;
        const int processNice = ::getpriority(PRIO_PROCESS, 0);
        if (errno == 0 &&
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), processNice - kAboveNormalSteps) == 0)
            return;
    }
    LOG_WARN(L"Приоритет не установлен. (%1%)", errno);
}

}  // namespace os
