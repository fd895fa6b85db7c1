#include "os/service_check.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "base/log.h"

extern char** environ;

namespace os {

namespace {

/// Starts systemctl with its output thrown away and a clean signal mask (the
/// program blocks its stop signals, and a child would inherit that). -1 when
/// it cannot be started.
pid_t startSystemctl(const std::string& unit) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    char* const argv[] = {const_cast<char*>("systemctl"), const_cast<char*>("is-active"),
                          const_cast<char*>("--quiet"), const_cast<char*>(unit.c_str()), nullptr};
    pid_t child = -1;
    const int error = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? child : -1;
}

/// The child's wait status, or -1 when it did not end in time (it is then
/// killed and reaped).
int waitFor(pid_t child, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return status;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return -1;
}

}  // namespace

ServiceState serviceState(const std::string& unit, const ServiceCheckOptions& options) {
    struct stat marker {};
    if (::stat(options.managerMarker.c_str(), &marker) != 0 || !S_ISDIR(marker.st_mode)) return ServiceState::Unknown;
    const pid_t child = startSystemctl(unit);
    if (child < 0) return ServiceState::Unknown;
    const int status = waitFor(child, options.timeout);
    // posix_spawnp reports a missing program only through the child's 127.
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) return ServiceState::Unknown;
    return WEXITSTATUS(status) == 0 ? ServiceState::Active : ServiceState::Inactive;
}

bool isStartedSonvarV2(const ServiceCheckOptions& options) {
    const ServiceState state = serviceState("sonvar2.service", options);
    if (state == ServiceState::Unknown) {
        base::LogPlace("isStartedSonvarV2").debug(L"Skip checking running of Sonvar2");
        return false;
    }
    return state == ServiceState::Active;
}

}  // namespace os
