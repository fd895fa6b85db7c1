// The medium watcher over a fake player and a fake view of the system, then
// over a real tmpfs mounted and unmounted in a mount namespace of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>

#include "base/text.h"
#include "gui/medium_watcher.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"
#include "tools/stream_probe.h"

namespace {

using namespace std::chrono_literals;

class FakeProbe : public os::MediaProbe {
public:
    std::vector<os::MountEntry> mounts() override {
        std::lock_guard<std::mutex> lock(mutex);
        return table;
    }
    bool hasBlockDevice(unsigned major, unsigned minor) override {
        std::lock_guard<std::mutex> lock(mutex);
        return devices.count({major, minor}) > 0;
    }
    os::DriveKind driveKind(unsigned major, unsigned) override {
        return major == 8 ? os::DriveKind::kRemovable : os::DriveKind::kNone;  // 8 a stick, 259 a fixed disk
    }
    int accessError(const std::string&) override { return error; }

    std::mutex mutex;
    std::vector<os::MountEntry> table{{21, 259, 1, "/", "/"}, {40, 8, 17, "/", "/media/op/USB STICK"}};
    std::set<std::pair<unsigned, unsigned>> devices{{259, 1}, {8, 17}};
    std::atomic<int> error{0};
};

class Watcher : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
    frm::MediumWatcher make(std::chrono::milliseconds tick = 1h) {
        return frm::MediumWatcher(
            probe,
            [this] {
                std::lock_guard<std::mutex> lock(mutex);
                ++looks;
                return path;
            },
            [this] { ++stops; }, tick);
    }
    void play(const std::wstring& playing) {
        std::lock_guard<std::mutex> lock(mutex);
        path = playing;
    }

    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::mutex mutex;
    std::wstring path;
    int looks = 0;
    std::atomic<int> stops{0};
};

const std::wstring kOnStick = L"/media/op/USB STICK/Альбом/1.mp3";

}  // namespace

TEST_F(Watcher, AGoneMountABlockDeviceThatLeftOrAnUnreachableFileOnAStickStopOnce) {
    const std::vector<std::function<void()>> removals = {
        [&] { probe->table.pop_back(); },
        [&] {
            probe->devices.erase({8, 17});
        },
        [&] { probe->error = EIO; },
        [&] { probe->error = ENOENT; },
    };
    for (const auto& remove : removals) {
        probe = std::make_shared<FakeProbe>();
        auto watcher = make();
        play(kOnStick);
        EXPECT_FALSE(watcher.check()) << "first seen";
        EXPECT_FALSE(watcher.check());
        remove();
        EXPECT_TRUE(watcher.check());
        EXPECT_FALSE(watcher.check()) << "told once";
    }
    EXPECT_EQ(stops, 4);
    EXPECT_EQ(loggedCount("Носитель '/media/op/USB STICK' был удален", "ERROR"), 4);
}

TEST_F(Watcher, StreamsInputsTonesAndFixedDisksAreNeverStopped) {
    for (const std::wstring& playing :
         {std::wstring(L"http://radio.example/stream"), std::wstring(L"adev://Линейный вход"),
          std::wstring(L"sine://1000"), std::wstring(L"/home/op/Музыка/1.mp3")}) {
        probe = std::make_shared<FakeProbe>();
        auto watcher = make();
        play(playing);
        EXPECT_FALSE(watcher.check());
        probe->error = ENOENT;  // a file deleted from a fixed disk is no medium pulled out
        EXPECT_FALSE(watcher.check());
        probe->table.pop_back();  // the stick goes, the fixed disk stays
        EXPECT_FALSE(watcher.check()) << base::toUtf8(playing);
    }
    EXPECT_EQ(stops, 0);
}

TEST_F(Watcher, TheThreadStopsThePlayerWithinTwoTicksAndJoinsAtOnce) {
    auto watcher = make(20ms);
    play(kOnStick);
    watcher.start();
    ASSERT_TRUE(testing_support::waitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return looks >= 2;
    }));
    {
        std::lock_guard<std::mutex> lock(probe->mutex);
        probe->table.pop_back();
    }
    EXPECT_TRUE(testing_support::waitUntil([&] { return stops == 1; }, 2000ms));

    auto idle = make(1h);
    idle.start();
    const auto before = std::chrono::steady_clock::now();
    idle.stopThread();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

TEST_F(Watcher, ARealMountUnmountedInItsOwnNamespaceStopsThePlayer) {
    const std::string point = m_dir.path() + "/medium";
    const std::string pidFile = m_dir.path() + "/pid", goneFile = m_dir.path() + "/gone";
    ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
    stream_probe::Child child(
        {"unshare", "-m", "sh", "-c",
         "mount -t tmpfs none \"$0\" || exit 3; echo $$ > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"; "
         "read line; umount \"$0\"; touch \"$2\"; read line",
         point, pidFile, goneFile},
        "", true);
    if (!testing_support::waitUntil([&] { return !testing_support::readFile(pidFile).empty(); }, 5000ms))
        GTEST_SKIP() << "mounting is refused here";
    std::string pid = testing_support::readFile(pidFile);
    pid.pop_back();
    probe.reset();
    frm::MediumWatcher watcher(
        std::make_shared<os::RemovableMedia>("/proc/" + pid, "/sys"),
        [&] { return base::fromUtf8(point + "/1.mp3"); }, [&] { ++stops; });
    EXPECT_FALSE(watcher.check());
    EXPECT_FALSE(watcher.check()) << "still mounted";
    ASSERT_EQ(::write(child.stdin_fd(), "\n", 1), 1);
    ASSERT_TRUE(testing_support::waitUntil([&] { return boost::filesystem::exists(goneFile); }, 5000ms));
    EXPECT_TRUE(watcher.check());
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(logged("Носитель '" + point + "' был удален"));
}
