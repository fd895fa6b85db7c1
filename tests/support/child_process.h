#pragma once

#include <cstdio>
#include <functional>
#include <string>

/// For the body of runInChild: a failed condition is printed and ends the
/// child with exit code 1.
#define CHILD_CHECK(condition)                                                                 \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            return 1;                                                                          \
        }                                                                                      \
    } while (0)

namespace testing_support {

/// Runs the body in a forked child and returns the child's wait status
/// (decode with WIFEXITED / WEXITSTATUS / WIFSIGNALED / WTERMSIG). The child
/// ends with the body's result through _exit, so it never returns into the
/// test framework. Call only while the test process has no other threads.
int runInChild(const std::function<int()>& body);

/// A wait status as "exit N" or "signal N", for comparing in one line.
std::string statusText(int status);
inline std::string killedBy(int signal) { return "signal " + std::to_string(signal); }

/// Sets or (with a null value) removes an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_hadOld;
};

}  // namespace testing_support
