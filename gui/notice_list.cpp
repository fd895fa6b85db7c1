#include "gui/notice_list.h"

#include <algorithm>

namespace frm {

NoticeList::NoticeList(std::size_t limit) : m_limit(std::max<std::size_t>(limit, 1)) {}

Notice* NoticeList::find(const std::wstring& caption, const std::wstring& text) {
    const auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const Notice& notice) {
        return notice.text == text && notice.caption == caption;
    });
    return found != m_entries.end() ? &*found : nullptr;
}

std::size_t NoticeList::add(const std::wstring& time, const std::wstring& caption, const std::wstring& text) {
    if (Notice* listed = find(caption, text)) {
        ++listed->count;
        return static_cast<std::size_t>(listed - m_entries.data());
    }
    if (m_entries.size() >= m_limit)
        m_entries.erase(m_entries.begin(), m_entries.begin() + (m_entries.size() - m_limit + 1));
    m_entries.push_back({time, caption, text, 1});
    return m_entries.size() - 1;
}

bool NoticeList::countRepeat(const std::wstring& caption, const std::wstring& text) {
    Notice* listed = find(caption, text);
    if (listed == nullptr) return false;
    ++listed->count;
    return true;
}

std::wstring NoticeList::shownText(const Notice& notice) {
    if (notice.count <= 1) return notice.text;
    return notice.text + L" (\u00D7" + std::to_wstring(notice.count) + L")";
}

std::wstring NoticeList::text() const {
    std::wstring all;
    for (const Notice& notice : m_entries) {
        if (!all.empty()) all += L"\n\n";
        all += notice.time + L"  " + notice.caption + L"\n" + shownText(notice);
    }
    return all;
}

}  // namespace frm
