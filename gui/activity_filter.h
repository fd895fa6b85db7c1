#pragma once

#include <wx/eventfilter.h>

#include <cstdint>
#include <functional>

namespace frm {

/// The operator's activity as the interface lock sees it: key-down, mouse
/// motion and left, right and middle button-down events anywhere in the
/// program hand the time (microseconds since 1601, nowMicroseconds) to
/// `record`. Every event is then processed as usual. GUI thread; registered
/// with wxEvtHandler::AddFilter (the application registers it at start-up).
class ActivityFilter : public wxEventFilter {
public:
    explicit ActivityFilter(std::function<void(std::int64_t now)> record);
    int FilterEvent(wxEvent& event) override;

private:
    std::function<void(std::int64_t)> m_record;
};

}  // namespace frm
