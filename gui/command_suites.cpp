#include "gui/command_suites.h"

#include <algorithm>
#include <boost/filesystem/operations.hpp>

#include "base/exception.h"
#include "base/files.h"
#include "base/log.h"
#include "base/system_error_text.h"
#include "base/text.h"

namespace frm {

namespace {

const wchar_t* const kExtension = L".txt";
constexpr std::size_t kExtensionLength = 4;

boost::filesystem::path osPath(const std::wstring& path) {
    return boost::filesystem::path(base::toUtf8(path));
}

}  // namespace

CommandSuiteFolder::CommandSuiteFolder(std::wstring folder) : m_folder(std::move(folder)) {
    boost::filesystem::create_directories(osPath(m_folder));
}

bool CommandSuiteFolder::isValidName(const std::wstring& name) {
    return name != L"." && name != L".." &&
           name.find_first_of(std::wstring(L"/\\\0", 3)) == std::wstring::npos;
}

std::vector<std::wstring> CommandSuiteFolder::names() const {
    std::vector<std::wstring> names;
    boost::system::error_code error;
    for (boost::filesystem::directory_iterator entry(osPath(m_folder), error), end; !error && entry != end;
         entry.increment(error)) {
        const std::wstring file = base::fromUtf8(entry->path().filename().string());
        if (file.size() < kExtensionLength ||
            file.compare(file.size() - kExtensionLength, kExtensionLength, kExtension) != 0)
            continue;
        boost::system::error_code statusError;
        if (!boost::filesystem::is_regular_file(entry->path(), statusError)) continue;
        names.push_back(file.substr(0, file.size() - kExtensionLength));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool CommandSuiteFolder::exists(const std::wstring& name) const {
    boost::system::error_code error;
    return boost::filesystem::exists(boost::filesystem::symlink_status(osPath(path(name)), error));
}

std::vector<std::wstring> CommandSuiteFolder::read(const std::wstring& name) const {
    std::string bytes;
    std::vector<std::wstring> lines;
    if (base::tryReadFile(path(name), bytes) != 0) return lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) end = bytes.size();
        std::size_t length = end - start;
        if (!last && length > 0 && bytes[end - 1] == '\r') --length;
        lines.push_back(base::fromUtf8(bytes.substr(start, length)));
        start = end + 1;
    }
    return lines;
}

bool CommandSuiteFolder::write(const std::wstring& name, const std::vector<std::wstring>& lines,
                               std::wstring& error) const {
    std::string bytes;
    for (const std::wstring& line : lines) bytes += base::toUtf8(line) + '\n';
    std::string detail;
    int code = 0;
    if (base::replaceFile(path(name), bytes, detail, &code)) return true;
    LOG_DEBUG(L"'%1%' isn't written: %2%", path(name), base::fromUtf8(detail));
    error = base::errnoForOperator(code);
    return false;
}

void CommandSuiteFolder::remove(const std::wstring& name) const {
    const boost::filesystem::path file = osPath(path(name));
    if (boost::filesystem::is_directory(boost::filesystem::symlink_status(file))) return;
    boost::filesystem::remove(file);
}

std::wstring CommandSuiteFolder::path(const std::wstring& name) const {
    if (!isValidName(name)) throw exception::InternalError(L"command suite name outside its folder");
    return m_folder + L"/" + name + kExtension;
}

}  // namespace frm
