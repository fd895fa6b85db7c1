#include "os/data_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "base/check.h"
#include "base/log.h"
#include "base/text.h"
#include "os/file_system.h"

namespace os {

namespace {

std::atomic<bool> g_dataDirectoryMigrated{false};

const wchar_t* const kCompanyFolder = L"Varko Security Systems";
const wchar_t* const kProductFolder = L"Sonvar";
const wchar_t* const kVersionFolder = L"1.2";
const wchar_t* const kPreviousVersionFolder = L"1.1";

std::wstring productFolder() {
    const std::wstring base = localApplicationDataFolder();
    if (base.empty()) return {};
    return base + L"/" + kCompanyFolder + L"/" + kProductFolder;
}

std::wstring passwdHome() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr)
        return {};
    return base::fromUtf8(found->pw_dir);
}

}  // namespace

std::wstring localApplicationDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return base::fromUtf8(xdg);
    const char* home = std::getenv("HOME");
    std::wstring folder = home != nullptr && home[0] == '/' ? base::fromUtf8(home) : passwdHome();
    if (folder.empty()) return {};
    while (folder.size() > 1 && folder.back() == L'/') folder.pop_back();
    if (folder == L"/") folder.clear();
    return folder + L"/.local/share";
}

bool prepareDataDirectory(std::wstring& folder) {
    const std::wstring product = productFolder();
    if (product.empty()) return false;
    if (createFolders(product) != 0) return false;
    folder = product + L"/" + kVersionFolder;
    const std::wstring previous = product + L"/" + kPreviousVersionFolder;

    if (!folderExists(folder) && folderExists(previous)) {
        g_dataDirectoryMigrated = true;
        if (moveFile(previous, folder)) return true;
        // The old folder stays; a fresh one lets the program start at all
        // (otherwise every later start would try the same move and fail).
    }
    return createFolders(folder) == 0;
}

bool dataDirectoryMigrated() { return g_dataDirectoryMigrated; }

std::wstring getUserDataDirectory() {
    const std::wstring product = productFolder();
    const std::wstring folder = product + L"/" + kVersionFolder;
    const int error = product.empty() ? ENOENT : createFolders(folder);
    if (error != 0)
        throw boost::filesystem::filesystem_error(
            "cannot create the data folder", base::toUtf8(folder),
            boost::system::error_code(error, boost::system::system_category()));
    return folder;
}

std::wstring getApplicationDirectory() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size() - 1) {
        LOG_ERROR(L"Не удается получить каталог приложения");
        debug::stopProgram();
    }
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    path.erase(slash == 0 ? 1 : slash);
    return base::fromUtf8(path);
}

}  // namespace os
