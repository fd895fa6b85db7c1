#pragma once

#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/dialog.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the command-suite dialog: the suite's name with the list of
/// saved suites, and "Очистить", "Удалить", "Загрузить", "Сохранить". Its
/// four handler operations let the event go on unless frm::CmdSuiteDialog
/// overrides them. GUI thread only.
class CmdSuiteDialog : public wxDialog {
public:
    CmdSuiteDialog(wxWindow* parent, wxWindowID id = wxID_ANY,
                   const wxString& title = L"Управление набором команд",
                   const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(636, 147),
                   long style = wxDEFAULT_DIALOG_STYLE);
    ~CmdSuiteDialog() override;

protected:
    wxComboBox* name;
    wxButton* clear;
    wxButton* deleteButton;  // "delete" is taken by the language
    wxButton* apply;
    wxButton* save;

    virtual void clearOnButtonClick(wxCommandEvent& event) { event.Skip(); }
    virtual void deleteOnButtonClick(wxCommandEvent& event) { event.Skip(); }
    virtual void applyOnButtonClick(wxCommandEvent& event) { event.Skip(); }
    virtual void saveOnButtonClick(wxCommandEvent& event) { event.Skip(); }

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
