#include "os/power.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>

#include "base/log.h"
#include "base/system_error_text.h"
#include "base/text.h"

extern char** environ;

namespace os {

namespace {

constexpr int kStartTimeoutMs = 5000;
const char kLockedMark[] = "locked";

/// The helper child holding the inhibitor lock: "systemd-inhibit ... sh -c
/// 'echo locked; exec cat'". The shell reports that the lock is taken; cat
/// then waits on our pipe and ends at its end of file.
class SleepInhibitor {
public:
    bool held() const { return m_child > 0; }

    /// Returns an empty text when the lock is held, else why not.
    std::string take() {
        int input[2];
        int report[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return base::toUtf8(base::errnoForOperator(errno));
        if (::pipe2(report, O_CLOEXEC) != 0) {
            const int error = errno;
            closeBoth(input);
            return base::toUtf8(base::errnoForOperator(error));
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, report[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, report[1], STDERR_FILENO);
        char* const argv[] = {const_cast<char*>("systemd-inhibit"),
                              const_cast<char*>("--what=sleep:idle"),
                              const_cast<char*>("--who=Sonvar"),
                              const_cast<char*>("--why=Broadcasting to the loudspeakers"),
                              const_cast<char*>("--mode=block"),
                              const_cast<char*>("sh"),
                              const_cast<char*>("-c"),
                              const_cast<char*>("echo locked; exec cat >/dev/null"),
                              nullptr};
        pid_t child = -1;
        const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(report[1]);
        if (spawned != 0) {
            ::close(input[1]);
            ::close(report[0]);
            return "systemd-inhibit: " + base::toUtf8(base::errnoForOperator(spawned));
        }
        const std::string answer = readAnswer(report[0]);
        if (answer.compare(0, sizeof kLockedMark - 1, kLockedMark) == 0) {
            m_child = child;
            m_input = input[1];
            m_report = report[0];
            return {};
        }
        ::close(input[1]);
        ::close(report[0]);
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        return answer.empty() ? std::string("systemd-inhibit gave no answer") : answer;
    }

    void release() {
        if (!held()) return;
        ::close(m_input);  // cat ends, and with it the lock
        ::close(m_report);
        ::waitpid(m_child, nullptr, 0);
        m_child = -1;
    }

private:
    static void closeBoth(int fds[2]) {
        ::close(fds[0]);
        ::close(fds[1]);
    }

    /// Everything the helper says until the mark, its end or the time-out.
    static std::string readAnswer(int fd) {
        std::string answer;
        pollfd wait{fd, POLLIN, 0};
        while (answer.find('\n') == std::string::npos || answer.compare(0, 6, kLockedMark) != 0) {
            const int ready = ::poll(&wait, 1, kStartTimeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            char chunk[512];
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            answer.append(chunk, static_cast<std::size_t>(got));
        }
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
        return answer;
    }

    pid_t m_child = -1;
    int m_input = -1;
    int m_report = -1;
};

}  // namespace

void keepSystemAwake(bool on) {
    static std::mutex mutex;
    static SleepInhibitor inhibitor;
    std::lock_guard<std::mutex> lock(mutex);
    if (!on) {
        inhibitor.release();
        return;
    }
    if (inhibitor.held()) return;
    const std::string problem = inhibitor.take();
    if (!problem.empty())
        LOG_WARN(L"Не удалось запретить переход компьютера в спящий режим: %1%", base::fromUtf8(problem));
}

}  // namespace os
