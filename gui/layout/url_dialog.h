#pragma once

#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the internet-radio station entry: the supported formats, the
/// station's name, its address with the history list, "Сохранить" and
/// "Отмена". frm::UrlDialog implements the handlers. GUI thread only.
class UrlDialog : public wxDialog {
public:
    UrlDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = L"topText",
              const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(523, 243),
              long style = wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    ~UrlDialog() override;

protected:
    wxStaticText* formatsLabel;
    wxStaticText* nameLabel;
    wxTextCtrl* name;
    wxStaticText* urlLabel;
    wxComboBox* url;
    wxButton* ok;
    wxButton* cancel;

    virtual void okOnButtonClick(wxCommandEvent& event) = 0;
    virtual void cancelOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
