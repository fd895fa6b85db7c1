#pragma once

#include <wx/bmpbuttn.h>
#include <wx/listctrl.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the removable-medium page: a column for the drive buttons (the
/// window class fills `driveSizer`, 30 pixels wide while empty), the list of
/// the medium's files and the previous, play, stop and next buttons.
/// frm::SourceDevicePanel implements the handlers. GUI thread only.
class SourceDevicePanel : public wxPanel {
public:
    SourceDevicePanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                      const wxSize& size = wxSize(700, 500), long style = wxTAB_TRAVERSAL,
                      const wxString& name = wxEmptyString);
    ~SourceDevicePanel() override;

protected:
    wxBoxSizer* driveSizer;
    wxListCtrl* trackList;
    wxPanel* controlPanel;
    wxBitmapButton* prev;
    wxBitmapButton* play;
    wxBitmapButton* stop;
    wxBitmapButton* next;

    virtual void listCtrlLeftDoubleClick(wxMouseEvent& event) = 0;
    virtual void buttonPrev(wxCommandEvent& event) = 0;
    virtual void buttonPlay(wxCommandEvent& event) = 0;
    virtual void buttonStop(wxCommandEvent& event) = 0;
    virtual void buttonNext(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
