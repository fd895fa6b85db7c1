#include "gui/recorded_messages.h"

#include <sys/stat.h>

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <cstdlib>

#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "os/data_directory.h"

namespace frm {

namespace {

namespace fs = boost::filesystem;

const wchar_t* const kRecordFile = L"sonvar_record.mp3";

/// The folder exists as a folder afterwards (made for this user alone when
/// it was missing).
bool ownFolder(const std::wstring& path) {
    if (::mkdir(base::toUtf8(path).c_str(), 0700) == 0) return true;
    boost::system::error_code error;
    return errno == EEXIST && fs::is_directory(base::toUtf8(path), error);
}

}  // namespace

std::wstring recordedMessageFolder() {
    std::wstring folder = pref::getString("place.pathDirRecordedMessage");
    if (folder.empty()) folder = os::getUserDataDirectory() + L"/record";
    if (folder.back() != L'/') folder += L'/';
    return folder;
}

std::wstring temporaryRecordPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const std::wstring folder = base::fromUtf8(runtime) + L"/sonvar";
        if (ownFolder(folder)) return folder + L"/" + kRecordFile;
        LOG_DEBUG(L"The runtime folder '%1%' cannot be used", folder);
    }
    const std::wstring folder = os::getUserDataDirectory() + L"/tmp";
    if (!ownFolder(folder)) LOG_WARN(L"Не удалось создать папку '%1%'", folder);
    return folder + L"/" + kRecordFile;
}

bool isSafeRecordName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (const wchar_t c : name) {
        if (c == L'/' || c == L'\\') return false;
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
    }
    return true;
}

bool moveRecording(const std::wstring& from, const std::wstring& to) {
    const fs::path source(base::toUtf8(from));
    const fs::path target(base::toUtf8(to));
    boost::system::error_code error;
    if (fs::exists(target, error)) return false;
    fs::rename(source, target, error);
    if (!error) return true;
    if (error != boost::system::errc::cross_device_link) {
        LOG_DEBUG(L"rename '%1%' to '%2%': %3%", from, to, base::toWide(error.message()));
        return false;
    }
    fs::copy_file(source, target, fs::copy_options::none, error);
    if (error) {
        LOG_DEBUG(L"copy '%1%' to '%2%': %3%", from, to, base::toWide(error.message()));
        // A half-written copy goes; a file that appeared meanwhile is not ours.
        boost::system::error_code ignored;
        if (error != boost::system::errc::file_exists) fs::remove(target, ignored);
        return false;
    }
    fs::remove(source, error);  // the copy is in place; a leftover is replaced by the next recording
    return true;
}

}  // namespace frm
