#include "gui/activity_filter.h"

#include <wx/event.h>

#include <utility>

#include "base/clock.h"

namespace frm {

ActivityFilter::ActivityFilter(std::function<void(std::int64_t now)> record) : m_record(std::move(record)) {}

int ActivityFilter::FilterEvent(wxEvent& event) {
    const wxEventType type = event.GetEventType();
    if (type == wxEVT_KEY_DOWN || type == wxEVT_MOTION || type == wxEVT_LEFT_DOWN ||
        type == wxEVT_RIGHT_DOWN || type == wxEVT_MIDDLE_DOWN) {
        if (m_record) m_record(nowMicroseconds());
    }
    return Event_Skip;
}

}  // namespace frm
