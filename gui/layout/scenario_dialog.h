#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"
#include "gui/layout/number_spin.h"

namespace frm {
namespace fb {

/// Layout of the audio-memory scenario entry: the message's name, its gong
/// and fragment, the repeat period in seconds, "Сохранить" and "Отмена".
/// frm::ScenarioDialog implements the handlers. GUI thread only.
class ScenarioDialog : public wxDialog {
public:
    ScenarioDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = L"Добавить сообщение",
                   const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(545, 304),
                   long style = wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    ~ScenarioDialog() override;

protected:
    wxStaticText* nameLabel;
    wxTextCtrl* name;
    wxStaticText* gongLabel;
    wxChoice* gong;
    wxStaticText* fragmentLabel;
    wxChoice* fragment;
    wxStaticText* repeatLabel;
    NumberSpin* repeat;
    wxButton* save;
    wxButton* cancel;

    virtual void fragmentOnChoice(wxCommandEvent& event) = 0;
    virtual void saveOnButtonClick(wxCommandEvent& event) = 0;
    virtual void cancelOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
