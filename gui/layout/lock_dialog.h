#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the interface unlock: a window without caption or border with
/// the bold prompt, the masked password field, "Разблокировать" and the red
/// error line, empty at first. frm::LockDialog implements the handlers.
/// GUI thread only.
class LockDialog : public wxDialog {
public:
    LockDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = wxEmptyString,
               const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);
    ~LockDialog() override;

protected:
    wxStaticText* prompt;
    wxTextCtrl* password;
    wxButton* unlock;
    wxStaticText* message;

    virtual void OnClose(wxCloseEvent& event) = 0;
    virtual void unlockOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
