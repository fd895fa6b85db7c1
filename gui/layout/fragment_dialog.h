#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the audio-memory fragment entry: the fragment's name, its audio
/// file with a browse button, "Сохранить" and "Отмена". frm::FragmentDialog
/// implements the handlers. GUI thread only.
class FragmentDialog : public wxDialog {
public:
    FragmentDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = L"Добавить фрагмент",
                   const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(418, 195),
                   long style = wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    ~FragmentDialog() override;

protected:
    wxStaticText* nameLabel;
    wxTextCtrl* name;
    wxStaticText* filePathLabel;
    wxTextCtrl* filePath;
    wxButton* file;
    wxButton* save;
    wxButton* cancel;

    virtual void fileOnButtonClick(wxCommandEvent& event) = 0;
    virtual void saveOnButtonClick(wxCommandEvent& event) = 0;
    virtual void cancelOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
