#include "gui/recorded_messages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/place_folders.h"
#include "base/log.h"
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

/// Copies into a file that must not exist yet; on failure the partial copy
/// is removed (errno tells the cause).
bool copyNew(const std::string& source, const std::string& target) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        const int cause = errno;
        ::close(in);
        errno = cause;
        return false;
    }
    bool done = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            done = n == 0;
            break;
        }
        for (ssize_t written = 0; done && written < n;) {
            const ssize_t w = ::write(out, buffer + written, static_cast<std::size_t>(n - written));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0)
                done = false;
            else
                written += w;
        }
        if (!done) break;
    }
    const int cause = errno;
    if (done && ::fsync(out) != 0) done = false;
    if (::close(out) != 0) done = false;
    ::close(in);
    if (!done) {
        ::unlink(target.c_str());
        errno = cause;
    }
    return done;
}

/// How much of a recording is looked at for sound, and how far after a
/// frame header an encoder's summary tag may start.
constexpr std::size_t kAudioProbeBytes = 256 * 1024;
constexpr std::size_t kSummaryTagReach = 4 + 32 + 4;

/// An MPEG audio frame header: the sync bits, then no reserved version,
/// layer, bit rate or sample rate.
bool isFrameHeader(const unsigned char* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    const unsigned version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3;
    const unsigned bitrate = h[2] >> 4, rate = (h[2] >> 2) & 3;
    return version != 1 && layer != 0 && bitrate != 0 && bitrate != 15 && rate != 3;
}

}  // namespace

std::wstring recordedMessageFolder() {
    std::wstring folder = placeFolder(PlaceFolder::kRecordedMessage);
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

bool recordingHasAudio(const std::wstring& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(base::toUtf8(path).c_str(), "rb"),
                                                         &std::fclose);
    if (!file) return false;
    // An ID3v2 tag first: ten bytes of header, its size in 7-bit bytes.
    unsigned char tag[10] = {};
    long start = 0;
    if (std::fread(tag, 1, sizeof tag, file.get()) == sizeof tag && std::memcmp(tag, "ID3", 3) == 0)
        start = 10 + static_cast<long>((tag[6] & 0x7FUL) << 21 | (tag[7] & 0x7FUL) << 14 |
                                       (tag[8] & 0x7FUL) << 7 | (tag[9] & 0x7FUL));
    if (std::fseek(file.get(), start, SEEK_SET) != 0) return false;
    std::vector<unsigned char> bytes(kAudioProbeBytes);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
        if (!isFrameHeader(&bytes[at])) continue;
        // The encoder's summary frame ("Xing", "Info", "VBRI") carries no sound.
        const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
        const std::string head(from, from + static_cast<std::ptrdiff_t>(
                                                std::min(kSummaryTagReach, bytes.size() - at)));
        if (head.find("Xing") == std::string::npos && head.find("Info") == std::string::npos &&
            head.find("VBRI") == std::string::npos)
            return true;
        at += 3;
    }
    return false;
}

bool moveRecording(const std::wstring& from, const std::wstring& to) {
    const std::string source = base::toUtf8(from);
    const std::string target = base::toUtf8(to);
    boost::system::error_code error;
    if (fs::exists(target, error)) return false;
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
    if (errno != EXDEV) {
        LOG_DEBUG(L"rename '%1%' to '%2%': %3%", from, to, base::toWide(std::strerror(errno)));
        return false;
    }
    // Copied by hand: the library's copy fails with EXDEV as well where the
    // kernel's in-place copy does not cross file systems.
    if (!copyNew(source, target)) {
        LOG_DEBUG(L"copy '%1%' to '%2%': %3%", from, to, base::toWide(std::strerror(errno)));
        return false;
    }
    ::unlink(source.c_str());  // the copy is in place; a leftover is replaced by the next recording
    return true;
}

}  // namespace frm
