#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/panel.h>
#include <wx/radiobox.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the microphone page: the list of recorded messages above; below
/// it the source ("Микрофон" or "Список"), the transfer mode (broadcast,
/// recording under a name), the gong option, the start button and the
/// delete button. frm::SourceMicrophonePanel implements the handlers.
/// GUI thread only.
class SourceMicrophonePanel : public wxPanel {
public:
    SourceMicrophonePanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                          const wxSize& size = wxSize(941, 589), long style = wxTAB_TRAVERSAL,
                          const wxString& name = wxEmptyString);
    ~SourceMicrophonePanel() override;

protected:
    wxListCtrl* listCtrlRecord;
    wxPanel* controlPanel;
    wxRadioBox* radioBoxRecordSource;
    wxCheckBox* checkBoxBroadcast;
    wxCheckBox* checkBoxRecord;
    wxTextCtrl* recordName;
    wxButton* buttonRecordSave;
    wxCheckBox* gongEnable;
    wxChoice* gong;
    wxButton* buttonStartAndStop;
    wxButton* deleteRecord;

    virtual void listCtrlRecordKeyUp(wxKeyEvent& event) = 0;
    virtual void listCtrlRecordOnListItemDeselected(wxListEvent& event) = 0;
    virtual void listCtrlRecordOnListItemSelected(wxListEvent& event) = 0;
    virtual void radioBoxRecordSourceOnRadioBox(wxCommandEvent& event) = 0;
    virtual void checkBoxBroadcastOnCheckBox(wxCommandEvent& event) = 0;
    virtual void checkBoxRecordOnCheckBox(wxCommandEvent& event) = 0;
    virtual void buttonRecordSaveOnClick(wxCommandEvent& event) = 0;
    /// The check box "Включить" (not the gong choice, which has no handler).
    virtual void gongOnChoice(wxCommandEvent& event) = 0;
    virtual void buttonStartAndStopOnButtonClick(wxCommandEvent& event) = 0;
    virtual void deleteOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
