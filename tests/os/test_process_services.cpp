#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <boost/filesystem.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "base/text.h"
#include "os/capture_devices.h"
#include "os/power.h"
#include "os/thread_priority.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"

namespace {

namespace fs = boost::filesystem;
using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;

// A stand-in for systemd-inhibit on a PATH of its own: it records its
// arguments, refuses when told to, and otherwise runs the command it was
// given and notes when that command (and so the lock) has ended.
class SleepInhibitor : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        const std::string script = m_bin.path() + "/systemd-inhibit";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "echo \"$@\" >> \"$FAKE_INHIBIT_DIR/args\"\n"
                                 "if [ \"$FAKE_INHIBIT_REFUSE\" = 1 ]; then\n"
                                 "  echo 'Failed to connect to bus: No such file or directory' >&2; exit 1\n"
                                 "fi\n"
                                 "while [ \"${1#--}\" != \"$1\" ]; do shift; done\n"
                                 "\"$@\"\n"
                                 "echo released > \"$FAKE_INHIBIT_DIR/released\"\n";
        ::chmod(script.c_str(), 0755);
    }
    void TearDown() override {
        os::keepSystemAwake(false);
        CountingLogFixture::TearDown();
    }

    bool released() const { return fs::exists(m_state.path() + "/released"); }
    std::string args() const { return readFile(m_state.path() + "/args"); }
    bool warned() { return loggedCount("WARN\t[keepSystemAwake]") > 0; }

    TempDir m_bin{"sonvar-bin"};
    TempDir m_state{"sonvar-inhibit"};
    ScopedEnv m_path{"PATH", (m_bin.path() + ":/usr/bin:/bin").c_str()};
    ScopedEnv m_dirEnv{"FAKE_INHIBIT_DIR", m_state.path().c_str()};
};

}  // namespace

TEST_F(SleepInhibitor, HeldUntilReleasedAndTakenOnce) {
    os::keepSystemAwake(true);
    os::keepSystemAwake(true);
    EXPECT_FALSE(warned());
    EXPECT_EQ(args(),
              "--what=sleep:idle --who=Sonvar --why=Broadcasting to the loudspeakers --mode=block "
              "sh -c echo locked; exec cat >/dev/null\n")
        << "one inhibitor, blocking sleep";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(released());
    os::keepSystemAwake(false);
    EXPECT_TRUE(released()) << "release waits for the helper to end";
}

TEST_F(SleepInhibitor, LockEndsWithTheProcessEvenWithoutRelease) {
    const int status = testing_support::runInChild([] {
        os::keepSystemAwake(true);
        return 0;  // _exit: no release, no destructors
    });
    ASSERT_EQ(testing_support::statusText(status), "exit 0");
    EXPECT_TRUE(testing_support::waitUntil([&] { return released(); }, std::chrono::seconds(3)));
}

TEST_F(SleepInhibitor, NoLogindMeansOneWarningAndNoHold) {
    ScopedEnv refuse("FAKE_INHIBIT_REFUSE", "1");
    const auto start = std::chrono::steady_clock::now();
    os::keepSystemAwake(true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_TRUE(warned());
    EXPECT_EQ(loggedCount("Failed to connect to bus"), 1) << "the warning says why";

    ScopedEnv nowhere("PATH", "/nonexistent");
    EXPECT_NO_FATAL_FAILURE(os::keepSystemAwake(true));
}

TEST(ThreadPriority, RaisesTheGivenThreadOrWarns) {
    std::atomic<pid_t> workerTid{0};
    std::atomic<bool> stop{false};
    boost::thread worker([&] {
        workerTid = static_cast<pid_t>(::syscall(SYS_gettid));
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(testing_support::waitUntil([&] { return workerTid != 0; }, std::chrono::seconds(3)));
    const int before = ::getpriority(PRIO_PROCESS, 0);
    os::setThreadPriority(worker);
    const int after = ::getpriority(PRIO_PROCESS, static_cast<id_t>(workerTid.load()));
    if (::geteuid() == 0)
        EXPECT_EQ(after, before - os::kAboveNormalSteps);
    else
        EXPECT_TRUE(after == before || after == before - os::kAboveNormalSteps);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), before) << "the calling thread is left alone";
    stop = true;
    worker.join();

    // A thread object without a thread: nothing changes (and nothing crashes).
    boost::thread empty;
    os::setThreadPriority(empty);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), before);
}

// The scheduler core's thread is a std::thread: raised by its pthread handle.
class ThreadPriorityByHandle : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
};

TEST_F(ThreadPriorityByHandle, RaisesAStdThreadOrWarnsAndADefaultHandleOnlyWarns) {
    std::atomic<pid_t> workerTid{0};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        workerTid = static_cast<pid_t>(::syscall(SYS_gettid));
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(testing_support::waitUntil([&] { return workerTid != 0; }, std::chrono::seconds(3)));
    const int before = ::getpriority(PRIO_PROCESS, 0);
    os::setThreadPriority(worker.native_handle());
    const int after = ::getpriority(PRIO_PROCESS, static_cast<id_t>(workerTid.load()));
    const int warnings = loggedCount("Приоритет не установлен", "WARN");
    if (after == before)
        EXPECT_EQ(warnings, 1) << "a refusal of the kernel is reported";
    else
        EXPECT_EQ(after, before - os::kAboveNormalSteps);
    stop = true;
    worker.join();

    os::setThreadPriority(pthread_t());
    EXPECT_EQ(loggedCount("Приоритет не установлен", "WARN"), warnings + 1);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), before);
}

TEST(CaptureDevices, OnlyCapturingDevicesWithTheirAlsaNames) {
    // Hints in the form snd_device_name_hint gives them.
    const char* entries[] = {
        "NAMEnull|DESCDiscard all samples (playback) or generate zero samples (capture)",
        "NAMEdefault|DESCDefault Audio Device",
        "NAMEhw:CARD=PCH,DEV=0|DESCHDA Intel PCH, ALC892 Analog\nDirect hardware device|IOIDInput",
        "NAMEfront:CARD=PCH,DEV=0|DESCHDA Intel PCH\nFront output|IOIDOutput",
        "NAMEhw:CARD=USB,DEV=0|IOIDInput",
        nullptr};
    const auto devices = os::enumAudioCaptureDevices(reinterpret_cast<void**>(const_cast<char**>(entries)));
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].alsaName, "default");
    EXPECT_EQ(devices[0].name, L"Default Audio Device");
    EXPECT_EQ(devices[1].alsaName, "hw:CARD=PCH,DEV=0");
    EXPECT_EQ(devices[1].name, L"HDA Intel PCH, ALC892 Analog - Direct hardware device");
    EXPECT_EQ(devices[2].name, L"hw:CARD=USB,DEV=0") << "no description: the ALSA name";
    for (std::uint32_t i = 0; i < devices.size(); ++i) EXPECT_EQ(devices[i].waveInId, i);
}

TEST(CaptureDevices, ReadsTheSystemsHintsAnew) {
    TempDir dir;
    const std::string config = dir.path() + "/asound.conf";
    std::ofstream(config) << "pcm.usbmic {\n type null\n hint { show on\n description \"USB микрофон\" }\n}\n"
                             "pcm.null { type null\n hint.description \"Discard all samples\" }\n";
    ScopedEnv alsa("ALSA_CONFIG_PATH", config.c_str());
    auto devices = os::getAudioCaptureDeviceList();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].alsaName, "usbmic");
    EXPECT_EQ(devices[0].name, L"USB микрофон");

    // A device that appears later is seen on the next call.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the config's time stamp must change
    std::ofstream(config, std::ios::app) << "pcm.line { type null\n hint.description \"Линейный вход\" }\n";
    devices = os::getAudioCaptureDeviceList();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1].name, L"Линейный вход");
}
