// The removable media read from a fixture mountinfo and a fixture sysfs tree:
// escapes, the kinds of disks a PC has, and what never counts as a drive.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <fstream>

#include "os/removable_media.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = boost::filesystem;
using Drives = std::vector<std::wstring>;

class MediaTree : public ::testing::Test {
protected:
    /// A block device under sys/devices/<place>, reachable as dev/block/<majMin>,
    /// with its attributes (file name, content).
    void device(const std::string& majMin, const std::string& place,
                const std::vector<std::pair<std::string, std::string>>& attributes = {}) {
        const fs::path folder = sys / "devices" / place;
        fs::create_directories(folder);
        for (const auto& attribute : attributes) {
            fs::create_directories((folder / attribute.first).parent_path());
            std::ofstream((folder / attribute.first).string()) << attribute.second << "\n";
        }
        fs::create_directories(sys / "dev" / "block");
        fs::create_directory_symlink(fs::path("../../devices") / place, sys / "dev" / "block" / majMin);
    }
    void mountinfo(const std::string& text) { std::ofstream((dir / "proc" / "mountinfo").string()) << text; }

    testing_support::TempDir temp{"media"};
    const fs::path dir = temp.path();
    const fs::path sys = dir / "sys";
    os::RemovableMedia media{(dir / "proc").string(), sys.string()};

    void SetUp() override {
        fs::create_directories(dir / "proc");
        const std::string usb =
            "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
        device("8:0", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda",
               {{"removable", "0"}});
        device("8:1", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1",
               {{"partition", "1"}});
        device("8:2", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda2",
               {{"partition", "2"}});
        device("8:16", usb, {{"removable", "0"}});
        device("8:17", usb + "/sdb1", {{"partition", "1"}});
        device("11:0", "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sr0",
               {{"removable", "1"}, {"device/type", "5"}});
        device("179:1", "platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0/mmcblk0p1",
               {{"partition", "1"}});
        std::ofstream(
            (sys / "devices/platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0/removable").string())
            << "1\n";
        device("259:1", "pci0000:00/0000:00:1d.0/nvme/nvme0/nvme0n1/nvme0n1p1", {{"partition", "1"}});
        std::ofstream((sys / "devices/pci0000:00/0000:00:1d.0/nvme/nvme0/nvme0n1/removable").string())
            << "0\n";
        device("254:0", "virtual/block/dm-0", {{"removable", "0"}});
        device("8:32", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0/block/sdc",
               {{"removable", "1"}});
    }
};

}  // namespace

TEST(MountInfo, FieldsAreReadWithTheKernelsEscapesUndoneAndBadLinesLeftOut) {
    const auto mounts = os::parseMountInfo(
        "36 25 8:17 / /media/op/USB\\040STICK rw,nosuid shared:1 - vfat /dev/sdb1 rw\n"
        "garbage\n"
        "37 25 8x1 / /mnt/a rw - ext4 /dev/sda3 rw\n"
        "38 25 8:1 /music /media/a\\011b\\012c\\134d rw - ext4 /dev/sda1 rw\n");
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].id, 36u);
    EXPECT_EQ(mounts[0].major, 8u);
    EXPECT_EQ(mounts[0].minor, 17u);
    EXPECT_EQ(mounts[0].point, "/media/op/USB STICK");
    EXPECT_EQ(mounts[1].root, "/music");
    EXPECT_EQ(mounts[1].point, "/media/a\tb\nc\\d");

    EXPECT_EQ(os::findMountOf(mounts, "/media/op/USB STICK/Альбом/1.mp3"), &mounts[0]);
    EXPECT_EQ(os::findMountOf(mounts, "/media/op/USB STICKER/1.mp3"), nullptr)
        << "a longer name is another folder";
}

TEST_F(MediaTree, RemovableAndOpticalDrivesInTableOrderAndNothingElse) {
    mountinfo(
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "22 21 0:21 / /proc rw - proc proc rw\n"
        "23 21 8:2 / /home rw - ext4 /dev/sda2 rw\n"
        "40 21 8:17 / /media/op/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
        "41 21 8:17 /music /mnt/music rw - vfat /dev/sdb1 rw\n"
        "42 21 11:0 / /media/op/DVD rw - iso9660 /dev/sr0 ro\n"
        "43 21 179:1 / /media/op/SD rw - vfat /dev/mmcblk0p1 rw\n"
        "44 21 259:1 / /data rw - ext4 /dev/nvme0n1p1 rw\n"
        "45 21 254:0 / /mnt/crypt rw - ext4 /dev/mapper/crypt rw\n"
        "46 21 8:48 / /media/op/GONE rw - vfat /dev/sdd rw\n"
        "47 21 0:40 / /tmp/ram rw - tmpfs none rw\n"
        "48 21 8:32 / /media/op/CARD rw - vfat /dev/sdc rw\n"
        "49 21 8:17 / /boot/efi rw - vfat /dev/sdb1 rw\n");
    EXPECT_EQ(media.drives(os::DriveKind::kRemovable),
              (Drives{L"/media/op/USB STICK", L"/media/op/SD", L"/media/op/CARD"}));
    EXPECT_EQ(media.drives(os::DriveKind::kOptical), (Drives{L"/media/op/DVD"}));

    EXPECT_EQ(media.driveKind(8, 17), os::DriveKind::kRemovable) << "a USB disk that says removable 0";
    EXPECT_EQ(media.driveKind(8, 1), os::DriveKind::kNone);
    EXPECT_EQ(media.driveKind(259, 1), os::DriveKind::kNone);
    EXPECT_EQ(media.driveKind(254, 0), os::DriveKind::kNone);
    EXPECT_EQ(media.driveKind(8, 48), os::DriveKind::kNone) << "no sysfs entry";
    EXPECT_TRUE(media.hasBlockDevice(8, 17));
    EXPECT_FALSE(media.hasBlockDevice(8, 48));
}

TEST_F(MediaTree, NoMountTableNoDrives) {
    EXPECT_TRUE(media.mounts().empty());
    EXPECT_TRUE(media.drives(os::DriveKind::kRemovable).empty());
}
