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
    /// A disk at sys/devices/<disk> with its "removable", and the block device
    /// majMin: the disk itself or, when given, one of its partitions.
    void block(const std::string& majMin, const std::string& disk, const char* removable,
               const std::string& partition = "") {
        const fs::path folder = sys / "devices" / disk;
        fs::create_directories(folder / partition);
        std::ofstream((folder / "removable").string()) << removable << "\n";
        if (!partition.empty()) std::ofstream((folder / partition / "partition").string()) << "1\n";
        fs::create_directories(sys / "dev/block");
        fs::create_directory_symlink(fs::path("../../devices") / disk / partition,
                                     sys / "dev/block" / majMin);
    }
    void mountinfo(const std::string& text) { std::ofstream((dir / "mountinfo").string()) << text; }

    void SetUp() override {
        block("8:1", "pci0000:00/ata1/host0/target0:0:0/0:0:0:0/block/sda", "0", "sda1");
        block("8:2", "pci0000:00/ata1/host0/target0:0:0/0:0:0:0/block/sda", "0", "sda2");
        block("8:17", "pci0000:00/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb", "0", "sdb1");
        block("11:0", "pci0000:00/ata2/host1/target1:0:0/1:0:0:0/block/sr0", "1");
        block("179:1", "platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0", "1", "mmcblk0p1");
        block("259:1", "pci0000:00/nvme/nvme0/nvme0n1", "0", "nvme0n1p1");
        block("254:0", "virtual/block/dm-0", "0");
        block("8:32", "pci0000:00/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0/block/sdc", "1");
    }

    testing_support::TempDir temp{"media"};
    const fs::path dir = temp.path();
    const fs::path sys = dir / "sys";
    os::RemovableMedia media{dir.string(), sys.string()};
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
