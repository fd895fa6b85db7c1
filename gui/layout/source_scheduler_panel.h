#pragma once

#include <wx/button.h>
#include <wx/calctrl.h>
#include <wx/checkbox.h>
#include <wx/checklst.h>
#include <wx/choice.h>
#include <wx/generic/calctrlg.h>
#include <wx/listctrl.h>
#include <wx/odcombo.h>
#include <wx/panel.h>
#include <wx/radiobox.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"
#include "gui/layout/number_spin.h"

namespace frm {
namespace fb {

/// Layout of the scheduler page: the device and zone list, the task list and
/// the filter column in the upper row; the playback source; the task editor
/// (repetition, first and last day, time of day, stop time, and the panels
/// of repetition period, weekdays and time step that the window class keeps
/// hidden); the task buttons. The device list stands in `listSizer` as built
/// here; the window class moves it to the front of `timeSizer` while the
/// top-level window is narrower than 1200 pixels. "Вкл задание" (id 1000)
/// and "Выкл задание" (id 1001) share one handler, which tells them apart by
/// the event's id.
///
/// The calendars are the generic ones: GTK's native calendar ignores the
/// holiday and surrounding-week styles. frm::SourceSchedulerPanel fills the
/// lists and implements the handlers. GUI thread only.
class SourceSchedulerPanel : public wxPanel {
public:
    static constexpr wxWindowID kEnableTaskId = 1000;
    static constexpr wxWindowID kDisableTaskId = 1001;

    SourceSchedulerPanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                         const wxSize& size = wxSize(1322, 870), long style = wxTAB_TRAVERSAL,
                         const wxString& name = wxEmptyString);
    ~SourceSchedulerPanel() override;

protected:
    wxBoxSizer* listSizer;
    wxCheckListBox* devices;
    wxListCtrl* taskList;
    wxPanel* filterPanel;
    wxScrolledWindow* filterWindow;
    wxCheckBox* filterDate;
    wxGenericCalendarCtrl* filterCalendar;
    wxCheckBox* filterStartTime;
    wxTextCtrl* filterStartTimeText;
    wxCheckBox* filterStopTime;
    wxTextCtrl* filterStopTimeText;
    wxCheckBox* filterEnabled;
    wxCheckBox* filterDevices;
    wxChoice* filterDeviceChoice;
    wxCheckBox* filterZones;
    // Drawn by wx, not a GTK combo box: that one takes time in the square of
    // its items to fill, and a site may have tens of thousands of zones.
    wxOwnerDrawnComboBox* filterZoneChoice;
    wxButton* filterApply;
    wxStaticText* placeLabel;
    wxChoice* place;
    wxStaticText* contentLabel;
    /// A list of its own, not a GTK combo box: a playlist source may hold
    /// many thousand entries, and GTK builds and sizes its menu row by row.
    wxOwnerDrawnComboBox* content;
    wxStaticText* noGongLabel;
    wxStaticLine* sourceLine;
    wxStaticText* gongLabel;
    wxChoice* gong;
    wxBoxSizer* timeSizer;
    wxRadioBox* repeat;
    wxPanel* periodPanel;
    wxStaticText* periodLabel;
    NumberSpin* period;
    wxStaticText* periodUnit;
    wxCheckListBox* weekDays;
    wxPanel* firstDatePanel;
    wxCheckBox* firstDate;
    wxGenericCalendarCtrl* firstDateCalendar;
    wxPanel* lastDatePanel;
    wxCheckBox* lastDate;
    wxGenericCalendarCtrl* lastDateCalendar;
    wxPanel* dayTimePanel;
    wxStaticText* startTimeLabel;
    NumberSpin* startHour;
    wxStaticText* startColon;
    NumberSpin* startMinute;
    wxPanel* stopTimePanel;
    wxCheckBox* stopTime;
    NumberSpin* stopHour;
    wxStaticText* stopColon;
    NumberSpin* stopMinute;
    wxPanel* stepPanel;
    wxStaticText* stepLabel;
    wxTextCtrl* step;
    wxStaticText* countLabel;
    wxTextCtrl* count;
    wxButton* enableTask;
    wxButton* disableTask;
    wxButton* edit;
    wxButton* deleteTask;
    wxButton* addTask;

    virtual void onSize(wxSizeEvent& event) = 0;
    virtual void devicesOnCheckListBox(wxCommandEvent& event) = 0;
    virtual void taskListOnListItemDeselected(wxListEvent& event) = 0;
    virtual void taskListOnListItemSelected(wxListEvent& event) = 0;
    virtual void filterDateOnCheckBox(wxCommandEvent& event) = 0;
    virtual void filterStartTimeOnCheckBox(wxCommandEvent& event) = 0;
    virtual void timeOnChar(wxKeyEvent& event) = 0;
    virtual void filterStopTimeOnCheckBox(wxCommandEvent& event) = 0;
    virtual void filterDevicesOnCheckBox(wxCommandEvent& event) = 0;
    virtual void filterZonesOnCheckBox(wxCommandEvent& event) = 0;
    virtual void filterApplyOnButtonClick(wxCommandEvent& event) = 0;
    virtual void placeOnChoice(wxCommandEvent& event) = 0;
    virtual void repeatOnRadioBox(wxCommandEvent& event) = 0;
    virtual void firstDateOnCheckBox(wxCommandEvent& event) = 0;
    virtual void lastDateOnCheckBox(wxCommandEvent& event) = 0;
    virtual void stopTimeOnCheckBox(wxCommandEvent& event) = 0;
    virtual void enableTaskOnButtonClick(wxCommandEvent& event) = 0;
    virtual void editOnButtonClick(wxCommandEvent& event) = 0;
    virtual void deleteTaskOnButtonClick(wxCommandEvent& event) = 0;
    virtual void addTaskOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;

private:
    void buildFilter();
    void buildSource(wxSizer* top);
    void buildEditor();
    void buildDayTime(wxWindow* parent, wxSizer* box);
    void buildButtons(wxSizer* top);
    void connectEvents();
};

}  // namespace fb
}  // namespace frm
