// The medium watcher over a fake player and a fake view of the system, then
// over a real tmpfs mounted and unmounted in a mount namespace of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <mutex>
#include <set>

#include "base/text.h"
#include "gui/medium_watcher.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"
#include "tools/stream_probe.h"

namespace {

using namespace std::chrono_literals;
using testing_support::waitUntil;

/// A fixed disk (259:1) on "/" and a stick (8:17); the watcher's thread
/// reads it under the lock.
struct FakeProbe : os::MediaProbe {
    std::vector<os::MountEntry> mounts() override {
        std::lock_guard<std::mutex> lock(mutex);
        return table;
    }
    bool hasBlockDevice(unsigned major, unsigned minor) override { return devices.count({major, minor}) > 0; }
    os::DriveKind driveKind(unsigned major, unsigned) override {
        return major == 8 ? os::DriveKind::kRemovable : os::DriveKind::kNone;
    }
    int accessError(const std::string&) override { return error; }

    std::mutex mutex;
    std::vector<os::MountEntry> table{{21, 259, 1, "/", "/"}, {40, 8, 17, "/", "/media/op/USB STICK"}};
    std::set<std::pair<unsigned, unsigned>> devices{{259, 1}, {8, 17}};
    int error = 0;
};

class Watcher : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
    /// A watcher of a player that plays `path`.
    frm::MediumWatcher make(std::shared_ptr<os::MediaProbe> probe, std::wstring path,
                            std::chrono::milliseconds tick = 1h) {
        return frm::MediumWatcher(
            std::move(probe), [this, path] { return ++looks, path; }, [this] { ++stops; }, tick);
    }
    std::atomic<int> looks{0};
    std::atomic<int> stops{0};
};

const std::wstring kOnStick = L"/media/op/USB STICK/Альбом/1.mp3";

}  // namespace

TEST_F(Watcher, OnlyAPulledMediumStopsThePlayerAndOnlyOnce) {
    const std::vector<std::function<void(FakeProbe&)>> removals = {
        [](FakeProbe& p) { p.table.pop_back(); },  // unmounted
        [](FakeProbe& p) {
            p.devices.erase({8, 17});
        },                                    // the block device has gone
        [](FakeProbe& p) { p.error = EIO; },  // the stick no longer answers
        [](FakeProbe& p) { p.error = ENOENT; }};
    for (const auto& remove : removals) {
        auto probe = std::make_shared<FakeProbe>();
        auto watcher = make(probe, kOnStick);
        EXPECT_FALSE(watcher.check()) << "first seen";
        EXPECT_FALSE(watcher.check());
        remove(*probe);
        EXPECT_TRUE(watcher.check());
        EXPECT_FALSE(watcher.check()) << "told once";
    }
    EXPECT_EQ(stops, 4);
    EXPECT_EQ(loggedCount("Носитель '/media/op/USB STICK' был удален", "ERROR"), 4);

    for (const wchar_t* path :
         {L"http://radio.example/stream", L"adev://Линейный вход", L"sine://1000", L"/home/op/1.mp3"}) {
        auto probe = std::make_shared<FakeProbe>();
        auto watcher = make(probe, path);
        EXPECT_FALSE(watcher.check());
        probe->error = ENOENT;  // a file deleted from a fixed disk is no medium pulled out
        probe->table.pop_back();
        EXPECT_FALSE(watcher.check()) << base::toUtf8(path);
    }
    EXPECT_EQ(stops, 4);
}

TEST_F(Watcher, TheThreadStopsThePlayerAfterTheUnmountAndJoinsAtOnce) {
    auto probe = std::make_shared<FakeProbe>();
    auto watcher = make(probe, kOnStick, 20ms);
    watcher.start();
    ASSERT_TRUE(waitUntil([&] { return looks >= 2; })) << "seen on the stick";
    {
        std::lock_guard<std::mutex> lock(probe->mutex);
        probe->table.pop_back();
    }
    EXPECT_TRUE(waitUntil([&] { return stops == 1; }));

    auto idle = make(probe, kOnStick, 1h);
    idle.start();
    const auto before = std::chrono::steady_clock::now();
    idle.stopThread();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

TEST_F(Watcher, ARealMountUnmountedInItsOwnNamespaceStopsThePlayer) {
    const std::string point = m_dir.path() + "/medium", pidFile = m_dir.path() + "/pid";
    const std::string goneFile = m_dir.path() + "/gone";
    ASSERT_EQ(::mkdir(point.c_str(), 0700), 0);
    stream_probe::Child child(
        {"unshare", "-m", "sh", "-c",
         "mount -t tmpfs none \"$0\" || exit 3; echo $$ > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"; "
         "read line; umount \"$0\"; touch \"$2\"; read line",
         point, pidFile, goneFile},
        "", true);
    if (!waitUntil([&] { return !testing_support::readFile(pidFile).empty(); }))
        GTEST_SKIP() << "mounting is refused here";
    std::string pid = testing_support::readFile(pidFile);
    pid.pop_back();
    auto watcher =
        make(std::make_shared<os::RemovableMedia>("/proc/" + pid, "/sys"), base::fromUtf8(point + "/1.mp3"));
    EXPECT_FALSE(watcher.check());
    EXPECT_FALSE(watcher.check()) << "still mounted";
    ASSERT_EQ(::write(child.stdin_fd(), "\n", 1), 1);
    ASSERT_TRUE(waitUntil([&] { return boost::filesystem::exists(goneFile); }));
    EXPECT_TRUE(watcher.check());
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(logged("Носитель '" + point + "' был удален"));
}
