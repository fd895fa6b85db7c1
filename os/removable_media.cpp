#include "os/removable_media.h"

#include <unistd.h>

#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "base/text.h"

namespace os {

namespace {

namespace fs = boost::filesystem;

/// Folders of the installed system: what is mounted there, or below, is no
/// medium even when its disk hangs on a USB bus (a system started from one).
const char* const kSystemFolders[] = {"/boot", "/efi", "/etc", "/home", "/opt",
                                      "/root", "/srv", "/usr", "/var"};

std::string unescape(const std::string& field) {
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const bool octal = field[i] == '\\' && i + 3 < field.size();
        if (octal && field[i + 1] >= '0' && field[i + 1] <= '3' && field[i + 2] >= '0' &&
            field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

/// "MAJ:MIN" into its numbers.
bool parseDevice(const std::string& field, unsigned& major, unsigned& minor) {
    std::istringstream in(field);
    char colon = 0;
    return static_cast<bool>(in >> major >> colon >> minor) && colon == ':' && in.peek() == EOF;
}

/// The first line of a small sysfs file, trimmed; empty when unreadable.
std::string readAttribute(const fs::path& path) {
    std::ifstream in(path.string());
    std::string line;
    std::getline(in, line);
    return boost::algorithm::trim_copy(line);
}

bool isSystemMount(const std::string& point) {
    if (point == "/") return true;
    for (const char* folder : kSystemFolders) {
        const std::string base(folder);
        if (point == base || boost::algorithm::starts_with(point, base + "/")) return true;
    }
    return false;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(const std::string& text) {
    std::vector<MountEntry> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (!(fields >> id >> parent >> device >> root >> point)) continue;
        MountEntry entry;
        try {
            std::size_t used = 0;
            const unsigned long number = std::stoul(id, &used);
            if (used != id.size()) continue;
            entry.id = static_cast<unsigned>(number);
        } catch (const std::exception&) {
            continue;
        }
        if (!parseDevice(device, entry.major, entry.minor)) continue;
        entry.root = unescape(root);
        entry.point = unescape(point);
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

const MountEntry* findMountOf(const std::vector<MountEntry>& mounts, const std::string& path) {
    const MountEntry* best = nullptr;
    for (const MountEntry& mount : mounts) {
        const std::string& point = mount.point;
        const bool holds = path == point || point == "/" ||
                           (boost::algorithm::starts_with(path, point) && path.size() > point.size() &&
                            path[point.size()] == '/');
        if (holds && (best == nullptr || point.size() >= best->point.size())) best = &mount;
    }
    return best;
}

RemovableMedia::RemovableMedia(std::string procRoot, std::string sysRoot)
    : m_procRoot(std::move(procRoot)), m_sysRoot(std::move(sysRoot)) {}

std::vector<MountEntry> RemovableMedia::mounts() {
    std::ifstream in(m_procRoot + "/mountinfo");
    std::ostringstream text;
    text << in.rdbuf();
    return parseMountInfo(text.str());
}

bool RemovableMedia::hasBlockDevice(unsigned major, unsigned minor) {
    boost::system::error_code error;
    const fs::path entry =
        fs::path(m_sysRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    return fs::exists(entry, error);
}

DriveKind RemovableMedia::driveKind(unsigned major, unsigned minor) {
    boost::system::error_code error;
    const fs::path entry =
        fs::path(m_sysRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    fs::path device = fs::canonical(entry, error);
    if (error) return DriveKind::kNone;
    if (fs::exists(device / "partition", error)) device = device.parent_path();
    const std::string name = device.filename().string();
    if (boost::algorithm::starts_with(name, "sr") || readAttribute(device / "device" / "type") == "5")
        return DriveKind::kOptical;
    // Only the part below sysfs counts: the tree itself may lie anywhere.
    const fs::path sysRoot = fs::canonical(m_sysRoot, error);
    std::string below = device.string();
    if (!error && boost::algorithm::starts_with(below, sysRoot.string()))
        below = below.substr(sysRoot.string().size());
    if (readAttribute(device / "removable") == "1" || below.find("/usb") != std::string::npos)
        return DriveKind::kRemovable;
    return DriveKind::kNone;
}

int RemovableMedia::accessError(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0 ? 0 : errno;
}

std::vector<std::wstring> RemovableMedia::drives(DriveKind kind) {
    std::vector<std::wstring> found;
    std::vector<std::string> seen;
    for (const MountEntry& mount : mounts()) {
        if (mount.root != "/" || isSystemMount(mount.point) || mount.point.empty() || mount.point[0] != '/')
            continue;
        if (std::find(seen.begin(), seen.end(), mount.point) != seen.end()) continue;
        if (driveKind(mount.major, mount.minor) != kind) continue;
        seen.push_back(mount.point);
        found.push_back(base::fromUtf8(mount.point));
    }
    return found;
}

}  // namespace os
