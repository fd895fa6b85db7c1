#include "os/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/text.h"

namespace os {

bool setCurrentDirectory(const std::wstring& folder) { return ::chdir(base::toUtf8(folder).c_str()) == 0; }

bool moveFile(const std::wstring& from, const std::wstring& to) {
    return std::rename(base::toUtf8(from).c_str(), base::toUtf8(to).c_str()) == 0;
}

bool folderExists(const std::wstring& folder) {
    struct stat status {};
    return ::stat(base::toUtf8(folder).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

int createFolders(const std::wstring& folder) {
    const std::string path = base::toUtf8(folder);
    if (path.empty()) return ENOENT;
    // Walk down from the root so that every missing level gets our mode, not
    // the umask's idea of it.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string level = path.substr(0, end);
        if (!level.empty() && level.back() != '/' && ::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (end == std::string::npos) break;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return errno;
    return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
}

}  // namespace os
