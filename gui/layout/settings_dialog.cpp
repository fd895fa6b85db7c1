#include "gui/layout/settings_dialog.h"

#include <algorithm>

#include <wx/font.h>
#include <wx/settings.h>
#include <wx/statbox.h>

namespace frm {
namespace fb {

namespace {

constexpr int kBorder = 5;

/// Sets a page's sizer, lays the page out and fits the sizer to it.
void finishPanel(wxPanel* panel, wxSizer* sizer) {
    panel->SetSizer(sizer);
    panel->Layout();
    sizer->Fit(panel);
}

/// The red note that the page's settings take effect after a restart.
wxStaticText* restartNote(wxWindow* parent) {
    auto* note = new wxStaticText(parent, wxID_ANY, L"Чтобы изменения вступили в силу, требуется перезапуск программы");
    note->Wrap(-1);
    note->SetFont(wxFont(10, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false, wxEmptyString));
    note->SetForegroundColour(wxColour(255, 0, 0));
    return note;
}

/// A labelled box with a path field and its "..." button.
void addFolderRow(wxPanel* page, wxSizer* pageSizer, const wxString& label, wxTextCtrl*& field,
                  wxButton*& button) {
    auto* row = new wxStaticBoxSizer(new wxStaticBox(page, wxID_ANY, label), wxHORIZONTAL);
    wxStaticBox* box = row->GetStaticBox();
    field = new wxTextCtrl(box, wxID_ANY, wxEmptyString);
    row->Add(field, 1, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, kBorder);
    // Exact fit: the toolkit's usual padding leaves no room for the label in 26 pixels.
    button = new wxButton(box, wxID_ANY, L"...", wxDefaultPosition, wxSize(26, -1), wxBU_EXACTFIT);
    row->Add(button, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, kBorder);
    pageSizer->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, kBorder);
}

/// A labelled box with a password field and its repetition.
void addPasswordRow(wxPanel* page, wxSizer* pageSizer, const wxString& label, wxStaticText*& passwordLabel,
                    wxTextCtrl*& password, wxStaticText*& repeatLabel, wxTextCtrl*& repeat) {
    auto* row = new wxStaticBoxSizer(new wxStaticBox(page, wxID_ANY, label), wxHORIZONTAL);
    wxStaticBox* box = row->GetStaticBox();
    passwordLabel = new wxStaticText(box, wxID_ANY, L"Пароль");
    passwordLabel->Wrap(-1);
    row->Add(passwordLabel, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM | wxLEFT, kBorder);
    password = new wxTextCtrl(box, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
    password->SetMaxLength(50);
    row->Add(password, 1, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    repeatLabel = new wxStaticText(box, wxID_ANY, L"Повторить");
    repeatLabel->Wrap(-1);
    row->Add(repeatLabel, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM | wxLEFT, kBorder);
    repeat = new wxTextCtrl(box, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
    repeat->SetMaxLength(50);
    row->Add(repeat, 1, wxEXPAND | wxALL, kBorder);
    pageSizer->Add(row, 0, wxEXPAND | wxTOP, kBorder);
}

/// A spin control 120 pixels wide, or as wide as the toolkit needs for its
/// field and arrows where that is more.
NumberSpin* spin120(wxWindow* parent, int min, int max, int initial) {
    auto* spin = new NumberSpin(parent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                wxSP_ARROW_KEYS, min, max, initial);
    spin->SetInitialSize(wxSize(std::max(120, spin->GetBestSize().x), -1));
    return spin;
}

wxStaticText* label(wxWindow* parent, const wxString& text) {
    auto* made = new wxStaticText(parent, wxID_ANY, text);
    made->Wrap(-1);
    return made;
}

}  // namespace

SettingsDialog::SettingsDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                               const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxSize(540, 400), wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    notebook = new wxNotebook(this, wxID_ANY);
    notebook->AddPage(buildPlacePage(), L"Расположение", false);
    notebook->AddPage(buildVolumePage(), L"Громкость", false);
    notebook->AddPage(buildNetworkPage(), L"Сеть", true);
    notebook->AddPage(buildRecordPage(), L"Запись", false);
    notebook->AddPage(buildSecurityPage(), L"Безопасность", false);
    notebook->AddPage(buildEventsPage(), L"События", false);
    topSizer->Add(notebook, 1, wxEXPAND | wxALL, kBorder);

    auto* buttonSizer = new wxBoxSizer(wxHORIZONTAL);
    buttonOk = new wxButton(this, wxID_ANY, L"&Сохранить");
    buttonOk->SetDefault();
    buttonSizer->Add(buttonOk, 0, wxALL, kBorder);
    buttonCancel = new wxButton(this, wxID_ANY, L"Отмена");
    buttonSizer->Add(buttonCancel, 0, wxALL, kBorder);
    topSizer->Add(buttonSizer, 0, wxALIGN_RIGHT, kBorder);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    connectEvents();
}

SettingsDialog::~SettingsDialog() { m_connections.disconnectAll(); }

wxPanel* SettingsDialog::buildPlacePage() {
    panelPlace = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    restartNotePlace = restartNote(panelPlace);
    sizer->Add(restartNotePlace, 0, wxALIGN_CENTER_HORIZONTAL | wxLEFT | wxRIGHT, kBorder);
    addFolderRow(panelPlace, sizer, L"Путь к папке с файлами типа \"Гонг\"", textPathDirGong, pathDirGong);
    addFolderRow(panelPlace, sizer, L"Путь к папке с файлами типа \"Служебные сообщения\"",
                 textPathDirServiceMessage, pathDirServiceMessage);
    addFolderRow(panelPlace, sizer, L"Путь к папке с файлами типа \"Тревожные оповещения\"",
                 textPathDirAlarmMessage, pathDirAlarmMessage);
    addFolderRow(panelPlace, sizer, L"Путь к папке с файлами типа \"Записанные сообщения\"",
                 textPathDirRecordedMessage, pathDirRecordedMessage);

    gongSizer = new wxStaticBoxSizer(
        new wxStaticBox(panelPlace, wxID_ANY, L"Гонг который будет воспроизведен при нажатии кнопки \"Гонг\""),
        wxHORIZONTAL);
    pathFileGong = new wxChoice(gongSizer->GetStaticBox(), wxID_ANY);
    pathFileGong->SetSelection(-1);
    gongSizer->Add(pathFileGong, 1, wxLEFT | wxRIGHT, kBorder);
    sizer->Add(gongSizer, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, kBorder);

    sizer->Add(0, 0, 1, wxEXPAND, kBorder);
    finishPanel(panelPlace, sizer);
    return panelPlace;
}

wxPanel* SettingsDialog::buildVolumePage() {
    panelVolume = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    const auto addSlider = [this, sizer](const wxString& title) {
        auto* box = new wxStaticBoxSizer(new wxStaticBox(panelVolume, wxID_ANY, title), wxVERTICAL);
        auto* slider = new wxSlider(box->GetStaticBox(), wxID_ANY, 90, 1, 100, wxDefaultPosition,
                                    wxSize(400, -1), wxSL_HORIZONTAL | wxSL_BOTH);
        box->Add(slider, 0, wxEXPAND | wxALL, kBorder);
        sizer->Add(box, 0, wxEXPAND | wxTOP, kBorder);
        return slider;
    };
    sliderServiceMessage = addSlider(L"Служебные сообщения");
    sliderMicrophone = addSlider(L"Микрофон");
    finishPanel(panelVolume, sizer);
    return panelVolume;
}

wxPanel* SettingsDialog::buildNetworkPage() {
    panelNetwork = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    restartNoteNetwork = restartNote(panelNetwork);
    sizer->Add(restartNoteNetwork, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, kBorder);

    auto* interfaceSizer = new wxBoxSizer(wxHORIZONTAL);
    labelInterface = label(panelNetwork, L"Интерфейс");
    interfaceSizer->Add(labelInterface, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    networkInterface = new wxChoice(panelNetwork, wxID_ANY);
    networkInterface->SetSelection(0);
    interfaceSizer->Add(networkInterface, 1, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    sizer->Add(interfaceSizer, 0, wxEXPAND | wxTOP | wxBOTTOM, kBorder);

    auto* grid = new wxFlexGridSizer(2, 0, 0);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    const long cell = wxALIGN_CENTER_VERTICAL | wxALL;
    labelMulticastAddress = label(panelNetwork, L"IP Мультикаст-вещания");
    grid->Add(labelMulticastAddress, 0, cell, kBorder);
    multicastAddress = new wxTextCtrl(panelNetwork, wxID_ANY, L"224.0.224.1", wxDefaultPosition, wxSize(120, -1));
    multicastAddress->SetMaxLength(15);
    grid->Add(multicastAddress, 0, cell, kBorder);
    labelMulticastTtl = label(panelNetwork, L"Время жизни мультикаста (TTL)");
    grid->Add(labelMulticastTtl, 0, cell, kBorder);
    multicastTtl = spin120(panelNetwork, 1, 255, 1);
    grid->Add(multicastTtl, 0, wxALL, kBorder);
    labelMulticastBasePort = label(panelNetwork, L"Базовый порт");
    grid->Add(labelMulticastBasePort, 0, cell, kBorder);
    multicastBasePort = spin120(panelNetwork, 1024, 65500, 11990);
    grid->Add(multicastBasePort, 0, cell, kBorder);
    sizer->Add(grid, 1, wxEXPAND | wxBOTTOM, kBorder);

    finishPanel(panelNetwork, sizer);
    return panelNetwork;
}

wxPanel* SettingsDialog::buildRecordPage() {
    panelRecord = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    labelRecordDevice = label(panelRecord, L"Устройство");
    row->Add(labelRecordDevice, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    recordDevice = new wxChoice(panelRecord, wxID_ANY, wxDefaultPosition, wxSize(250, -1));
    recordDevice->SetSelection(0);
    row->Add(recordDevice, 1, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    buttonPlay = new wxButton(panelRecord, wxID_ANY, L"Воспроизвести");
    row->Add(buttonPlay, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, kBorder);
    sizer->Add(row, 0, wxEXPAND | wxTOP, kBorder);
    finishPanel(panelRecord, sizer);
    return panelRecord;
}

wxPanel* SettingsDialog::buildSecurityPage() {
    panelSecurity = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    addPasswordRow(panelSecurity, sizer, L"Пароль администратора", labelPasswordAdministrator,
                   passwordAdministrator, labelPasswordAdministratorRepeat, passwordAdministratorRepeat);
    addPasswordRow(panelSecurity, sizer, L"Пароль для воспроизведения тревог", labelPasswordPlaybackAlarm,
                   passwordPlaybackAlarm, labelPasswordPlaybackAlarmRepeat, passwordPlaybackAlarmRepeat);
    addPasswordRow(panelSecurity, sizer, L"Пароль для блокирования интерфейса", labelPasswordInterface,
                   passwordInterface, labelPasswordInterfaceRepeat, passwordInterfaceRepeat);

    auto* timeout =
        new wxStaticBoxSizer(new wxStaticBox(panelSecurity, wxID_ANY, L"Время до блокировки интерфейса"), wxHORIZONTAL);
    interfaceTimeout = new NumberSpin(timeout->GetStaticBox(), wxID_ANY, wxEmptyString, wxDefaultPosition,
                                      wxDefaultSize, wxSP_ARROW_KEYS, 0, 1000, 10);
    timeout->Add(interfaceTimeout, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    labelInterfaceTimeout = label(timeout->GetStaticBox(), L"мин (0 - выкл)");
    timeout->Add(labelInterfaceTimeout, 0, wxALIGN_CENTER_VERTICAL | wxALL, kBorder);
    sizer->Add(timeout, 0, wxEXPAND | wxTOP, kBorder);

    finishPanel(panelSecurity, sizer);
    return panelSecurity;
}

wxPanel* SettingsDialog::buildEventsPage() {
    panelEvents = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    const long cell = wxALIGN_CENTER_VERTICAL | wxALL;
    labelLogDate = label(panelEvents, L"Дата");
    row->Add(labelLogDate, 0, cell, kBorder);
    log = new wxChoice(panelEvents, wxID_ANY);
    log->SetSelection(-1);
    row->Add(log, 0, cell, kBorder);
    labelLogLevel = label(panelEvents, L"Уровень логирования");
    row->Add(labelLogLevel, 0, cell, kBorder);
    const wxString levels[] = {L"trace3", L"trace2", L"trace", L"debug", L"info"};
    logLevel = new wxChoice(panelEvents, wxID_ANY, wxDefaultPosition, wxDefaultSize, WXSIZEOF(levels), levels);
    logLevel->SetSelection(4);
    row->Add(logLevel, 0, cell, kBorder);
    sizer->Add(row, 0, wxEXPAND | wxTOP, kBorder);

    logText = new wxTextCtrl(panelEvents, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                             wxTE_MULTILINE | wxTE_READONLY | wxHSCROLL);
    logText->SetFont(wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL,
                            wxFONTWEIGHT_NORMAL, false, L"Courier New"));
    // Never laid out in less than its scroll bars need (GTK's needs about 46
    // pixels and fails its checks with less), not even while the page is
    // hidden and a few pixels tall.
    logText->SetMinSize(wxSize(60, 60));
    sizer->Add(logText, 1, wxEXPAND, kBorder);

    finishPanel(panelEvents, sizer);
    return panelEvents;
}

const std::vector<wxEventType>& SettingsDialog::sliderScrollEvents() {
    static const std::vector<wxEventType> events = {
        wxEVT_SCROLL_TOP,      wxEVT_SCROLL_BOTTOM,     wxEVT_SCROLL_LINEUP,
        wxEVT_SCROLL_LINEDOWN, wxEVT_SCROLL_PAGEUP,     wxEVT_SCROLL_PAGEDOWN,
        wxEVT_SCROLL_THUMBTRACK, wxEVT_SCROLL_THUMBRELEASE, wxEVT_SCROLL_CHANGED,
    };
    return events;
}

void SettingsDialog::connectEvents() {
    EventConnections& c = m_connections;
    c.connect(notebook, wxEVT_NOTEBOOK_PAGE_CHANGED, &SettingsDialog::onNotebookPageChanged, this);
    c.connect(pathDirGong, wxEVT_BUTTON, &SettingsDialog::pathDirGongOnButtonClick, this);
    c.connect(pathDirServiceMessage, wxEVT_BUTTON, &SettingsDialog::pathDirServiceMessageOnButtonClick, this);
    c.connect(pathDirAlarmMessage, wxEVT_BUTTON, &SettingsDialog::pathDirAlarmMessageOnButtonClick, this);
    c.connect(pathDirRecordedMessage, wxEVT_BUTTON, &SettingsDialog::pathDirRecordedMessageOnButtonClick, this);
    for (wxSlider* slider : {sliderServiceMessage, sliderMicrophone})
        for (const wxEventType type : sliderScrollEvents())
            c.connect(slider, wxEventTypeTag<wxScrollEvent>(type), &SettingsDialog::sliderOnScroll, this);
    c.connect(buttonPlay, wxEVT_BUTTON, &SettingsDialog::buttonPlayOnButtonClick, this);
    c.connect(log, wxEVT_CHOICE, &SettingsDialog::logOnChoice, this);
    c.connect(buttonOk, wxEVT_BUTTON, &SettingsDialog::buttonOkOnClick, this);
    c.connect(buttonCancel, wxEVT_BUTTON, &SettingsDialog::buttonCancelOnClick, this);
}

}  // namespace fb
}  // namespace frm
