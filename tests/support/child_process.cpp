#include "tests/support/child_process.h"

#include <cstdlib>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

int runInChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit noCore{0, 0};  // children that crash on purpose leave no core files
        ::setrlimit(RLIMIT_CORE, &noCore);
        int result = 111;
        try {
            result = body();
        } catch (...) {
            result = 112;
        }
        std::fflush(nullptr);
        ::_exit(result);
    }
    int status = -1;
    if (child > 0) ::waitpid(child, &status, 0);
    return status;
}

std::string statusText(int status) {
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return killedBy(WTERMSIG(status));
    return "status " + std::to_string(status);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
    const char* old = std::getenv(name);
    m_hadOld = old != nullptr;
    if (m_hadOld) m_old = old;
    if (value != nullptr) ::setenv(name, value, 1);
    else ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_hadOld) ::setenv(m_name.c_str(), m_old.c_str(), 1);
    else ::unsetenv(m_name.c_str());
}

}  // namespace testing_support
