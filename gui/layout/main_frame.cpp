#include "gui/layout/main_frame.h"

#include <wx/font.h>
#include <wx/settings.h>
#include <wx/sizer.h>

namespace frm {
namespace fb {

namespace {

/// Sets an inner panel's sizer, lays the panel out and fits the sizer to it.
void finishPanel(wxPanel* panel, wxSizer* sizer) {
    panel->SetSizer(sizer);
    panel->Layout();
    sizer->Fit(panel);
}

}  // namespace

MainFrame::MainFrame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                     const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style) {
    SetSizeHints(wxSize(1060, 600), wxDefaultSize);
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));

    auto* topSizer = new wxBoxSizer(wxVERTICAL);

    // The top bar: page toggles, alarm banner, gong and alarm, clock, logo.
    topPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* barSizer = new wxBoxSizer(wxHORIZONTAL);

    playlist = new wxToggleButton(topPanel, wxID_ANY, L"Плейлист");
    radio = new wxToggleButton(topPanel, wxID_ANY, L"Радио");
    drives = new wxToggleButton(topPanel, wxID_ANY, L"Накопители");
    scheduler = new wxToggleButton(topPanel, wxID_ANY, L"Расписание");
    microphone = new wxToggleButton(topPanel, wxID_ANY, L"Микрофон");
    serviceMessage = new wxToggleButton(topPanel, wxID_ANY, L"Служебные");
    alarm = new wxToggleButton(topPanel, wxID_ANY, L"Тревожное\nоповещение");
    for (wxToggleButton* page : {playlist, radio, drives, scheduler, microphone, serviceMessage, alarm})
        barSizer->Add(page, 0, wxALL | wxEXPAND, 0);

    barSizer->Add(0, 0, 1, wxEXPAND, 5);

    alarmPanel = new wxPanel(topPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    alarmPanel->SetBackgroundColour(wxColour(255, 0, 0));
    alarmPanel->Hide();
    auto* alarmSizer = new wxBoxSizer(wxVERTICAL);
    alarmSizer->Add(0, 0, 1, wxEXPAND, 5);
    alarmText = new wxStaticText(alarmPanel, wxID_ANY, L"text", wxDefaultPosition, wxDefaultSize, 0);
    alarmText->Wrap(-1);
    alarmText->SetFont(
        wxFont(10, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD, false, wxEmptyString));
    alarmText->SetBackgroundColour(wxColour(255, 66, 66));
    alarmSizer->Add(alarmText, 0, wxTOP | wxBOTTOM, 1);
    alarmSizer->Add(0, 0, 1, wxEXPAND, 5);
    finishPanel(alarmPanel, alarmSizer);
    barSizer->Add(alarmPanel, 0, wxEXPAND, 5);

    playGong = new wxButton(topPanel, wxID_ANY, L"Гонг", wxDefaultPosition, wxSize(68, -1));
    barSizer->Add(playGong, 0, wxALL | wxEXPAND, 0);
    playAlarm = new wxButton(topPanel, wxID_ANY, L"Тревога", wxDefaultPosition, wxSize(72, -1));
    barSizer->Add(playAlarm, 0, wxALL | wxEXPAND, 0);

    auto* clockSizer = new wxBoxSizer(wxVERTICAL);
    const long clockStyle = wxALIGN_CENTRE_HORIZONTAL | wxBORDER_SIMPLE;
    clockTime =
        new wxStaticText(topPanel, wxID_ANY, L"12:00:00", wxDefaultPosition, wxSize(74, -1), clockStyle);
    clockTime->Wrap(-1);
    clockSizer->Add(clockTime, 0, wxALIGN_RIGHT | wxTOP, 5);
    clockDate =
        new wxStaticText(topPanel, wxID_ANY, L"01.01.2023", wxDefaultPosition, wxSize(74, -1), clockStyle);
    clockDate->Wrap(-1);
    clockSizer->Add(clockDate, 0, wxALIGN_RIGHT | wxTOP | wxBOTTOM, 5);
    barSizer->Add(clockSizer, 0, wxEXPAND, 5);

    logoVarko = new wxStaticBitmap(topPanel, wxID_ANY, wxNullBitmap);
    barSizer->Add(logoVarko, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM, 1);

    finishPanel(topPanel, barSizer);
    topSizer->Add(topPanel, 0, wxEXPAND | wxTOP, 5);

    // The body: the zone column and the content panel.
    bodyPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* bodySizer = new wxBoxSizer(wxHORIZONTAL);

    zonePanel = new wxPanel(bodyPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* zoneSizer = new wxBoxSizer(wxVERTICAL);
    zoneSizer->SetMinSize(wxSize(223, -1));

    allZones = new wxToggleButton(zonePanel, wxID_ANY, L"Все зоны");
    allZones->SetValue(true);
    zoneSizer->Add(allZones, 0, wxALL | wxEXPAND, 5);

    zoneList =
        new wxScrolledWindow(zonePanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHSCROLL | wxVSCROLL);
    zoneList->SetScrollRate(5, 5);
    auto* zoneListSizer = new wxBoxSizer(wxVERTICAL);

    zoneRow = new wxPanel(zoneList, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* zoneRowSizer = new wxBoxSizer(wxHORIZONTAL);
    zoneRowSizer->SetMinSize(wxSize(-1, 36));
    zoneRowBitmap = new wxStaticBitmap(zoneRow, wxID_ANY, wxNullBitmap);
    zoneRowBitmap->Hide();
    zoneRowSizer->Add(zoneRowBitmap, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxTOP | wxBOTTOM, 5);
    zoneRowToggle = new wxToggleButton(zoneRow, wxID_ANY, L"Name Zone (new devices)");
    zoneRowToggle->SetValue(true);
    zoneRowSizer->Add(zoneRowToggle, 1, wxEXPAND, 5);
    finishPanel(zoneRow, zoneRowSizer);
    zoneListSizer->Add(zoneRow, 0, wxALL | wxEXPAND, 0);

    finishPanel(zoneList, zoneListSizer);
    zoneSizer->Add(zoneList, 1, wxALL | wxEXPAND, 5);

    zoneControlPanel = new wxPanel(zonePanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* zoneControlSizer = new wxBoxSizer(wxVERTICAL);

    zoneManagementPanel =
        new wxPanel(zoneControlPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    zoneManagementPanel->Hide();
    auto* managementSizer = new wxBoxSizer(wxVERTICAL);
    const wxString actions[] = {L"Добавить", L"Редактировать", L"Удалить"};
    action = new wxRadioBox(zoneManagementPanel, wxID_ANY, L"Действие", wxDefaultPosition, wxDefaultSize,
                            WXSIZEOF(actions), actions, 2, wxRA_SPECIFY_ROWS);
    action->SetSelection(0);
    managementSizer->Add(action, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 5);
    zoneName =
        new wxTextCtrl(zoneManagementPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0);
    zoneName->SetMaxLength(32);
    managementSizer->Add(zoneName, 1, wxALL | wxEXPAND, 5);
    execute = new wxButton(zoneManagementPanel, wxID_ANY, L"Добавить");
    managementSizer->Add(execute, 0, wxALL | wxEXPAND, 5);
    finishPanel(zoneManagementPanel, managementSizer);
    zoneControlSizer->Add(zoneManagementPanel, 0, wxEXPAND, 5);

    auto* managementButtonSizer = new wxBoxSizer(wxHORIZONTAL);
    zoneManagement = new wxButton(zoneControlPanel, wxID_ANY, L"Управление зонами");
    managementButtonSizer->Add(zoneManagement, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    managementButtonSizer->Add(0, 0, 1, wxEXPAND, 5);
    zoneControlSizer->Add(managementButtonSizer, 1, wxEXPAND, 5);
    finishPanel(zoneControlPanel, zoneControlSizer);
    zoneSizer->Add(zoneControlPanel, 0, wxEXPAND, 5);

    finishPanel(zonePanel, zoneSizer);
    bodySizer->Add(zonePanel, 0, wxEXPAND | wxTOP | wxBOTTOM, 5);

    contentPanel = new wxPanel(bodyPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    bodySizer->Add(contentPanel, 1, wxEXPAND, 0);

    finishPanel(bodyPanel, bodySizer);
    topSizer->Add(bodyPanel, 1, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    connectEvents();
}

MainFrame::~MainFrame() { m_connections.disconnectAll(); }

void MainFrame::connectEvents() {
    EventConnections& c = m_connections;
    c.connect(this, wxEVT_CLOSE_WINDOW, &MainFrame::OnClose, this);
    c.connectUserActivity(this, &MainFrame::onUserActivity, this);
    c.connectUserActivity(topPanel, &MainFrame::onUserActivity, this);

    using Handler = void (MainFrame::*)(wxCommandEvent&);
    const std::pair<wxToggleButton*, Handler> pages[] = {
        {playlist, &MainFrame::playlistOnButtonClick},
        {radio, &MainFrame::radioOnButtonClick},
        {drives, &MainFrame::drivesOnButtonClick},
        {scheduler, &MainFrame::schedulerOnButtonClick},
        {microphone, &MainFrame::microphoneOnButtonClick},
        {serviceMessage, &MainFrame::serviceMessageOnButtonClick},
        {alarm, &MainFrame::alarmOnButtonClick},
    };
    for (const auto& page : pages) {
        c.connectUserActivity(page.first, &MainFrame::onUserActivity, this);
        c.connect(page.first, wxEVT_TOGGLEBUTTON, page.second, this);
    }
    c.connectUserActivity(alarmPanel, &MainFrame::onUserActivity, this);

    c.connect(playGong, wxEVT_BUTTON, &MainFrame::playGongOnButtonClick, this);
    c.connectUserActivity(playGong, &MainFrame::onUserActivity, this);
    c.connect(playAlarm, wxEVT_BUTTON, &MainFrame::playAlarmOnButtonClick, this);
    c.connectUserActivity(playAlarm, &MainFrame::onUserActivity, this);
    c.connect(logoVarko, wxEVT_LEFT_UP, &MainFrame::logoVarkoOnLeftUp, this);
    c.connectUserActivity(logoVarko, &MainFrame::onUserActivity, this);

    c.connectUserActivity(allZones, &MainFrame::onUserActivity, this);
    c.connect(allZones, wxEVT_TOGGLEBUTTON, &MainFrame::zoneOnButtonClick, this);
    c.connectUserActivity(zoneList, &MainFrame::onUserActivity, this);
    c.connectUserActivity(zoneRowToggle, &MainFrame::onUserActivity, this);
    c.connect(zoneRowToggle, wxEVT_TOGGLEBUTTON, &MainFrame::zoneOnButtonClick, this);
    c.connectUserActivity(zoneControlPanel, &MainFrame::onUserActivity, this);

    c.connect(action, wxEVT_RADIOBOX, &MainFrame::actionOnRadioBox, this);
    c.connect(execute, wxEVT_BUTTON, &MainFrame::executeOnButtonClick, this);
    c.connect(zoneManagement, wxEVT_BUTTON, &MainFrame::zoneManagementOnButtonClick, this);
    c.connectUserActivity(zoneManagement, &MainFrame::onUserActivity, this);
    c.connectUserActivity(contentPanel, &MainFrame::onUserActivity, this);
}

}  // namespace fb
}  // namespace frm
