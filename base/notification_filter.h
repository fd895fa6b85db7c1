#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace base {

/// The repeat filter of the operator's message boxes: a NOTICE, WARN or
/// ERROR text already shown is not shown again until two seconds have passed
/// since the last text was added; FATAL and IMPOR are never filtered. Any
/// thread that logs calls it; one lock serialises them. Time is the steady
/// clock's, so a change of the wall clock neither floods nor silences boxes.
class NotificationFilter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit NotificationFilter(Clock clock = &std::chrono::steady_clock::now);

    /// True when the record should reach the operator.
    bool pass(const std::wstring& levelName, const std::wstring& message);

private:
    static constexpr std::chrono::milliseconds kForgetAfter{2000};

    Clock m_clock;
    std::mutex m_mutex;
    std::vector<std::wstring> m_recent;
    std::chrono::steady_clock::time_point m_lastAddition{};
};

}  // namespace base
