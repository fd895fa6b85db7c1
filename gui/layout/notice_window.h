#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the notice window: the notices in a read-only text that wraps
/// and scrolls, and "OK" below it. Not modal. frm::NoticeWindow implements
/// the handlers. GUI thread only.
class NoticeWindow : public wxDialog {
public:
    NoticeWindow(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = L"Сообщения",
                 const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(560, 320),
                 long style = wxCAPTION | wxCLOSE_BOX | wxRESIZE_BORDER);
    ~NoticeWindow() override;

protected:
    wxTextCtrl* messages;
    wxButton* ok;

    virtual void okOnButtonClick(wxCommandEvent& event) = 0;
    virtual void onClose(wxCloseEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
