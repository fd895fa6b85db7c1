#include "gui/log_file.h"

#include <algorithm>

#include "base/files.h"
#include "base/text.h"
#include "gui/settings_rules.h"

namespace frm {

std::vector<std::wstring> logDates(const std::wstring& folder) {
    std::vector<std::wstring> dates;
    for (const std::wstring& path : getFilesByMask(false, folder, L"*.log"))
        dates.push_back(getFileName(path, true));
    // The folder lists its files in no particular order.
    std::sort(dates.begin(), dates.end());
    return dates;
}

LogFile::LogFile(const std::wstring& path) {
    if (!settings::pathExists(path)) return;
    m_in.open(base::toUtf8(path), std::ios::binary);
    if (!m_in) {
        m_state = State::Unreadable;
        return;
    }
    m_in.seekg(0, std::ios::end);
    const std::streamoff size = m_in.tellg();
    if (size < 0) {  // a folder opens, but has no end to seek to
        m_state = State::Unreadable;
        return;
    }
    m_size = static_cast<std::uintmax_t>(size);
    m_state = m_size >= kSizeLimit ? State::TooLarge : State::Ready;
}

std::wstring LogFile::read() {
    if (m_state != State::Ready) return {};
    std::string bytes(m_size, '\0');
    m_in.seekg(0);
    m_in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(m_in.gcount()));
    if (!base::isValidUtf8(bytes)) return {};
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return base::fromUtf8(bytes);
}

}  // namespace frm
