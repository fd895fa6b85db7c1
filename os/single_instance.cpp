#include "os/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "base/exception.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "os/file_system.h"

namespace os {

namespace {

[[noreturn]] void fail(const wchar_t* format, const std::string& path, int error) {
    throw exception::ExternalError((boost::wformat(format) % base::fromUtf8(path)).str(),
                                   base::errnoForOperator(error));
}

std::string temporaryFolder() {
    boost::system::error_code error;
    const boost::filesystem::path folder = boost::filesystem::temp_directory_path(error);
    return error ? std::string("/tmp") : folder.string();
}

/// Makes the folder (and missing levels) 0700 and checks that it is a real
/// folder of this user, not a link or someone else's folder planted in a
/// shared place.
void prepareOwnFolder(const std::string& folder) {
    if (const int error = createFolders(base::fromUtf8(folder))) fail(L"Не удается создать папку '%1%'", folder, error);
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) fail(L"Не удается создать папку '%1%'", folder, errno);
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        fail(L"Папка '%1%' не принадлежит пользователю программы", folder, EPERM);
}

std::string lockPath(const std::string& name) { return runtimeFolder() + "/" + name + ".lock"; }

int openLockFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) fail(L"Не удается открыть файл '%1%'", path, errno);
    return fd;
}

int lockOrError(int fd, int operation) {
    while (::flock(fd, operation | LOCK_NB) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace

std::string runtimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && runtime[0] == '/'
                                   ? std::string(runtime) + "/sonvar"
                                   : temporaryFolder() + "/sonvar-" + std::to_string(::geteuid());
    prepareOwnFolder(folder);
    return folder;
}

SingleInstance::SingleInstance(const std::string& name) {
    const std::string path = lockPath(name);
    m_fd = openLockFile(path);
    const int error = lockOrError(m_fd, LOCK_EX);
    if (error == EWOULDBLOCK) {
        m_alreadyExists = true;
    } else if (error != 0) {
        ::close(m_fd);
        m_fd = -1;
        fail(L"Не удается заблокировать файл '%1%'", path, error);
    }
}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0) ::close(m_fd);
}

bool SingleInstance::isHeld(const std::string& name) {
    const std::string path = lockPath(name);
    const int fd = openLockFile(path);
    const int error = lockOrError(fd, LOCK_SH);
    ::close(fd);  // also drops our shared lock
    if (error != 0 && error != EWOULDBLOCK) fail(L"Не удается заблокировать файл '%1%'", path, error);
    return error == EWOULDBLOCK;
}

}  // namespace os
