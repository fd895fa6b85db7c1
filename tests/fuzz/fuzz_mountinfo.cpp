// fuzz-area: os
// Mount tables as the kernel writes them: the reader of their lines and the
// lookup of the mount that holds a path. The input is one mountinfo text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "os/removable_media.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<os::MountEntry> mounts = os::parseMountInfo(text);
    for (const os::MountEntry& mount : mounts) {
        // Undoing escapes never lengthens a field.
        if (mount.point.size() > text.size() || mount.root.size() > text.size()) __builtin_trap();
        const os::MountEntry* holder = os::findMountOf(mounts, mount.point + "/file");
        if (holder == nullptr || holder->point.size() < mount.point.size()) __builtin_trap();
    }
    return 0;
}
