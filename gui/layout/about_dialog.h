#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the about box: a read-only rich text with links, the "Справка"
/// button, the hidden "Проверить обновления" button and the OK button of a
/// standard button sizer. frm::AboutDialog fills the text and implements the
/// handlers. GUI thread only.
class AboutDialog : public wxDialog {
public:
    AboutDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = L"О программе",
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(449, 355),
                long style = wxDEFAULT_DIALOG_STYLE);
    ~AboutDialog() override;

protected:
    wxPanel* panel;
    wxTextCtrl* text;
    wxButton* help;
    wxButton* checkUpdate;
    wxStdDialogButtonSizer* buttonSizer;
    wxButton* buttonSizerOk;

    virtual void textOnLeftUp(wxMouseEvent& event) = 0;
    virtual void textOnTextUrl(wxTextUrlEvent& event) = 0;
    virtual void helpOnButtonClick(wxCommandEvent& event) = 0;
    virtual void checkUpdateOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
