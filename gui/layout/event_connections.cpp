#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

void EventConnections::add(wxEvtHandler* source, wxEventType type, wxObjectEventFunction function,
                           wxEvtHandler* receiver) {
    source->Connect(wxID_ANY, wxID_ANY, type, function, nullptr, receiver);
    m_connections.push_back({source, type, function, receiver});
    m_sources.emplace_back(source);
}

void EventConnections::disconnectAll() {
    for (std::size_t i = 0; i < m_connections.size(); ++i) {
        const Connection& c = m_connections[i];
        if (m_sources[i]) c.source->Disconnect(wxID_ANY, wxID_ANY, c.type, c.function, nullptr, c.receiver);
    }
    m_connections.clear();
    m_sources.clear();
}

const std::vector<wxEventType>& EventConnections::userActivityEvents() {
    static const std::vector<wxEventType> events = {
        wxEVT_LEFT_DOWN,   wxEVT_LEFT_UP,      wxEVT_MIDDLE_DOWN,   wxEVT_MIDDLE_UP,    wxEVT_RIGHT_DOWN,
        wxEVT_RIGHT_UP,    wxEVT_AUX1_DOWN,    wxEVT_AUX1_UP,       wxEVT_AUX2_DOWN,    wxEVT_AUX2_UP,
        wxEVT_MOTION,      wxEVT_LEFT_DCLICK,  wxEVT_MIDDLE_DCLICK, wxEVT_RIGHT_DCLICK, wxEVT_AUX1_DCLICK,
        wxEVT_AUX2_DCLICK, wxEVT_LEAVE_WINDOW, wxEVT_ENTER_WINDOW,  wxEVT_MOUSEWHEEL};
    return events;
}

}  // namespace fb
}  // namespace frm
