#include "gui/url_history.h"

#include "base/files.h"
#include "base/text.h"

namespace frm {
namespace url_history {

std::wstring trimmed(const std::wstring& text) {
    const wchar_t* const blanks = L" \t\n\r\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::vector<std::wstring> read(const std::wstring& path) {
    std::vector<std::wstring> lines;
    std::string bytes;
    if (base::tryReadFile(path, bytes) != 0) return lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(trimmed(base::fromUtf8(bytes.substr(start, end - start))));
        start = end + 1;
    }
    return lines;
}

std::vector<std::wstring> afterAccepting(const std::wstring& accepted,
                                         const std::vector<std::wstring>& history) {
    const std::wstring first = trimmed(accepted);
    std::vector<std::wstring> lines;
    if (!first.empty()) lines.push_back(first);
    for (const std::wstring& entry : history) {
        std::wstring line = trimmed(entry);
        if (first.empty() || line != first) lines.push_back(std::move(line));
    }
    return lines;
}

bool write(const std::wstring& path, const std::vector<std::wstring>& lines) {
    std::string bytes;
    for (const std::wstring& line : lines) bytes += base::toUtf8(line) + '\n';
    std::string error;
    return base::replaceFile(path, bytes, error);
}

}  // namespace url_history
}  // namespace frm
