#pragma once

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/radiobox.h>
#include <wx/scrolwin.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the main window: the top bar (seven page toggles, the hidden
/// alarm banner, the gong and alarm buttons, the clock, the logo), the zone
/// column and the empty content panel. Builds the controls and routes their
/// events to the handler operations below (377 connections: nineteen mouse
/// events of the window and of most controls go to onUserActivity, the
/// operator's activity for the interface lock); frm::MainFrame implements
/// them. The sample zone row is for the window class to hide. GUI thread only.
class MainFrame : public wxFrame {
public:
    MainFrame(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = wxEmptyString,
              const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(1024, 700),
              long style = wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL);
    ~MainFrame() override;

protected:
    wxPanel* topPanel;
    wxToggleButton* playlist;
    wxToggleButton* radio;
    wxToggleButton* drives;
    wxToggleButton* scheduler;
    wxToggleButton* microphone;
    wxToggleButton* serviceMessage;
    wxToggleButton* alarm;
    wxPanel* alarmPanel;
    wxStaticText* alarmText;
    wxButton* playGong;
    wxButton* playAlarm;
    wxStaticText* clockTime;
    wxStaticText* clockDate;
    wxStaticBitmap* logoVarko;
    wxPanel* bodyPanel;
    wxPanel* zonePanel;
    wxToggleButton* allZones;
    wxScrolledWindow* zoneList;
    wxPanel* zoneRow;
    wxStaticBitmap* zoneRowBitmap;
    wxToggleButton* zoneRowToggle;
    wxPanel* zoneControlPanel;
    wxPanel* zoneManagementPanel;
    wxRadioBox* action;
    wxTextCtrl* zoneName;
    wxButton* execute;
    wxButton* zoneManagement;
    wxPanel* contentPanel;

    virtual void OnClose(wxCloseEvent& event) = 0;
    virtual void onUserActivity(wxMouseEvent& event) = 0;
    virtual void playlistOnButtonClick(wxCommandEvent& event) = 0;
    virtual void radioOnButtonClick(wxCommandEvent& event) = 0;
    virtual void drivesOnButtonClick(wxCommandEvent& event) = 0;
    virtual void schedulerOnButtonClick(wxCommandEvent& event) = 0;
    virtual void microphoneOnButtonClick(wxCommandEvent& event) = 0;
    virtual void serviceMessageOnButtonClick(wxCommandEvent& event) = 0;
    virtual void alarmOnButtonClick(wxCommandEvent& event) = 0;
    virtual void playGongOnButtonClick(wxCommandEvent& event) = 0;
    virtual void playAlarmOnButtonClick(wxCommandEvent& event) = 0;
    virtual void logoVarkoOnLeftUp(wxMouseEvent& event) = 0;
    virtual void zoneOnButtonClick(wxCommandEvent& event) = 0;
    virtual void actionOnRadioBox(wxCommandEvent& event) = 0;
    virtual void executeOnButtonClick(wxCommandEvent& event) = 0;
    virtual void zoneManagementOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;

private:
    void connectEvents();
};

}  // namespace fb
}  // namespace frm
