#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem/operations.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <vector>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"

namespace base {

namespace {

namespace fs = boost::filesystem;

const wchar_t* const kExternal = L"Внешняя ошибка";

std::string errnoText(const char* step) { return std::string(step) + ": " + std::strerror(errno); }

bool writeWhole(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;  // nothing written of a regular file: no room left
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

/// The folder of a path, for syncing the rename into it.
std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string readFile(const std::wstring& path) {
    LOG_TRACE(L"read file %1%", path);
    std::ifstream in(toUtf8(path), std::ios::binary);
    in.imbue(std::locale::classic());
    if (!in) {
        LOG_IMPOR(L"Неверный путь '%1%' для чтения", path);
        throw exception::ExternalError(L"Получен неверный путь для чтения", kExternal);
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) in.read(&bytes[0], size);
    if (size < 0 || !in) {
        LOG_IMPOR(L"Ошибка чтения файла '%1%'", path);
        throw exception::ExternalError(L"Ошибка чтения файла", kExternal);
    }
    return bytes;
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    LOG_TRACE(L"write file %1%", path);
    std::ofstream out(toUtf8(path), std::ios::binary | std::ios::trunc);
    out.imbue(std::locale::classic());
    if (!out) {
        LOG_ERROR(L"Неверный путь '%1%' для записи", path);
        throw exception::ExternalError(L"Получен неверный путь для записи", kExternal);
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();  // a failure to close (a full disk shows here) counts as a failed write
    if (!out) {
        LOG_IMPOR(L"Ошибка записи в файл '%1%'", path);
        throw exception::ExternalError(L"Ошибка записи в файл", kExternal);
    }
    return true;
}

int tryReadFile(const std::wstring& path, std::string& bytes) {
    const int fd = ::open(toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat status {};
    int error = ::fstat(fd, &status) != 0 ? errno : (S_ISREG(status.st_mode) ? 0 : EISDIR);
    bytes.clear();
    char chunk[65536];
    while (error == 0) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return error;
}

bool replaceFile(const std::wstring& path, const std::string& bytes, std::string& error, int* code) {
    const std::string target = toUtf8(path);
    const std::string temporary = target + ".tmp";
    int failure = 0;
    auto fail = [&](const char* step) {
        failure = errno;
        error = errnoText(step);
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail("open");
        if (code != nullptr) *code = failure;
        return false;
    }
    bool good = writeWhole(fd, bytes);
    if (!good) fail("write");
    if (good && ::fsync(fd) != 0) {
        fail("fsync");
        good = false;
    }
    if (::close(fd) != 0 && good) {
        fail("close");
        good = false;
    }
    std::string check;
    if (good && (tryReadFile(base::fromUtf8(temporary), check) != 0 || check != bytes)) {
        error = "the written file reads back different";
        failure = EIO;
        good = false;
    }
    if (good && std::rename(temporary.c_str(), target.c_str()) != 0) {
        fail("rename");
        good = false;
    }
    if (code != nullptr) *code = failure;
    if (!good) {
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself survive a power cut.
    const int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

namespace {

/// The copies kept aside of the file at `whole`: whether "<name>.bad" is
/// one of them, and the numbers N of the "<name>.bad.N" ones, in no order.
struct AsideCopies {
    fs::path folder;
    std::string first;     // "<name>.bad"
    std::string numbered;  // "<name>.bad."
    bool firstTaken = false;
    std::vector<unsigned long> numbers;
};

AsideCopies asideCopies(const std::wstring& path) {
    const fs::path whole(toUtf8(path));
    AsideCopies copies;
    copies.folder = whole.has_parent_path() ? whole.parent_path() : fs::path(".");
    copies.first = whole.filename().string() + ".bad";
    copies.numbered = copies.first + ".";
    boost::system::error_code ec;
    for (fs::directory_iterator it(copies.folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string& prefix = copies.numbered;
        if (name == copies.first) {
            copies.firstTaken = true;
        } else if (name.compare(0, prefix.size(), prefix) == 0 && name.size() > prefix.size() &&
                   name.size() - prefix.size() <= 9 &&
                   name.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
            copies.numbers.push_back(std::stoul(name.substr(prefix.size())));
        }
    }
    return copies;
}

}  // namespace

std::wstring asideName(const std::wstring& path) {
    AsideCopies copies = asideCopies(path);
    std::vector<unsigned long>& numbers = copies.numbers;
    if (!copies.firstTaken && numbers.empty()) return path + L".bad";
    std::sort(numbers.begin(), numbers.end());
    const unsigned long next = numbers.empty() ? 2 : numbers.back() + 1;
    // The new copy joins the numbered ones: the oldest of them go so that
    // the first copy, the newest numbered ones and this one stay.
    const std::size_t keep = kKeptAsideCopies > 2 ? kKeptAsideCopies - 2 : 0;
    boost::system::error_code ec;
    for (std::size_t i = 0; i + keep < numbers.size(); ++i) {
        const fs::path old = copies.folder / (copies.numbered + std::to_string(numbers[i]));
        fs::remove(old, ec);
    }
    return path + L".bad." + std::to_wstring(next);
}

namespace {

/// The copies kept aside of the file that are `size` bytes long.
std::vector<std::wstring> asideCopiesOfSize(const std::wstring& path, std::uintmax_t size) {
    const AsideCopies copies = asideCopies(path);
    std::vector<std::wstring> names;
    if (copies.firstTaken) names.push_back(path + L".bad");
    for (const unsigned long number : copies.numbers) names.push_back(path + L".bad." + std::to_wstring(number));
    std::vector<std::wstring> sized;
    for (const std::wstring& name : names) {
        boost::system::error_code ec;
        if (fs::file_size(toUtf8(name), ec) == size && !ec) sized.push_back(name);
    }
    return sized;
}

std::wstring sameAmong(const std::vector<std::wstring>& names, const std::string& bytes) {
    for (const std::wstring& name : names) {
        std::string held;
        if (tryReadFile(name, held) == 0 && held == bytes) return name;
    }
    return {};
}

}  // namespace

std::wstring sameAsideCopy(const std::wstring& path, const std::string& bytes) {
    return sameAmong(asideCopiesOfSize(path, bytes.size()), bytes);
}

std::wstring copyAside(const std::wstring& path) {
    std::string bytes;
    if (tryReadFile(path, bytes) != 0) return {};
    const std::wstring same = sameAsideCopy(path, bytes);
    if (!same.empty()) return same;
    const std::wstring aside = asideName(path);
    std::string error;
    return replaceFile(aside, bytes, error) ? aside : std::wstring();
}

std::wstring moveAside(const std::wstring& path) {
    // The file is read only when a copy of its size is there: a file set
    // aside for its size alone may be far too large to read for nothing.
    boost::system::error_code ec;
    const std::uintmax_t size = fs::file_size(toUtf8(path), ec);
    const std::vector<std::wstring> sized = ec ? std::vector<std::wstring>() : asideCopiesOfSize(path, size);
    std::string bytes;
    if (!sized.empty() && tryReadFile(path, bytes) == 0) {
        const std::wstring same = sameAmong(sized, bytes);
        if (!same.empty()) return std::remove(toUtf8(path).c_str()) == 0 ? same : std::wstring();
    }
    const std::wstring aside = asideName(path);
    return std::rename(toUtf8(path).c_str(), toUtf8(aside).c_str()) == 0 ? aside : std::wstring();
}

}  // namespace base

namespace {

namespace fs = boost::filesystem;

bool isHidden(const fs::path& entry) {
    const std::string name = entry.filename().string();
    return !name.empty() && name[0] == '.';
}

void listFiles(const fs::path& folder, bool recursive, std::vector<std::wstring>& files) {
    boost::system::error_code ec;
    std::vector<fs::path> folders;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& entry = it->path();
        if (isHidden(entry)) continue;
        boost::system::error_code kind;
        if (fs::is_directory(it->symlink_status(kind))) {
            if (recursive) folders.push_back(entry);
        } else if (fs::is_regular_file(it->status(kind))) {
            files.push_back(base::fromUtf8(entry.string()));
        }
    }
    for (const auto& sub : folders) listFiles(sub, recursive, files);
}

std::wstring upper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return text;
}

}  // namespace

std::vector<std::wstring> getFilesByMask(bool recursive, const std::wstring& folder,
                                         const std::wstring& masks) {
    std::wstring list = masks;
    if (!list.empty() && list.back() == L';') list.pop_back();

    std::vector<std::wstring> files;
    boost::system::error_code ec;
    const fs::path root(base::toUtf8(folder));
    if (!fs::is_directory(root, ec)) return files;
    listFiles(root, recursive, files);
    if (list.empty() || list == L"*") return files;

    std::vector<std::wstring> endings;
    boost::algorithm::split(endings, list, [](wchar_t c) { return c == L';'; });
    for (auto& ending : endings) {
        const auto point = ending.rfind(L'.');
        ending = point == std::wstring::npos ? std::wstring() : upper(ending.substr(point));
    }
    std::vector<std::wstring> matching;
    for (const auto& file : files) {
        const std::wstring name = upper(file);
        for (const auto& ending : endings) {
            if (name.size() >= ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
                matching.push_back(file);
                break;
            }
        }
    }
    return matching;
}

std::wstring getFileName(const std::wstring& path, bool cutExtension) {
    const auto slash = path.rfind(L'/');
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    if (cutExtension) {
        const auto point = name.rfind(L'.');
        if (point != std::wstring::npos) name.erase(point);
    }
    return name;
}

bool makeAbsolutePath(std::wstring& path, const std::wstring& folder) {
    if (path.empty()) return false;
    boost::system::error_code ec;  // an unreachable path counts as no file there
    if (fs::exists(base::toUtf8(path), ec)) return true;
    const std::wstring candidate = folder + L"/" + getFileName(path);
    if (!fs::exists(base::toUtf8(candidate), ec)) return false;
    path = candidate;
    return true;
}
