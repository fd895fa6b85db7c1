#include "gui/layout/zone_element_panel.h"

#include <wx/settings.h>
#include <wx/sizer.h>

namespace frm {
namespace fb {

namespace {

constexpr int kBorder = 5;
constexpr int kEditWidth = 268;

/// Sets an inner panel's sizer, lays the panel out and fits the sizer to it.
void finishPanel(wxPanel* panel, wxSizer* sizer) {
    panel->SetSizer(sizer);
    panel->Layout();
    sizer->Fit(panel);
}

/// A label of the grid, added in its cell.
wxStaticText* addLabel(wxWindow* parent, wxSizer* grid, const wxString& text) {
    auto* label = new wxStaticText(parent, wxID_ANY, text);
    label->Wrap(-1);
    grid->Add(label, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT | wxTOP, kBorder);
    return label;
}

/// The border of a field of the grid: its label's right border already
/// stands between them, and at the main window's smallest size the two
/// columns of values need every pixel.
constexpr long kFieldBorders = wxRIGHT | wxTOP;

/// A read-only state field of the grid on the button face, added in its cell.
wxTextCtrl* addField(wxWindow* parent, wxSizer* grid) {
    auto* field =
        new wxTextCtrl(parent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
    field->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    grid->Add(field, 0, wxEXPAND | kFieldBorders, kBorder);
    return field;
}

}  // namespace

ZoneElementPanel::ZoneElementPanel(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                   long style, const wxString& name)
    : wxPanel(parent, id, pos, size, style, name) {
    SetMinSize(wxSize(792, 400));

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    deviceList = new IconGrid(this, wxID_ANY);
    topSizer->Add(deviceList, 1, wxEXPAND, 0);

    buildInfoPanel();
    topSizer->Add(infoPanel, 0, wxEXPAND | wxTOP, kBorder);

    auto* volumeRow = new wxBoxSizer(wxHORIZONTAL);
    buildVolumePanel();
    volumeRow->Add(volumePanel, 1, wxEXPAND | wxTOP | wxBOTTOM, kBorder);
    auto* lockColumn = new wxBoxSizer(wxVERTICAL);
    lockColumn->Add(0, 0, 1, wxEXPAND, kBorder);
    lockInterface = new wxButton(this, wxID_ANY, L"Заблокировать");
    lockColumn->Add(lockInterface, 0, wxALIGN_RIGHT | wxALL, kBorder);
    volumeRow->Add(lockColumn, 1, wxEXPAND, kBorder);
    topSizer->Add(volumeRow, 0, wxEXPAND, kBorder);

    // Exact fit: with the toolkit's usual padding the row is wider than the
    // page at the main window's smallest size in administrator mode.
    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(0, 0, 1, wxEXPAND, kBorder);
    generalProperty =
        new wxButton(this, wxID_ANY, L"Общие настройки", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    buttonRow->Add(generalProperty, 0, wxEXPAND | wxALL, kBorder);
    deviceProperty = new wxButton(this, wxID_ANY, L"Настройки устройства", wxDefaultPosition, wxDefaultSize,
                                  wxBU_EXACTFIT);
    buttonRow->Add(deviceProperty, 0, wxALL, kBorder);
    lockAdmin = new wxButton(this, wxID_ANY, L"Настройки", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    buttonRow->Add(lockAdmin, 0, wxEXPAND | wxALL, kBorder);
    separator = new wxStaticLine(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL);
    buttonRow->Add(separator, 0, wxEXPAND | wxALL, kBorder);
    deleteDevices =
        new wxButton(this, wxID_ANY, L"Удалить устройства", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    buttonRow->Add(deleteDevices, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, kBorder);
    apply = new wxButton(this, wxID_ANY, L"Применить", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    buttonRow->Add(apply, 0, wxALL, kBorder);
    topSizer->Add(buttonRow, 0, wxEXPAND, kBorder);

    SetSizer(topSizer);
    Layout();

    connectEvents();
}

ZoneElementPanel::~ZoneElementPanel() { m_connections.disconnectAll(); }

void ZoneElementPanel::buildInfoPanel() {
    infoPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);

    auto* searchRow = new wxBoxSizer(wxHORIZONTAL);
    selectAllDevices = new wxButton(infoPanel, wxID_ANY, L"Выделить все устройства");
    searchRow->Add(selectAllDevices, 0, 0, kBorder);
    searchDevices = new wxButton(infoPanel, wxID_ANY, L"Принудительно искать устройства");
    searchRow->Add(searchDevices, 0, wxLEFT | wxRIGHT, kBorder);
    sizer->Add(searchRow, 0, wxEXPAND, kBorder);

    auto* grid = new wxFlexGridSizer(0, 4, 0, 0);
    grid->AddGrowableCol(1);
    grid->AddGrowableCol(3);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_ALL);

    // Row 1: the two fields the operator edits.
    titleLabel = addLabel(infoPanel, grid, L"Название устройства");
    title = new wxTextCtrl(infoPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(kEditWidth, -1), 0);
    title->SetMaxLength(60);
    grid->Add(title, 0, wxEXPAND | kFieldBorders, kBorder);
    zoneLabel = addLabel(infoPanel, grid, L"Входит в зону");
    // Created without items, so there is no first entry to select yet.
    zone = new wxOwnerDrawnComboBox(infoPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(kEditWidth, -1), 0,
                                    nullptr, wxCB_READONLY);
    grid->Add(zone, 0, wxEXPAND | kFieldBorders, kBorder);

    // Rows 2 to 10: read-only fields, left and right pair of each row.
    playbackLabel = addLabel(infoPanel, grid, L"Воспроизведение");
    playback = addField(infoPanel, grid);
    firmwareLabel = addLabel(infoPanel, grid, L"Версия прошивки");
    firmware = addField(infoPanel, grid);
    hardwareAddressLabel = addLabel(infoPanel, grid, L"Физический адрес");
    hardwareAddress = addField(infoPanel, grid);
    ipAddressLabel = addLabel(infoPanel, grid, L"Сетевой адрес");
    ipAddress = addField(infoPanel, grid);
    line1Label = addLabel(infoPanel, grid, L"Состояние линии 1");
    line1 = addField(infoPanel, grid);
    network1Label = addLabel(infoPanel, grid, L"Сетевой интерфейс 1");
    network1 = addField(infoPanel, grid);
    line2Label = addLabel(infoPanel, grid, L"Состояние линии 2");
    line2 = addField(infoPanel, grid);
    network2Label = addLabel(infoPanel, grid, L"Сетевой интерфейс 2");
    network2 = addField(infoPanel, grid);
    power1Label = addLabel(infoPanel, grid, L"Состояние питания 1");
    power1 = addField(infoPanel, grid);
    caseStateLabel = addLabel(infoPanel, grid, L"Состояние корпуса");
    caseState = addField(infoPanel, grid);
    power2Label = addLabel(infoPanel, grid, L"Состояние питания 2");
    power2 = addField(infoPanel, grid);
    zonesLabel = addLabel(infoPanel, grid, L"Зоны трансляции");
    zones = addField(infoPanel, grid);
    zarno1Label = addLabel(infoPanel, grid, L"Линия ЗАРНО 1");
    zarno1 = addField(infoPanel, grid);
    analogInput1Label = addLabel(infoPanel, grid, L"Аналоговый вход 1");
    analogInput1 = addField(infoPanel, grid);
    zarno2Label = addLabel(infoPanel, grid, L"Линия ЗАРНО 2");
    zarno2 = addField(infoPanel, grid);
    analogInput2Label = addLabel(infoPanel, grid, L"Аналоговый вход 2");
    analogInput2 = addField(infoPanel, grid);
    microphoneLabel = addLabel(infoPanel, grid, L"Микрофон");
    microphone = addField(infoPanel, grid);
    accessLabel = addLabel(infoPanel, grid, L"Доступ");
    access = addField(infoPanel, grid);
    sizer->Add(grid, 1, wxEXPAND, kBorder);

    finishPanel(infoPanel, sizer);
}

void ZoneElementPanel::buildVolumePanel() {
    volumePanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    volumeHint = new wxStaticText(volumePanel, wxID_ANY, L"Выберите устройство для регулировки громкости");
    volumeHint->Wrap(-1);
    sizer->Add(volumeHint, 0, wxLEFT | wxRIGHT | wxTOP, kBorder);

    auto* controls = new wxBoxSizer(wxHORIZONTAL);
    mute = new wxBitmapButton(volumePanel, wxID_ANY, wxNullBitmap, wxDefaultPosition, wxDefaultSize,
                              wxBU_AUTODRAW);
    controls->Add(mute, 0, wxLEFT, kBorder);
    // The initial value lies below the minimum on purpose: no volume is known yet.
    volumeSlider = new wxSlider(volumePanel, wxID_ANY, 0, 1, 100, wxDefaultPosition, wxDefaultSize,
                                wxSL_HORIZONTAL | wxSL_BOTH);
    controls->Add(volumeSlider, 1, wxEXPAND, kBorder);
    sizer->Add(controls, 1, wxEXPAND, kBorder);

    finishPanel(volumePanel, sizer);
}

void ZoneElementPanel::connectEvents() {
    EventConnections& c = m_connections;
    c.connect(this, wxEVT_SIZE, &ZoneElementPanel::onSize, this);
    c.connect(deviceList, wxEVT_LIST_ITEM_DESELECTED, &ZoneElementPanel::onListItemDeselected, this);
    c.connect(deviceList, wxEVT_LIST_ITEM_SELECTED, &ZoneElementPanel::onListItemSelected, this);
    c.connect(selectAllDevices, wxEVT_BUTTON, &ZoneElementPanel::selectAllDevicesOnButtonClick, this);
    c.connect(title, wxEVT_CHAR, &ZoneElementPanel::titleOnChar, this);
    c.connect(zone, wxEVT_COMBOBOX, &ZoneElementPanel::zoneOnChoice, this);
    c.connect(mute, wxEVT_BUTTON, &ZoneElementPanel::muteOnButtonClick, this);
    c.connect(volumeSlider, wxEVT_SCROLL_CHANGED, &ZoneElementPanel::volumeSliderOnScrollChanged, this);
    c.connect(lockInterface, wxEVT_BUTTON, &ZoneElementPanel::lockInterfaceOnButtonClick, this);
    c.connect(generalProperty, wxEVT_BUTTON, &ZoneElementPanel::generalPropertyOnButtonClick, this);
    c.connect(deviceProperty, wxEVT_BUTTON, &ZoneElementPanel::devicePropertyOnButtonClick, this);
    c.connect(lockAdmin, wxEVT_BUTTON, &ZoneElementPanel::lockAdminOnButtonClick, this);
    c.connect(deleteDevices, wxEVT_BUTTON, &ZoneElementPanel::deleteOnButtonClick, this);
    c.connect(apply, wxEVT_BUTTON, &ZoneElementPanel::applyOnButtonClick, this);
}

}  // namespace fb
}  // namespace frm
