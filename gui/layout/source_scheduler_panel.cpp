#include "gui/layout/source_scheduler_panel.h"

#include <wx/statbox.h>
#include <wx/wrapsizer.h>

#include <algorithm>

namespace frm {
namespace fb {

namespace {

constexpr int kBorder = 5;
/// The least height a window with a vertical scroll bar is given: GTK's
/// scroll bar needs about 46 pixels and with less fails its checks
/// (Gtk-CRITICAL gtk_box_gadget_distribute), which the task list and the
/// filter did while the page was squeezed at the main window's smaller sizes.
constexpr int kScrollingMinHeight = 60;
/// The filter column's controls sit closer together.
constexpr int kFilterBorder = 2;
constexpr int kFieldLength = 8;

/// Sets an inner panel's sizer, fits the panel to it and lays it out; fitted
/// first, since a calendar laid out in a panel without a size yet would be
/// given a negative one.
void finishPanel(wxWindow* panel, wxSizer* sizer) {
    panel->SetSizer(sizer);
    sizer->Fit(panel);
    panel->Layout();
}

wxStaticText* label(wxWindow* parent, const wxString& text) {
    auto* made = new wxStaticText(parent, wxID_ANY, text);
    made->Wrap(-1);
    return made;
}

wxCheckBox* checkBox(wxWindow* parent, const wxString& text) {
    auto* made = new wxCheckBox(parent, wxID_ANY, text);
    made->SetValue(false);
    return made;
}

/// A spin control as wide as GTK draws its field with both buttons: the
/// designed 50 or 60 pixels are too narrow for it, and GTK reports an error
/// for a narrower one.
NumberSpin* spin(wxWindow* parent, int min, int max, int initial) {
    return new NumberSpin(parent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS,
                          min, max, initial);
}

/// A calendar on today, disabled. The month changes by the arrows beside
/// its name, as on the native calendars the page was drawn for: GTK's month
/// choice and year field would make each calendar a quarter wider.
wxGenericCalendarCtrl* calendar(wxWindow* parent, long style) {
    auto* made = new wxGenericCalendarCtrl(parent, wxID_ANY, wxDefaultDateTime, wxDefaultPosition,
                                           wxDefaultSize, style | wxCAL_SEQUENTIAL_MONTH_SELECTION);
    made->Disable();
    return made;
}

/// The first or last day of the editor: a check box over its calendar.
wxPanel* datePanel(wxWindow* parent, const wxString& text, wxCheckBox*& box, wxGenericCalendarCtrl*& days) {
    auto* panel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->SetMinSize(wxSize(160, -1));
    box = checkBox(panel, text);
    sizer->Add(box, 0, wxALL, kBorder);
    days = calendar(panel, wxCAL_MONDAY_FIRST | wxCAL_SHOW_HOLIDAYS | wxCAL_SHOW_SURROUNDING_WEEKS);
    sizer->Add(days, 0, wxEXPAND | wxALL, kBorder);
    finishPanel(panel, sizer);
    return panel;
}

}  // namespace

SourceSchedulerPanel::SourceSchedulerPanel(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                           const wxSize& size, long style, const wxString& name)
    : wxPanel(parent, id, pos, size, style, name) {
    SetMinSize(wxSize(700, 590));
    auto* topSizer = new wxBoxSizer(wxVERTICAL);

    listSizer = new wxBoxSizer(wxHORIZONTAL);
    // Sample rows, replaced by the window class with the zones and loudspeakers.
    const wxString samples[] = {L"Все устройства", L"Устройство1", L"Устройство2"};
    devices = new wxCheckListBox(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 3, samples, wxLB_HSCROLL);
    devices->SetMinSize(wxSize(200, -1));
    // Its own font, the one GTK gives it: the list's width is measured on
    // every row, and without a font of its own each measure asks GTK for the
    // style again (seconds at tens of thousands of zones).
    devices->SetFont(devices->GetFont());
    listSizer->Add(devices, 0, wxEXPAND | wxRIGHT, kBorder);
    taskList =
        new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_NO_SORT_HEADER);
    taskList->SetMinSize(wxSize(-1, kScrollingMinHeight));
    listSizer->Add(taskList, 3, wxEXPAND | wxRIGHT, kBorder);
    buildFilter();
    listSizer->Add(filterPanel, 0, wxEXPAND, kBorder);
    topSizer->Add(listSizer, 1, wxEXPAND, kBorder);

    buildSource(topSizer);

    timeSizer = new wxBoxSizer(wxHORIZONTAL);
    buildEditor();
    topSizer->Add(timeSizer, 0, wxEXPAND, 0);

    buildButtons(topSizer);

    SetSizer(topSizer);
    Layout();
    connectEvents();
}

void SourceSchedulerPanel::buildFilter() {
    filterPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* box = new wxStaticBoxSizer(new wxStaticBox(filterPanel, wxID_ANY, L"Фильтр"), wxVERTICAL);
    filterWindow = new wxScrolledWindow(box->GetStaticBox(), wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                        wxHSCROLL | wxVSCROLL);
    filterWindow->SetScrollRate(0, 50);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->SetMinSize(wxSize(160, -1));
    const auto headed = [column](wxWindow* control) {
        column->Add(control, 0, wxLEFT | wxRIGHT | wxTOP, kFilterBorder);
    };

    filterDate = checkBox(filterWindow, L"Дата");
    headed(filterDate);
    filterCalendar = calendar(filterWindow, wxCAL_MONDAY_FIRST | wxCAL_SHOW_HOLIDAYS);
    column->Add(filterCalendar, 0, wxEXPAND | wxALL, kFilterBorder);
    filterStartTime = checkBox(filterWindow, L"Время начала");
    headed(filterStartTime);
    filterStartTimeText = new wxTextCtrl(filterWindow, wxID_ANY, L"00:00");
    filterStartTimeText->SetMaxLength(kFieldLength);
    filterStartTimeText->Disable();
    column->Add(filterStartTimeText, 0, wxALL, kFilterBorder);
    filterStopTime = checkBox(filterWindow, L"Время останова");
    headed(filterStopTime);
    filterStopTimeText = new wxTextCtrl(filterWindow, wxID_ANY, L"00:00");
    filterStopTimeText->SetMaxLength(kFieldLength);
    filterStopTimeText->Disable();
    column->Add(filterStopTimeText, 0, wxALL, kFilterBorder);
    filterEnabled = checkBox(filterWindow, L"Включенные задания");
    column->Add(filterEnabled, 0, wxALL, kFilterBorder);
    filterDevices = checkBox(filterWindow, L"Устройства");
    column->Add(filterDevices, 0, wxALL, kFilterBorder);
    filterDeviceChoice = new wxChoice(filterWindow, wxID_ANY);
    filterDeviceChoice->SetSelection(0);
    filterDeviceChoice->Disable();
    filterDeviceChoice->SetMaxSize(wxSize(250, -1));
    column->Add(filterDeviceChoice, 0, wxEXPAND | wxALL, kFilterBorder);
    filterZones = checkBox(filterWindow, L"Зоны");
    column->Add(filterZones, 0, wxALL, kFilterBorder);
    filterZoneChoice = new wxOwnerDrawnComboBox(filterWindow, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                                wxDefaultSize, 0, nullptr, wxCB_READONLY);
    filterZoneChoice->Disable();
    filterZoneChoice->SetMaxSize(wxSize(250, -1));
    column->Add(filterZoneChoice, 0, wxEXPAND | wxALL, kFilterBorder);
    filterApply = new wxButton(filterWindow, wxID_ANY, L"Применить");
    column->Add(filterApply, 0, wxALL, kFilterBorder);

    finishPanel(filterWindow, column);
    filterWindow->SetMinSize(wxSize(filterWindow->GetMinSize().x, kScrollingMinHeight));
    box->Add(filterWindow, 1, wxEXPAND, kBorder);
    finishPanel(filterPanel, box);
}

void SourceSchedulerPanel::buildSource(wxSizer* top) {
    auto* box =
        new wxStaticBoxSizer(new wxStaticBox(this, wxID_ANY, L"Источник воспроизведения"), wxHORIZONTAL);
    wxWindow* parent = box->GetStaticBox();
    placeLabel = label(parent, L"Объект");
    box->Add(placeLabel, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxTOP | wxBOTTOM, kBorder);
    place = new wxChoice(parent, wxID_ANY);
    box->Add(place, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    contentLabel = label(parent, L"Контент");
    box->Add(contentLabel, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxTOP | wxBOTTOM, kBorder);
    content = new wxOwnerDrawnComboBox(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, 0, nullptr,
                                       wxCB_READONLY);
    box->Add(content, 2, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    noGongLabel = label(parent, L"(Контент без гонга)");
    box->Add(noGongLabel, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM, kBorder);
    sourceLine = new wxStaticLine(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL);
    box->Add(sourceLine, 0, wxEXPAND | wxALL, kBorder);
    gongLabel = label(parent, L"Гонг");
    box->Add(gongLabel, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxTOP | wxBOTTOM, kBorder);
    gong = new wxChoice(parent, wxID_ANY);
    gong->SetSelection(0);
    box->Add(gong, 1, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    top->Add(box, 0, wxEXPAND | wxTOP | wxBOTTOM, kBorder);
}

void SourceSchedulerPanel::buildEditor() {
    auto* frameBox = new wxStaticBoxSizer(new wxStaticBox(this, wxID_ANY, L"Время"), wxHORIZONTAL);
    wxWindow* parent = frameBox->GetStaticBox();
    // The parts go on in a second line when the window is too narrow for
    // one: GTK draws spin buttons and calendars wider than the page was
    // drawn for.
    auto* box = new wxWrapSizer(wxHORIZONTAL, 0);

    const wxString kinds[] = {L"Однократно", L"Ежедневно"};
    repeat = new wxRadioBox(parent, wxID_ANY, L"Повторять", wxDefaultPosition, wxDefaultSize, 2, kinds, 1,
                            wxRA_SPECIFY_COLS);
    repeat->SetSelection(0);
    box->Add(repeat, 0, wxEXPAND | wxALL, kBorder);

    periodPanel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* periodColumn = new wxBoxSizer(wxVERTICAL);
    periodLabel = label(periodPanel, L"Повторять каждый");
    periodColumn->Add(periodLabel, 0, wxALL, kBorder);
    auto* periodRow = new wxBoxSizer(wxHORIZONTAL);
    period = spin(periodPanel, 1, 365, 1);
    periodRow->Add(period, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    periodUnit = label(periodPanel, L"(день)");
    periodRow->Add(periodUnit, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM, kBorder);
    periodColumn->Add(periodRow, 0, wxEXPAND, kBorder);
    finishPanel(periodPanel, periodColumn);
    box->Add(periodPanel, 0, wxEXPAND, kBorder);

    const wxString days[] = {L"Понедельник", L"Вторник", L"Среда",      L"Четверг",
                             L"Пятница",     L"Суббота", L"Воскресенье"};
    weekDays = new wxCheckListBox(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, 7, days, wxLB_MULTIPLE);
    box->Add(weekDays, 0, wxEXPAND | wxALL, kBorder);

    firstDatePanel = datePanel(parent, L"Дата первого запуска", firstDate, firstDateCalendar);
    box->Add(firstDatePanel, 0, wxEXPAND, kBorder);
    lastDatePanel = datePanel(parent, L"Дата последнего запуска", lastDate, lastDateCalendar);
    box->Add(lastDatePanel, 0, wxEXPAND, kBorder);

    dayTimePanel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    buildDayTime(dayTimePanel, box);

    stepPanel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* stepColumn = new wxBoxSizer(wxVERTICAL);
    stepLabel = label(stepPanel, L"Шаг времени");
    stepColumn->Add(stepLabel, 0, wxLEFT | wxRIGHT | wxTOP, kBorder);
    step = new wxTextCtrl(stepPanel, wxID_ANY, L"00:00", wxDefaultPosition, wxSize(60, -1));
    step->SetMaxLength(kFieldLength);
    stepColumn->Add(step, 0, wxALL, kBorder);
    countLabel = label(stepPanel, L"Кол-во раз");
    stepColumn->Add(countLabel, 0, wxLEFT | wxRIGHT | wxTOP, kBorder);
    count = new wxTextCtrl(stepPanel, wxID_ANY, L"1", wxDefaultPosition, wxSize(60, -1));
    count->SetMaxLength(2);
    stepColumn->Add(count, 0, wxALL, kBorder);
    finishPanel(stepPanel, stepColumn);
    box->Add(stepPanel, 0, wxEXPAND, kBorder);

    frameBox->Add(box, 1, wxEXPAND, 0);
    timeSizer->Add(frameBox, 1, wxEXPAND, kBorder);
}

void SourceSchedulerPanel::buildDayTime(wxWindow* panel, wxSizer* box) {
    // The start and the stop side by side: one above the other, the editor
    // grew so tall that at the main window's smallest size the task list
    // above it kept a single row.
    auto* dayBox = new wxStaticBoxSizer(new wxStaticBox(panel, wxID_ANY, L"В течении дня"), wxHORIZONTAL);
    wxWindow* parent = dayBox->GetStaticBox();
    auto* startColumn = new wxBoxSizer(wxVERTICAL);
    startTimeLabel = label(parent, L"Время запуска (ч:м)");
    startColumn->Add(startTimeLabel, 0, wxRIGHT | wxTOP, kBorder);
    auto* startRow = new wxBoxSizer(wxHORIZONTAL);
    startHour = spin(parent, 0, 23, 0);
    startRow->Add(startHour, 0, wxTOP | wxBOTTOM, kBorder);
    startColon = label(parent, L":");
    startRow->Add(startColon, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM, kBorder);
    startMinute = spin(parent, 0, 59, 0);
    startRow->Add(startMinute, 0, wxTOP | wxBOTTOM, kBorder);
    startColumn->Add(startRow, 0, 0, kBorder);
    dayBox->Add(startColumn, 0, wxRIGHT, 2 * kBorder);

    stopTimePanel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* stopColumn = new wxBoxSizer(wxVERTICAL);
    stopTime = checkBox(stopTimePanel, L"Время останова (ч:м)");
    stopColumn->Add(stopTime, 0, wxRIGHT | wxTOP, kBorder);
    auto* stopRow = new wxBoxSizer(wxHORIZONTAL);
    stopHour = spin(stopTimePanel, 0, 23, 0);
    stopRow->Add(stopHour, 0, wxTOP | wxBOTTOM, kBorder);
    stopColon = label(stopTimePanel, L":");
    stopRow->Add(stopColon, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM, kBorder);
    stopMinute = spin(stopTimePanel, 0, 59, 0);
    stopRow->Add(stopMinute, 0, wxTOP | wxBOTTOM, kBorder);
    stopColumn->Add(stopRow, 0, 0, kBorder);
    finishPanel(stopTimePanel, stopColumn);
    dayBox->Add(stopTimePanel, 0, wxRIGHT, kBorder);

    finishPanel(panel, dayBox);
    box->Add(panel, 0, wxEXPAND, kBorder);
}

void SourceSchedulerPanel::buildButtons(wxSizer* top) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(0, 0, 1, wxEXPAND, kBorder);
    enableTask = new wxButton(this, kEnableTaskId, L"Вкл задание");
    enableTask->Disable();
    row->Add(enableTask, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    disableTask = new wxButton(this, kDisableTaskId, L"Выкл задание");
    disableTask->Disable();
    row->Add(disableTask, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    edit = new wxButton(this, wxID_ANY, L"Редактировать");
    edit->Disable();
    edit->Hide();
    row->Add(edit, 0, wxALL, kBorder);
    deleteTask = new wxButton(this, wxID_ANY, L"Удалить");
    deleteTask->Disable();
    row->Add(deleteTask, 0, wxALL, kBorder);
    addTask = new wxButton(this, wxID_ANY, L"Добавить");
    row->Add(addTask, 0, wxALL, kBorder);
    top->Add(row, 0, wxEXPAND, kBorder);
}

void SourceSchedulerPanel::connectEvents() {
    using Self = SourceSchedulerPanel;
    EventConnections& c = m_connections;
    c.connect(this, wxEVT_SIZE, &Self::onSize, this);
    c.connect(devices, wxEVT_CHECKLISTBOX, &Self::devicesOnCheckListBox, this);
    c.connect(taskList, wxEVT_LIST_ITEM_DESELECTED, &Self::taskListOnListItemDeselected, this);
    c.connect(taskList, wxEVT_LIST_ITEM_SELECTED, &Self::taskListOnListItemSelected, this);
    c.connect(filterDate, wxEVT_CHECKBOX, &Self::filterDateOnCheckBox, this);
    c.connect(filterStartTime, wxEVT_CHECKBOX, &Self::filterStartTimeOnCheckBox, this);
    c.connect(filterStartTimeText, wxEVT_CHAR, &Self::timeOnChar, this);
    c.connect(filterStopTime, wxEVT_CHECKBOX, &Self::filterStopTimeOnCheckBox, this);
    c.connect(filterStopTimeText, wxEVT_CHAR, &Self::timeOnChar, this);
    c.connect(filterDevices, wxEVT_CHECKBOX, &Self::filterDevicesOnCheckBox, this);
    c.connect(filterZones, wxEVT_CHECKBOX, &Self::filterZonesOnCheckBox, this);
    c.connect(filterApply, wxEVT_BUTTON, &Self::filterApplyOnButtonClick, this);
    c.connect(place, wxEVT_CHOICE, &Self::placeOnChoice, this);
    c.connect(repeat, wxEVT_RADIOBOX, &Self::repeatOnRadioBox, this);
    c.connect(firstDate, wxEVT_CHECKBOX, &Self::firstDateOnCheckBox, this);
    c.connect(lastDate, wxEVT_CHECKBOX, &Self::lastDateOnCheckBox, this);
    c.connect(stopTime, wxEVT_CHECKBOX, &Self::stopTimeOnCheckBox, this);
    c.connect(step, wxEVT_CHAR, &Self::timeOnChar, this);
    c.connect(enableTask, wxEVT_BUTTON, &Self::enableTaskOnButtonClick, this);
    c.connect(disableTask, wxEVT_BUTTON, &Self::enableTaskOnButtonClick, this);
    c.connect(edit, wxEVT_BUTTON, &Self::editOnButtonClick, this);
    c.connect(deleteTask, wxEVT_BUTTON, &Self::deleteTaskOnButtonClick, this);
    c.connect(addTask, wxEVT_BUTTON, &Self::addTaskOnButtonClick, this);
}

SourceSchedulerPanel::~SourceSchedulerPanel() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
