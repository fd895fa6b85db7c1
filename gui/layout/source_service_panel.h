#pragma once

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/panel.h>
#include <wx/radiobox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the message page (built twice, service and alarm messages): the
/// tree of groups and messages beside the action box, the name field, the
/// gong and message choices of a new message, the execute button, the play
/// and stop buttons and a status line. The tree reports a selection while it
/// is changing, before the new item becomes the selection.
/// frm::SourceServicePanel implements the handlers and gives the buttons
/// their images. GUI thread only.
class SourceServicePanel : public wxPanel {
public:
    SourceServicePanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                       const wxSize& size = wxSize(937, 579), long style = wxTAB_TRAVERSAL,
                       const wxString& name = wxEmptyString);
    ~SourceServicePanel() override;

protected:
    wxTreeCtrl* messageTree;
    wxRadioBox* action;
    wxPanel* namePanel;
    wxStaticText* nameLabel;
    wxTextCtrl* name;
    wxPanel* filePanel;
    wxStaticText* gongLabel;
    wxChoice* gong;
    wxStaticText* messageLabel;
    wxChoice* message;
    wxButton* execute;
    wxBitmapButton* play;
    wxBitmapButton* stop;
    wxStaticText* status;

    virtual void onSelectMessage(wxTreeEvent& event) = 0;
    virtual void actionOnRadioBox(wxCommandEvent& event) = 0;
    virtual void executeOnButtonClick(wxCommandEvent& event) = 0;
    virtual void playOnButtonClick(wxCommandEvent& event) = 0;
    virtual void stopOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
