#include "base/notification_filter.h"

#include <algorithm>

namespace base {

NotificationFilter::NotificationFilter(Clock clock) : m_clock(std::move(clock)) {}

bool NotificationFilter::pass(const std::wstring& levelName, const std::wstring& message) {
    if (levelName != L"NOTICE" && levelName != L"WARN" && levelName != L"ERROR") return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto now = m_clock();
    if (now - m_lastAddition > kForgetAfter) m_recent.clear();
    if (std::find(m_recent.begin(), m_recent.end(), message) != m_recent.end()) return false;
    m_recent.push_back(message);
    m_lastAddition = now;
    return true;
}

}  // namespace base
