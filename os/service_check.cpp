#include "os/service_check.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "base/log.h"

extern char** environ;

namespace os {

namespace {

/// The child systemctl with its standard error on a pipe.
struct Child {
    pid_t pid = -1;
    int errors = -1;  // our end, non-blocking
};

/// Starts systemctl with a clean signal mask (the program blocks its stop
/// signals, and a child would inherit that); pid -1 when it cannot be started.
Child startSystemctl(const std::string& unit) {
    Child child;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    char* const argv[] = {const_cast<char*>("systemctl"), const_cast<char*>("is-active"),
                          const_cast<char*>("--quiet"), const_cast<char*>(unit.c_str()), nullptr};
    const int error = ::posix_spawnp(&child.pid, argv[0], &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (error != 0) {
        ::close(pipe[0]);
        child.pid = -1;
        return child;
    }
    ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);
    child.errors = pipe[0];
    return child;
}

/// Whether anything waits on the pipe now (it is kept from filling up).
bool drain(int fd) {
    bool any = false;
    char chunk[256];
    while (::read(fd, chunk, sizeof chunk) > 0) any = true;
    return any;
}

}  // namespace

ServiceState serviceState(const std::string& unit, std::chrono::milliseconds timeout) {
    const Child child = startSystemctl(unit);
    if (child.pid < 0) return ServiceState::Unknown;
    const auto end = std::chrono::steady_clock::now() + timeout;
    bool complained = false;
    int status = -1;
    for (;;) {
        complained = drain(child.errors) || complained;
        const pid_t done = ::waitpid(child.pid, &status, WNOHANG);
        if (done == child.pid) break;
        if ((done < 0 && errno != EINTR) || std::chrono::steady_clock::now() >= end) {
            ::kill(child.pid, SIGKILL);
            while (::waitpid(child.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    complained = drain(child.errors) || complained;
    ::close(child.errors);
    // A program that cannot be run shows as the child's status 127.
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) return ServiceState::Unknown;
    if (WEXITSTATUS(status) == 0) return ServiceState::Active;
    return complained ? ServiceState::Unknown : ServiceState::Inactive;
}

bool isStartedSonvarV2(std::chrono::milliseconds timeout) {
    const ServiceState state = serviceState("sonvar2.service", timeout);
    if (state == ServiceState::Unknown) {
        base::LogPlace("isStartedSonvarV2").debug(L"Skip checking running of Sonvar2");
        return false;
    }
    return state == ServiceState::Active;
}

}  // namespace os
