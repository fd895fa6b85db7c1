#pragma once
// What the kernel says of this process's threads (/proc/self/task), for
// tests that must know where a thread of the code under test sleeps before
// they act, rather than guess it from a pause.
#include <dirent.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace testing_support {

/// The calling thread's kernel id, as /proc names it.
inline pid_t currentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

/// The kernel ids of this process's threads, in ascending order.
inline std::vector<pid_t> threadIds() {
    std::vector<pid_t> ids;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ids.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
        ::closedir(tasks);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

/// The threads that `start` leaves behind: those it started and that still
/// run when it returns.
template <class Start>
std::vector<pid_t> threadsStartedBy(Start start) {
    const std::vector<pid_t> before = threadIds();
    start();
    std::vector<pid_t> started;
    for (pid_t id : threadIds())
        if (!std::binary_search(before.begin(), before.end(), id)) started.push_back(id);
    return started;
}

/// Whether the thread is blocked in an epoll wait right now. A thread that
/// has been woken but not yet run reads as running, so true means that
/// whatever comes next has to wake it.
inline bool sleepsInEpoll(pid_t thread) {
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    if (!(file >> number)) return false;  // "running"
    return
#ifdef SYS_epoll_wait
        number == SYS_epoll_wait ||
#endif
#ifdef SYS_epoll_pwait2
        number == SYS_epoll_pwait2 ||
#endif
        number == SYS_epoll_pwait;
}

/// How many times the thread has gone to sleep so far; -1 when it is gone.
/// The count stays the same while the thread sleeps on, and grows by one
/// at least when it wakes for anything and sleeps again.
inline long sleepsSoFar(pid_t thread) {
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(file, line);)
        if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
    return -1;
}

/// The sleeps so far of some threads, to tell afterwards which of them
/// slept through what happened meanwhile.
class Sleeps {
public:
    explicit Sleeps(const std::vector<pid_t>& threads) : m_threads(threads) {
        for (pid_t thread : threads) m_counts.push_back(sleepsSoFar(thread));
    }
    /// How many times `thread` has woken (and slept again) since; a thread
    /// that has woken and not yet slept again counts as 0 until it does.
    long wakeUpsOf(pid_t thread) const {
        const auto it = std::find(m_threads.begin(), m_threads.end(), thread);
        return it == m_threads.end() ? -1 : sleepsSoFar(thread) - m_counts[it - m_threads.begin()];
    }

private:
    std::vector<pid_t> m_threads;
    std::vector<long> m_counts;
};

}  // namespace testing_support
