#pragma once

#include <string>
#include <vector>

// The removable media the operator can play from: the mounted file systems
// of removable disks (USB sticks, card readers) and optical drives, read from
// the mount table and the block devices of sysfs. A medium is known by its
// mount point, an absolute path that may contain blanks.
//
// Stateless readers of the system's files: any thread. The roots are
// parameters so that tests run on fixture trees.
namespace os {

/// One line of a mountinfo file.
struct MountEntry {
    unsigned id = 0;
    unsigned major = 0;
    unsigned minor = 0;
    /// The mounted file system's folder that appears at the mount point ("/"
    /// unless a folder of it was bound there).
    std::string root;
    /// Absolute, UTF-8, escapes undone.
    std::string point;
};

/// The lines of a mountinfo file in file order; lines that do not have the
/// fields up to the mount point are left out. In the mount point and the root
/// the kernel's octal escapes ("\040" blank, "\011" tab, "\012" line feed,
/// "\134" backslash) are undone.
std::vector<MountEntry> parseMountInfo(const std::string& text);

/// The two kinds of medium; the numbers are those the pages pass around.
enum class DriveKind { kRemovable = 0, kOptical = 1, kNone = -1 };

/// What the medium watcher asks of the system; tests put a fake in its place.
class MediaProbe {
public:
    virtual ~MediaProbe() = default;
    /// Every mount, in the mount table's order.
    virtual std::vector<MountEntry> mounts() = 0;
    /// The block device major:minor still exists.
    virtual bool hasBlockDevice(unsigned major, unsigned minor) = 0;
    virtual DriveKind driveKind(unsigned major, unsigned minor) = 0;
    /// 0 when the path can be reached, else the errno value of access().
    virtual int accessError(const std::string& path) = 0;
};

/// The system's media: `procRoot` holds "mountinfo" (the calling process's
/// "/proc/self"; another process's "/proc/<pid>" sees that process's mount
/// namespace), `sysRoot` is sysfs.
class RemovableMedia : public MediaProbe {
public:
    explicit RemovableMedia(std::string procRoot = "/proc/self", std::string sysRoot = "/sys");

    std::vector<MountEntry> mounts() override;
    bool hasBlockDevice(unsigned major, unsigned minor) override;
    /// Through "<sys>/dev/block/MAJ:MIN" to the disk (the parent of a
    /// partition): optical when the disk is "sr*" or its SCSI type is 5;
    /// removable when its "removable" is 1 or the device hangs on a USB bus
    /// (USB disks often say removable 0); otherwise, and without a sysfs
    /// entry, none.
    DriveKind driveKind(unsigned major, unsigned minor) override;
    int accessError(const std::string& path) override;

    /// The mount points of the drives of one kind, in the mount table's
    /// order, each once; the root file system and the system's own mount
    /// points (/boot, /usr, /var, /home, ...) are never drives, nor is a
    /// folder of a file system bound elsewhere.
    std::vector<std::wstring> drives(DriveKind kind);

private:
    const std::string m_procRoot;
    const std::string m_sysRoot;
};

/// The mount that holds an absolute path: the one with the longest mount
/// point that is the path or one of its folders (a later mount on the same
/// point hides an earlier one). Null when none does.
const MountEntry* findMountOf(const std::vector<MountEntry>& mounts, const std::string& path);

}  // namespace os
