// One running copy per user, the stop request another copy sends it (also
// before the running copy listens), the stop-signal thread, and the check for
// the second-generation server with stand-ins for systemctl.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <vector>

#include "base/exception.h"
#include "os/service_check.h"
#include "os/single_instance.h"
#include "os/stop_request.h"
#include "os/stop_signals.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ScopedEnv;
using testing_support::TempDir;

/// A forked child that runs alongside the test, talking over two pipes; the
/// destructor kills it if the test left it running.
class Copy {
public:
    explicit Copy(const std::function<int(Copy&)>& body) {
        ::pipe(m_toChild);
        ::pipe(m_toParent);
        std::fflush(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            int result = 112;
            try {
                result = body(*this);
            } catch (...) {
            }
            ::_exit(result);
        }
    }
    ~Copy() {
        if (m_pid > 0 && m_status == -1) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_toChild[0], m_toChild[1], m_toParent[0], m_toParent[1]}) ::close(fd);
    }
    // Child side.
    void tell(char c) { ::write(m_toParent[1], &c, 1); }
    char hear() { return receive(m_toChild[0]); }
    // Parent side.
    void say(char c) { ::write(m_toChild[1], &c, 1); }
    char listen() { return receive(m_toParent[0]); }
    std::string result() {
        ::waitpid(m_pid, &m_status, 0);
        return testing_support::statusText(m_status);
    }

private:
    static char receive(int fd) {
        char c = 0;
        return ::read(fd, &c, 1) == 1 ? c : '\0';
    }
    int m_toChild[2];
    int m_toParent[2];
    pid_t m_pid = -1;
    int m_status = -1;
};

/// The running copy: takes the lock, reports 'L', waits for the parent's go
/// ahead when asked to, then listens for one stop request and ends with 0.
int runningCopy(Copy& copy, bool waitForGo) {
    os::SingleInstance instance;
    if (instance.alreadyExists()) return 3;
    copy.tell('L');
    if (waitForGo && copy.hear() != 'G') return 4;
    os::StopRequestWaiter waiter;
    waiter.wait();
    return 0;
}

class ProcessControl : public ::testing::Test {
protected:
    TempDir m_runtime{"sonvar-runtime"};
    ScopedEnv m_env{"XDG_RUNTIME_DIR", m_runtime.path().c_str()};
};

}  // namespace

TEST_F(ProcessControl, TheRuntimeFolderIsOursAndNamesTheStopObjects) {
    const std::string folder = os::runtimeFolder();
    EXPECT_EQ(folder, m_runtime.path() + "/sonvar");
    struct stat status {};
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    const std::string suffix = "_" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    const os::StopRequestNames names = os::stopRequestNames();
    EXPECT_EQ(names.mutex, "SONVAR_STOP_APP_MUTEX" + suffix);
    EXPECT_EQ(names.condition, "SONVAR_STOP_APP_CONDITION" + suffix);

    // Another user's runtime folder gives other objects.
    TempDir other("sonvar-runtime");
    ScopedEnv otherEnv("XDG_RUNTIME_DIR", other.path().c_str());
    EXPECT_NE(os::stopRequestNames().mutex, names.mutex);

    // Without XDG_RUNTIME_DIR: the temporary folder, where a planted link is
    // refused instead of followed.
    TempDir temporary("sonvar-tmp");
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", nullptr);
    ScopedEnv tmp("TMPDIR", temporary.path().c_str());
    const std::string fallback = temporary.path() + "/sonvar-" + std::to_string(::geteuid());
    ASSERT_EQ(::symlink(other.path().c_str(), fallback.c_str()), 0);
    EXPECT_THROW(os::runtimeFolder(), exception::ExternalError);
    ::unlink(fallback.c_str());
    EXPECT_EQ(os::runtimeFolder(), fallback);
}

TEST_F(ProcessControl, ASecondCopySeesTheFirstWhoseQuitStopsIt) {
    EXPECT_EQ(os::stopRunningCopy(10ms, 1s), os::QuitResult::NotRunning);
    Copy first([](Copy& copy) { return runningCopy(copy, false); });
    ASSERT_EQ(first.listen(), 'L');
    {
        os::SingleInstance second;
        EXPECT_TRUE(second.alreadyExists());
        EXPECT_TRUE(os::SingleInstance::isHeld());
    }
    EXPECT_EQ(os::stopRunningCopy(20ms, 5s), os::QuitResult::Stopped);
    EXPECT_EQ(first.result(), "exit 0");
    EXPECT_FALSE(os::SingleInstance::isHeld());
    EXPECT_FALSE(os::SingleInstance().alreadyExists());
}

TEST_F(ProcessControl, AQuitSentBeforeTheCopyListensIsRepeatedUntilHeard) {
    Copy first([](Copy& copy) { return runningCopy(copy, true); });
    ASSERT_EQ(first.listen(), 'L');
    int notifies = 0;
    const os::QuitResult result = os::stopRunningCopy(20ms, 5s, [&] {
        os::notifyStopRequest();  // lost while nobody listens
        if (++notifies == 2) first.say('G');
    });
    EXPECT_EQ(result, os::QuitResult::Stopped);
    EXPECT_GE(notifies, 3);
    EXPECT_EQ(first.result(), "exit 0");
}

TEST_F(ProcessControl, ACopyThatNeverListensIsReportedStillRunning) {
    Copy deaf([](Copy& copy) {
        os::SingleInstance instance;
        copy.tell('L');
        copy.hear();  // until the test ends
        return 0;
    });
    ASSERT_EQ(deaf.listen(), 'L');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(os::stopRunningCopy(10ms, 100ms), os::QuitResult::StillRunning);
    EXPECT_LT(testing_support::msSince(start), 2000);
    deaf.say('E');
    EXPECT_EQ(deaf.result(), "exit 0");
}

TEST(StopSignals, EachSignalIsTakenOnceAndThePendingOneFirst) {
    const int status = testing_support::runInChild([] {
        os::blockStopSignals();
        ::kill(::getpid(), SIGTERM);  // before the thread: stays pending
        std::mutex mutex;
        std::vector<int> taken;
        os::StopSignalThread thread([&](int signal) {
            std::lock_guard<std::mutex> lock(mutex);
            taken.push_back(signal);
        });
        const auto count = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return taken.size();
        };
        CHILD_CHECK(testing_support::waitUntil([&] { return count() == 1; }));
        ::kill(::getpid(), SIGINT);
        CHILD_CHECK(testing_support::waitUntil([&] { return count() == 2; }));
        ::kill(::getpid(), SIGHUP);
        CHILD_CHECK(testing_support::waitUntil([&] { return count() == 3; }));
        thread.stop();  // its own wake-up is not reported
        CHILD_CHECK((taken == std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
        return 0;
    });
    EXPECT_EQ(testing_support::statusText(status), "exit 0");
}

class SecondServer : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }

    void fakeSystemctl(const std::string& body) {
        const std::string path = m_bin.path() + "/systemctl";
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
    }

    TempDir m_bin{"sonvar-bin"};
    ScopedEnv m_path{"PATH", m_bin.path().c_str()};
};

TEST_F(SecondServer, TheStatusOfSystemctlDecides) {
    fakeSystemctl("[ \"$*\" = 'is-active --quiet sonvar2.service' ] || exit 9");
    EXPECT_TRUE(os::isStartedSonvarV2());
    fakeSystemctl("exit 3");
    EXPECT_FALSE(os::isStartedSonvarV2());
    EXPECT_EQ(loggedCount("Skip checking running of Sonvar2"), 0);
}

TEST_F(SecondServer, WhereNothingCanAnswerTheCheckIsSkipped) {
    EXPECT_FALSE(os::isStartedSonvarV2());  // no systemctl on the path
    EXPECT_EQ(loggedCount("DEBUG\t[isStartedSonvarV2] Skip checking running of Sonvar2"), 1);

    fakeSystemctl("echo 'System has not been booted with systemd as init system (PID 1).' >&2; exit 1");
    EXPECT_EQ(os::serviceState("sonvar2.service"), os::ServiceState::Unknown);

    fakeSystemctl("exec /bin/sleep 30");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(os::serviceState("sonvar2.service", 100ms), os::ServiceState::Unknown);
    EXPECT_LT(testing_support::msSince(start), 2000);
}
