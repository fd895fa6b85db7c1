#include "gui/layout/property_device_panel.h"

#include <wx/arrstr.h>
#include <wx/font.h>
#include <wx/settings.h>
#include <wx/statbox.h>

#include <algorithm>
#include <initializer_list>

namespace frm {
namespace fb {

namespace {

constexpr int kBorder = 5;
/// The least a window with scroll bars is given either way: GTK's scroll
/// bar needs about 46 pixels of length, and given less it fails its checks
/// (Gtk-CRITICAL gtk_box_gadget_distribute), which a page still hidden, and
/// so laid out in a few pixels, would otherwise do.
constexpr int kScrollingMin = 60;
/// Where a long explanation wraps: the rows that hold one then fit the page
/// at the main window's smallest width.
constexpr int kLongLabelWidth = 440;
constexpr int kNoteWidth = 260;

/// Sets a panel's sizer, lays the panel out and fits the sizer to it.
void finishPanel(wxWindow* panel, wxSizer* sizer) {
    panel->SetSizer(sizer);
    panel->Layout();
    sizer->Fit(panel);
}

/// The fixed-width font of the exchange and log fields, at the toolkit's
/// normal size unless given. The system has no "Courier New"; the family
/// brings the installed monospace face, which covers Cyrillic.
wxFont monospace(int pointSize = -1) {
    return wxFont(pointSize > 0 ? pointSize : wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_TELETYPE,
                  wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false, wxEmptyString);
}

wxFont bold() {
    return wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD,
                  false, wxEmptyString);
}

/// Makes a one-line field wide enough to show `pattern` whole, each '9' of
/// it standing for the font's widest digit. Measured here, before the field
/// is on the screen, GTK gives its margins some 8 pixels short of what they
/// become: two digits more make up for it.
void fitDigits(wxTextCtrl* field, const wxString& pattern) {
    wxChar widest = L'0';
    for (wxChar digit = L'0'; digit <= L'9'; ++digit)
        if (field->GetTextExtent(wxString(digit)).x > field->GetTextExtent(wxString(widest)).x) widest = digit;
    wxString text = pattern + L"99";
    text.Replace(L"9", wxString(widest));
    field->SetMinSize(wxSize(field->GetSizeFromTextSize(field->GetTextExtent(text).x).x, -1));
}

wxStaticText* label(wxWindow* parent, const wxString& text) {
    auto* made = new wxStaticText(parent, wxID_ANY, text);
    made->Wrap(-1);
    return made;
}

/// A label in a font of its own. GTK measures a label in a new font only
/// once it is on the screen, after the sizers have taken its size: the size
/// is taken from the font here.
wxStaticText* label(wxWindow* parent, const wxString& text, const wxFont& font) {
    auto* made = new wxStaticText(parent, wxID_ANY, text);
    made->SetFont(font);
    made->Wrap(-1);
    wxSize extent;
    for (const wxString& line : wxSplit(text, '\n', '\0')) {
        int width = 0, height = 0;
        made->GetTextExtent(line, &width, &height, nullptr, nullptr, &font);
        extent.x = std::max(extent.x, width);
        extent.y += height;
    }
    made->SetMinSize(extent);
    return made;
}

const wxColour kRed(255, 0, 0);
const wxColour kHighlight(255, 216, 0);
// Text on kHighlight: black stays readable there (about 15:1) also where
// the page is disabled, whose labels the toolkit would draw grey (2.2:1).
const wxColour kHighlightText(0, 0, 0);

/// A small button sized to its one-letter label.
wxButton* letterButton(wxWindow* parent, const wxString& text, const wxString& tip) {
    auto* button = new wxButton(parent, wxID_ANY, text, wxDefaultPosition, wxSize(30, -1), wxBU_EXACTFIT);
    button->SetToolTip(tip);
    return button;
}

wxMenuItem* appendItem(wxMenu* menu, int id, const wxString& text) {
    auto* item = new wxMenuItem(menu, id, text, wxEmptyString, wxITEM_NORMAL);
    menu->Append(item);
    return item;
}

/// A scrolled window of the pages' lists: both scroll bars, 5-pixel steps.
wxScrolledWindow* scrolled(wxWindow* parent) {
    auto* window =
        new wxScrolledWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHSCROLL | wxVSCROLL);
    window->SetScrollRate(5, 5);
    window->SetMinSize(wxSize(kScrollingMin, kScrollingMin));
    return window;
}

wxPanel* panel(wxWindow* parent, wxWindowID id = wxID_ANY) {
    return new wxPanel(parent, id, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
}

/// The system's colours of information (its tooltips); the text colour
/// goes with the background, which is dark in some GTK themes.
void infoColours(wxWindow* window) {
    window->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_INFOBK));
    window->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_INFOTEXT));
}

void addSpacer(wxSizer* sizer) { sizer->Add(0, 0, 1, wxEXPAND, kBorder); }

}  // namespace

PropertyDevicePanel::PropertyDevicePanel(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                         const wxSize& size, long style, const wxString& name)
    : wxPanel(parent, id, pos, size, style, name) {
    auto* mainSizer = new wxBoxSizer(wxVERTICAL);
    notebookPref = new wxNotebook(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0);
    notebookPref->AddPage(buildCommonPage(), L"Общие", true);
    notebookPref->AddPage(buildAudioMemoryPage(), L"Аудио память", false);
    notebookPref->AddPage(buildNetworkPage(), L"Сеть", false);
    notebookPref->AddPage(buildZarnoPage(), L"Зарно", false);
    notebookPref->AddPage(buildSourcePage(), L"Источники", false);
    notebookPref->AddPage(buildLineControlPage(), L"Линия", false);
    notebookPref->AddPage(buildPasskeyPage(), L"Ключи", false);
    notebookPref->AddPage(buildZonesPage(), L"Зоны трансляции", false);
    notebookPref->AddPage(buildLinkedConsolesPage(), L"Связанные консоли", false);
    notebookPref->AddPage(buildDebugPage(), L"Отладочные сообщения", false);
    mainSizer->Add(notebookPref, 1, wxEXPAND, kBorder);
    mainSizer->Add(buildButtonBar(), 0, wxEXPAND, kBorder);
    SetSizer(mainSizer);
    Layout();

    connectEvents();
}

PropertyDevicePanel::~PropertyDevicePanel() {
    m_connections.disconnectAll();
    delete menuFragment;
    delete menuScenario;
    delete menuAudioMemory;
}

// ---- "Общие" -------------------------------------------------------------------

wxPanel* PropertyDevicePanel::buildCommonPage() {
    // The page scrolls rather than squeeze its controls: with the command
    // exchange of the debug mode it is taller than the room the main window
    // leaves at its smallest size.
    auto* page = new wxScrolledWindow(notebookPref, ID_PAGE_COMMON, wxDefaultPosition, wxDefaultSize,
                                      wxVSCROLL | wxTAB_TRAVERSAL);
    page->SetScrollRate(0, 10);
    page->SetMinSize(wxSize(-1, kScrollingMin));
    panelCommon = page;
    auto* pageSizer = new wxBoxSizer(wxVERTICAL);
    const long centred = wxALL | wxALIGN_CENTER_VERTICAL;

    auto* general =
        new wxStaticBoxSizer(new wxStaticBox(panelCommon, wxID_ANY, L"Общие настройки"), wxVERTICAL);
    wxStaticBox* generalBox = general->GetStaticBox();
    auto* nameRow = new wxBoxSizer(wxHORIZONTAL);
    staticName = label(generalBox, L"Название устройства");
    nameRow->Add(staticName, 0, centred, kBorder);
    textName = new wxTextCtrl(generalBox, wxID_ANY, wxEmptyString);
    textName->SetMaxLength(60);
    nameRow->Add(textName, 1, centred, kBorder);
    general->Add(nameRow, 0, wxEXPAND, kBorder);

    auto* equalizer = new wxBoxSizer(wxVERTICAL);
    auto* equalizerRow = new wxBoxSizer(wxHORIZONTAL);
    checkBoxEqualizer = new wxCheckBox(generalBox, wxID_ANY, L"Эквалайзер");
    equalizerRow->Add(checkBoxEqualizer, 0, centred, kBorder);
    equalizer->Add(equalizerRow, 0, wxEXPAND, kBorder);

    panelEqualizer = panel(generalBox);
    auto* equalizerSizer = new wxBoxSizer(wxVERTICAL);
    panelBassTreble = panel(panelEqualizer);
    auto* bassTreble =
        new wxStaticBoxSizer(new wxStaticBox(panelBassTreble, wxID_ANY, wxEmptyString), wxVERTICAL);
    wxStaticBox* bassTrebleBox = bassTreble->GetStaticBox();
    auto* trebleRow = new wxBoxSizer(wxHORIZONTAL);
    staticTreble = label(bassTrebleBox, L"Высокие частоты");
    trebleRow->Add(staticTreble, 0, centred, kBorder);
    trebleRow->Add(12, 0, 0, 0, kBorder);
    sliderTreble =
        new wxSlider(bassTrebleBox, wxID_ANY, 0, -8, 7, wxDefaultPosition, wxDefaultSize, wxSL_HORIZONTAL);
    trebleRow->Add(sliderTreble, 1, centred, kBorder);
    bassTreble->Add(trebleRow, 0, wxEXPAND, kBorder);
    auto* bassRow = new wxBoxSizer(wxHORIZONTAL);
    staticBass = label(bassTrebleBox, L"Нижние частоты");
    bassRow->Add(staticBass, 0, centred, kBorder);
    bassRow->Add(16, 0, 0, 0, kBorder);
    sliderBass =
        new wxSlider(bassTrebleBox, wxID_ANY, 0, 0, 15, wxDefaultPosition, wxDefaultSize, wxSL_HORIZONTAL);
    bassRow->Add(sliderBass, 1, centred, kBorder);
    bassTreble->Add(bassRow, 0, wxEXPAND, kBorder);
    finishPanel(panelBassTreble, bassTreble);
    equalizerSizer->Add(panelBassTreble, 0, wxALL | wxEXPAND, kBorder);

    panelEqBands = panel(panelEqualizer);
    auto* bands = new wxFlexGridSizer(2, 0, 0, 0);
    bands->SetFlexibleDirection(wxBOTH);
    bands->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    wxSlider** const sliders[] = {&sliderBand1, &sliderBand2, &sliderBand3,
                                  &sliderBand4, &sliderBand5, &sliderBand6};
    for (wxSlider** slider : sliders) {
        *slider = new wxSlider(panelEqBands, wxID_ANY, 0, -8, 8, wxDefaultPosition, wxDefaultSize,
                               wxSL_VERTICAL | wxSL_AUTOTICKS | wxSL_SELRANGE | wxSL_INVERSE);
        bands->Add(*slider, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, kBorder);
    }
    wxStaticText** const bandLabels[] = {&staticBand1, &staticBand2, &staticBand3,
                                         &staticBand4, &staticBand5, &staticBand6};
    const wchar_t* const frequencies[] = {L"500 Гц", L"2 кГц", L"4 кГц", L"6 кГц", L"8 кГц", L"10 кГц"};
    for (int i = 0; i < 6; ++i) {
        *bandLabels[i] = label(panelEqBands, frequencies[i]);
        (*bandLabels[i])->SetMinSize(wxSize(std::max(36, (*bandLabels[i])->GetBestSize().x), -1));
        bands->Add(*bandLabels[i], 0, wxALL | wxALIGN_CENTER_HORIZONTAL, kBorder);
    }
    finishPanel(panelEqBands, bands);
    equalizerSizer->Add(panelEqBands, 0, wxALL | wxEXPAND, kBorder);
    buttonResetEq = new wxButton(panelEqualizer, wxID_ANY, L"Сбросить настройки эквалайзера");
    equalizerSizer->Add(buttonResetEq, 0, 0, kBorder);
    finishPanel(panelEqualizer, equalizerSizer);
    equalizer->Add(panelEqualizer, 0, wxEXPAND | wxBOTTOM, kBorder);
    general->Add(equalizer, 1, wxEXPAND, kBorder);
    pageSizer->Add(general, 0, wxALL | wxEXPAND, kBorder);

    sizerLine =
        new wxStaticBoxSizer(new wxStaticBox(panelCommon, wxID_ANY, L"Настройки линии"), wxHORIZONTAL);
    wxStaticBox* lineBox = sizerLine->GetStaticBox();
    checkBoxLineControl = new wxCheckBox(lineBox, wxID_ANY, L"Контроль линии");
    checkBoxLineControl->SetValue(true);
    sizerLine->Add(checkBoxLineControl, 0, centred, kBorder);
    buttonSetLine = new wxButton(lineBox, wxID_ANY, L"Измерить параметры линии");
    sizerLine->Add(buttonSetLine, 0, centred, kBorder);
    const wxString lineModes[] = {L"Независимые линии", L"Соединенные линии"};
    choiceLineMode =
        new wxChoice(lineBox, wxID_ANY, wxDefaultPosition, wxDefaultSize, WXSIZEOF(lineModes), lineModes);
    choiceLineMode->SetSelection(0);
    sizerLine->Add(choiceLineMode, 0, centred, kBorder);
    pageSizer->Add(sizerLine, 0, wxALL | wxEXPAND, kBorder);

    panelTovik = panel(panelCommon);
    sizerTovik = new wxBoxSizer(wxVERTICAL);
    auto* gongRow = new wxBoxSizer(wxHORIZONTAL);
    checkBoxGong = new wxCheckBox(panelTovik, wxID_ANY, L"Использовать гонг перед вещанием с микрофона");
    gongRow->Add(checkBoxGong, 0, centred, kBorder);
    comboBoxGong = new wxComboBox(panelTovik, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0,
                                  nullptr, wxCB_READONLY);
    gongRow->Add(comboBoxGong, 0, centred, kBorder);
    sizerTovik->Add(gongRow, 0, wxEXPAND, kBorder);
    const auto option = [this](wxCheckBox*& box, const wchar_t* text) {
        box = new wxCheckBox(panelTovik, wxID_ANY, text);
        sizerTovik->Add(box, 0, wxALL, kBorder);
    };
    option(checkBoxKeySound, L"Звуковое сопровождение при нажатии на клавиши и при использовании ключей");
    option(checkBoxFaultSound, L"Звуковое сопровождение при неисправности");
    option(checkBoxSinglePowerSource, L"Разрешить один источник питания");
    option(checkBoxAnalogInput, L"Включить аналоговый вход ГОиЧС");
    option(checkBoxZoneIndication, L"Индикация зон с сообщениями");
    const wxString powers[] = {L"Источник питания U1", L"Источник питания U2", L"ЛВС - PoE 1",
                               L"ЛВС - PoE 2"};
    const auto powerRow = [&](wxStaticText*& text, const wchar_t* caption, wxChoice*& choice, int selected) {
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        text = label(panelTovik, caption);
        row->Add(text, 0, centred, kBorder);
        choice =
            new wxChoice(panelTovik, wxID_ANY, wxDefaultPosition, wxDefaultSize, WXSIZEOF(powers), powers);
        choice->SetSelection(selected);
        row->Add(choice, 0, centred, kBorder);
        sizerTovik->Add(row, 0, wxEXPAND, kBorder);
    };
    powerRow(staticPower1, L"Ввод питания 1", choicePower1, 0);
    powerRow(staticPower2, L"Ввод питания 2", choicePower2, 1);
    auto* typeRow = new wxBoxSizer(wxHORIZONTAL);
    const wxString types[] = {L"Консоль оповещения", L"Пожарная консоль"};
    choiceTovikType =
        new wxChoice(panelTovik, wxID_ANY, wxDefaultPosition, wxDefaultSize, WXSIZEOF(types), types);
    choiceTovikType->SetSelection(0);
    typeRow->Add(choiceTovikType, 0, centred, kBorder);
    spinTovikPriority = new NumberSpin(panelTovik, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                       wxSP_ARROW_KEYS, 1, 100, 1);
    typeRow->Add(spinTovikPriority, 0, centred | wxFIXED_MINSIZE, kBorder);
    staticTovikPriority = label(
        panelTovik,
        L"Приоритет типа консоли (выше число - выше приоритет, пожарная приоритетнее консоли вещания) ");
    // Wrapped: on one line it is wider than the page even at full screen,
    // and the row squeezed the spin control to a pixel.
    staticTovikPriority->Wrap(kLongLabelWidth);
    typeRow->Add(staticTovikPriority, 0, centred, kBorder);
    sizerTovik->Add(typeRow, 0, wxEXPAND, kBorder);
    finishPanel(panelTovik, sizerTovik);
    pageSizer->Add(panelTovik, 0, wxEXPAND, kBorder);

    auto* firmwareRow = new wxBoxSizer(wxHORIZONTAL);
    buttonUpdateFirmware = new wxButton(panelCommon, wxID_ANY, L"&Обновить прошивку");
    firmwareRow->Add(buttonUpdateFirmware, 0, wxALL, kBorder);
    buttonReboot = new wxButton(panelCommon, wxID_ANY, L"Перезапустить");
    firmwareRow->Add(buttonReboot, 0, wxALL, kBorder);
    pageSizer->Add(firmwareRow, 0, wxEXPAND, kBorder);

    panelExchange = panel(panelCommon);
    auto* exchangeSizer = new wxBoxSizer(wxVERTICAL);
    auto* exchange =
        new wxStaticBoxSizer(new wxStaticBox(panelExchange, wxID_ANY, L"Прямой обмен командами"), wxVERTICAL);
    wxStaticBox* exchangeBox = exchange->GetStaticBox();
    panelExchangeInner = panel(exchangeBox);
    auto* innerSizer = new wxBoxSizer(wxVERTICAL);
    scrolledExchange = scrolled(panelExchangeInner);
    sizerExchange = new wxBoxSizer(wxVERTICAL);
    auto* commandRow = new wxBoxSizer(wxHORIZONTAL);
    textCommand = new wxTextCtrl(scrolledExchange, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                 wxSize(250, -1), wxTE_PROCESS_ENTER);
    textCommand->SetToolTip(L"Команда");
    commandRow->Add(textCommand, 1, centred, kBorder);
    buttonExchange = letterButton(scrolledExchange, L">", L"Обмен");
    commandRow->Add(buttonExchange, 0, centred, kBorder);
    buttonAddCommand = letterButton(scrolledExchange, L"+", L"Добавить новую");
    commandRow->Add(buttonAddCommand, 0, centred, kBorder);
    sizerExchange->Add(commandRow, 0, wxEXPAND, kBorder);
    sizerCommandRows = new wxBoxSizer(wxVERTICAL);
    sizerExchange->Add(sizerCommandRows, 1, wxEXPAND, kBorder);
    finishPanel(scrolledExchange, sizerExchange);
    // A scrolled window asks for no height of its own: the command line
    // stays in sight however little room the page has.
    scrolledExchange->SetMinSize(wxSize(370, std::max(kScrollingMin, sizerExchange->GetMinSize().y)));
    innerSizer->Add(scrolledExchange, 1, wxEXPAND | wxTOP | wxRIGHT, kBorder);
    finishPanel(panelExchangeInner, innerSizer);
    exchange->Add(panelExchangeInner, 1, wxEXPAND, kBorder);
    auto* answerRow = new wxBoxSizer(wxHORIZONTAL);
    buttonCommandSuite = letterButton(exchangeBox, L"^", L"Управление набором");
    answerRow->Add(buttonCommandSuite, 0, wxALL, kBorder);
    textExchangeAnswer = new wxTextCtrl(exchangeBox, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                        wxSize(-1, 50), wxTE_MULTILINE);
    textExchangeAnswer->SetFont(monospace());
    textExchangeAnswer->SetToolTip(L"Ответ");
    answerRow->Add(textExchangeAnswer, 3, wxALL | wxEXPAND, kBorder);
    exchange->Add(answerRow, 2, wxEXPAND | wxRIGHT | wxTOP | wxBOTTOM, kBorder);
    exchangeSizer->Add(exchange, 1, wxEXPAND, kBorder);
    finishPanel(panelExchange, exchangeSizer);
    pageSizer->Add(panelExchange, 1, wxALL | wxEXPAND, kBorder);

    panelCommon->SetSizer(pageSizer);
    page->SetSize(wxSize(pageSizer->CalcMin().GetWidth(), kScrollingMin));
    page->FitInside();
    return panelCommon;
}

// ---- "Аудио память" ----------------------------------------------------------------

wxPanel* PropertyDevicePanel::buildAudioMemoryPage() {
    panelAudioMemory = panel(notebookPref, ID_PAGE_AUDIO_MEMORY);
    auto* pageSizer = new wxBoxSizer(wxVERTICAL);

    auto* fragments =
        new wxStaticBoxSizer(new wxStaticBox(panelAudioMemory, wxID_ANY, L"Фрагмент"), wxVERTICAL);
    listCtrlAudioFragment = new wxListCtrl(fragments->GetStaticBox(), wxID_ANY, wxDefaultPosition,
                                           wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL);
    menuFragment = new wxMenu(0);
    menuFragmentPlay = appendItem(menuFragment, ID_MENU_FRAGMENT_PLAY, L"Воспроизвести");
    menuFragmentStop = appendItem(menuFragment, ID_MENU_FRAGMENT_STOP, L"Остановить");
    menuFragmentAdd = appendItem(menuFragment, ID_MENU_FRAGMENT_ADD, L"Добавить");
    menuFragmentSave = appendItem(menuFragment, ID_MENU_FRAGMENT_SAVE, L"Сохранить");
    menuFragmentDelete = appendItem(menuFragment, ID_MENU_FRAGMENT_DELETE, L"Удалить");
    listCtrlAudioFragment->Connect(
        wxEVT_RIGHT_DOWN, wxMouseEventHandler(PropertyDevicePanel::listCtrlAudioFragmentOnContextMenu),
        nullptr, this);
    fragments->Add(listCtrlAudioFragment, 1, wxALL | wxEXPAND, kBorder);
    pageSizer->Add(fragments, 1, wxALL | wxEXPAND, kBorder);

    sizerScenario =
        new wxStaticBoxSizer(new wxStaticBox(panelAudioMemory, wxID_ANY, L"Сообщение"), wxVERTICAL);
    listCtrlAudioScenario = new wxListCtrl(sizerScenario->GetStaticBox(), wxID_ANY, wxDefaultPosition,
                                           wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL);
    menuScenario = new wxMenu(0);
    menuScenarioAdd = appendItem(menuScenario, ID_MENU_SCENARIO_ADD, L"Добавить");
    menuScenarioDelete = appendItem(menuScenario, ID_MENU_SCENARIO_DELETE, L"Удалить");
    menuScenarioPlay = appendItem(menuScenario, ID_MENU_SCENARIO_PLAY, L"Воспроизвести");
    menuScenarioStop = appendItem(menuScenario, ID_MENU_SCENARIO_STOP, L"Остановить");
    listCtrlAudioScenario->Connect(
        wxEVT_RIGHT_DOWN, wxMouseEventHandler(PropertyDevicePanel::listCtrlAudioScenarioOnContextMenu),
        nullptr, this);
    sizerScenario->Add(listCtrlAudioScenario, 1, wxALL | wxEXPAND, kBorder);
    pageSizer->Add(sizerScenario, 1, wxALL | wxEXPAND, kBorder);

    auto* memoryRow = new wxBoxSizer(wxHORIZONTAL);
    const long centred = wxALL | wxALIGN_CENTER_VERTICAL;
    staticFreeMemory = label(panelAudioMemory, L"Доступно памяти, байт");
    memoryRow->Add(staticFreeMemory, 0, centred, kBorder);
    textFreeMemory = new wxTextCtrl(panelAudioMemory, wxID_ANY, wxEmptyString);
    textFreeMemory->Enable(false);
    textFreeMemory->SetFont(bold());
    fitDigits(textFreeMemory, L"9999999999");  // any 32-bit count of bytes
    memoryRow->Add(textFreeMemory, 0, centred, kBorder);
    buttonAudioMemory = new wxButton(panelAudioMemory, wxID_ANY, L"Аудио память");
    menuAudioMemory = new wxMenu(0);
    menuClearMemory = appendItem(menuAudioMemory, ID_MENU_CLEAR_MEMORY, L"Очистить");
    menuRevertChanges = appendItem(menuAudioMemory, ID_MENU_REVERT_CHANGES, L"Сбросить изменения");
    menuSaveImage = appendItem(menuAudioMemory, ID_MENU_SAVE_IMAGE, L"Сохранить образ");
    menuLoadImage = appendItem(menuAudioMemory, ID_MENU_LOAD_IMAGE, L"Загрузить образ");
    buttonAudioMemory->Connect(
        wxEVT_RIGHT_DOWN, wxMouseEventHandler(PropertyDevicePanel::audioMemoryOnContextMenu), nullptr, this);
    memoryRow->Add(buttonAudioMemory, 0, wxALL, kBorder);
    staticLowLevelWarning =
        label(panelAudioMemory,
              L"Сообщения будут воспроизведены с уровнем НИЖЕ номинального! (Обновите прошивку)", bold());
    staticLowLevelWarning->SetForegroundColour(kRed);
    memoryRow->Add(staticLowLevelWarning, 0, centred, kBorder);
    pageSizer->Add(memoryRow, 0, wxALL | wxEXPAND, kBorder);

    finishPanel(panelAudioMemory, pageSizer);
    return panelAudioMemory;
}

// ---- "Сеть" and "Зарно" ---------------------------------------------------------------

wxPanel* PropertyDevicePanel::buildNetworkPage() {
    panelNetwork = panel(notebookPref, ID_PAGE_NETWORK);
    auto* pageSizer = new wxBoxSizer(wxVERTICAL);
    auto* content = new wxBoxSizer(wxVERTICAL);
    const long centred = wxALL | wxALIGN_CENTER_VERTICAL;

    staticNetworkWarning =
        label(panelNetwork,
              L"Внимание! Не трогайте сетевые параметры, если наверняка не знаете что делаете.\n"
              L"Может привести к прекращению функционирования всей системы.",
              bold());
    staticNetworkWarning->SetForegroundColour(kRed);
    content->Add(staticNetworkWarning, 0, wxEXPAND | wxTOP, kBorder);
    checkBoxLanRedundancy =
        new wxCheckBox(panelNetwork, wxID_ANY, L"Резервирование ЛВС (локальная вычислительная сеть)");
    content->Add(checkBoxLanRedundancy, 0, wxLEFT | wxRIGHT | wxTOP, 10);

    auto* addressing =
        new wxStaticBoxSizer(new wxStaticBox(panelNetwork, wxID_ANY, wxEmptyString), wxVERTICAL);
    wxStaticBox* box = addressing->GetStaticBox();
    auto* grid = new wxFlexGridSizer(0, 4, 0, 0);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    const auto address = [box](int id) {
        auto* field = new wxTextCtrl(box, id, wxEmptyString);
        field->SetMaxLength(15);
        fitDigits(field, L"999.999.999.999");
        return field;
    };
    checkBoxDhcp = new wxCheckBox(box, ID_DHCP, L"DHCP");
    grid->Add(checkBoxDhcp, 0, centred, kBorder);
    for (int i = 0; i < 3; ++i) addSpacer(grid);
    staticIp = label(box, L"IP-адрес");
    grid->Add(staticIp, 0, centred, kBorder);
    textIp = address(ID_IP);
    grid->Add(textIp, 0, centred, kBorder);
    staticMask = label(box, L"Маска подсети");
    grid->Add(staticMask, 0, centred, kBorder);
    textMask = address(ID_MASK);
    grid->Add(textMask, 0, centred, kBorder);
    staticGateway = label(box, L"Основной шлюз");
    grid->Add(staticGateway, 0, centred, kBorder);
    textGateway = address(ID_GATEWAY);
    grid->Add(textGateway, 0, centred, kBorder);
    for (int i = 0; i < 2; ++i) addSpacer(grid);
    staticMulticastIp = label(box, L"IP Мультикаст-вещания");
    grid->Add(staticMulticastIp, 0, centred, kBorder);
    textMulticastIp = address(ID_MULTICAST_IP);
    grid->Add(textMulticastIp, 0, centred, kBorder);
    staticBasePort = label(box, L"Базовый порт");
    grid->Add(staticBasePort, 0, centred, kBorder);
    // The stream ports are the base port plus 1 and plus 2: both must stay
    // below 65536.
    spinBasePort = new NumberSpin(box, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                  wxSP_ARROW_KEYS, 2000, 65533, 11990);
    grid->Add(spinBasePort, 0, centred, kBorder);
    checkBoxAllowIp = new wxCheckBox(box, ID_ALLOW_IP, L"Разрешить IP");
    grid->Add(checkBoxAllowIp, 0, centred, kBorder);
    textAllowIp = address(ID_ALLOWED_IP);
    grid->Add(textAllowIp, 0, centred, kBorder);
    addressing->Add(grid, 1, wxEXPAND, kBorder);
    staticMulticastNote =
        label(box,
              L"Адрес мультикаст-вещания и базовый порт должнен быть одинаковый на всех устройствах "
              L"работающих вместе.\nА так же должен совпадать в общих настройках Сонвар.");
    addressing->Add(staticMulticastNote, 0, wxALL, kBorder);
    content->Add(addressing, 1, wxEXPAND, kBorder);

    checkBoxIgmp = new wxCheckBox(panelNetwork, wxID_ANY, L"Дополнительные IGMP-пакеты");
    content->Add(checkBoxIgmp, 0, wxALL, kBorder);
    addSpacer(content);
    pageSizer->Add(content, 0, wxEXPAND, kBorder);

    finishPanel(panelNetwork, pageSizer);
    return panelNetwork;
}

wxPanel* PropertyDevicePanel::buildZarnoPage() {
    panelZarno = panel(notebookPref, ID_PAGE_ZARNO);
    auto* pageSizer = new wxBoxSizer(wxVERTICAL);
    auto* group = new wxStaticBoxSizer(new wxStaticBox(panelZarno, wxID_ANY, L"Зарно"), wxVERTICAL);
    wxStaticBox* box = group->GetStaticBox();
    auto* grid = new wxFlexGridSizer(0, 6, 0, 0);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    const long centred = wxALL | wxALIGN_CENTER_VERTICAL;
    staticZarnoAddress = label(box, L"Адрес");
    grid->Add(staticZarnoAddress, 0, centred, kBorder);
    spinZarnoAddress = new NumberSpin(box, ID_ZARNO_ADDRESS, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                      wxSP_ARROW_KEYS, 1, 127, 127);
    grid->Add(spinZarnoAddress, 0, centred, kBorder);
    staticZarnoInfo = label(box, wxEmptyString);
    grid->Add(staticZarnoInfo, 0, centred, kBorder);
    const auto checked = [box](int id, const wchar_t* text) {
        auto* made = new wxCheckBox(box, id, text);
        made->SetValue(true);
        return made;
    };
    checkBoxRelayEvents = checked(ID_RELAY_EVENTS, L"События реле");
    grid->Add(checkBoxRelayEvents, 0, centred, kBorder);
    checkBoxIsTestZarno = checked(ID_IS_TEST_ZARNO, L"Индикация ошибки интерфейса");
    grid->Add(checkBoxIsTestZarno, 0, centred, kBorder);
    checkBoxLineRedundancy = checked(wxID_ANY, L"Резервирование линии");
    grid->Add(checkBoxLineRedundancy, 0, centred, kBorder);
    group->Add(grid, 1, wxEXPAND, kBorder);
    pageSizer->Add(group, 0, wxEXPAND, kBorder);
    finishPanel(panelZarno, pageSizer);
    return panelZarno;
}

// ---- "Источники" and "Линия" ---------------------------------------------------------------

wxPanel* PropertyDevicePanel::buildSourcePage() {
    panelSource = panel(notebookPref, ID_PAGE_SOURCE);
    auto* pageSizer = new wxBoxSizer(wxVERTICAL);
    scrolledSource = scrolled(panelSource);
    auto* sourceSizer = new wxBoxSizer(wxVERTICAL);

    auto* playback = new wxStaticBoxSizer(
        new wxStaticBox(scrolledSource, wxID_ANY, L"Источники воспроизведения"), wxVERTICAL);
    wxStaticBox* playbackBox = playback->GetStaticBox();
    const auto source = [&](wxCheckBox*& box, const wchar_t* text) {
        box = new wxCheckBox(playbackBox, wxID_ANY, text);
        playback->Add(box, 0, wxALL, kBorder);
    };
    source(checkBoxStreamFromOthers, L"Разрешить воспроизводить поток с других модулей");
    source(checkBoxForwardInput1, L"Передавать поток со входа 1 на другие модули");
    source(checkBoxForwardInput2, L"Передавать поток со входа 2 на другие модули");
    sourceSizer->Add(playback, 0, wxALL | wxEXPAND, kBorder);

    auto* filter = new wxStaticBoxSizer(new wxStaticBox(scrolledSource, wxID_ANY, wxEmptyString), wxVERTICAL);
    checkBoxAnalogFilter =
        new wxCheckBox(filter->GetStaticBox(), wxID_ANY, L"Фильтр сигнала аналоговых входов");
    filter->Add(checkBoxAnalogFilter, 0, wxALL, kBorder);
    sourceSizer->Add(filter, 0, wxLEFT | wxRIGHT | wxBOTTOM | wxEXPAND, kBorder);

    auto* priorities = new wxStaticBoxSizer(
        new wxStaticBox(scrolledSource, wxID_ANY,
                        L"Приоритеты источников воспроизведения (больше число - выше приоритет)"),
        wxVERTICAL);
    wxStaticBox* box = priorities->GetStaticBox();
    auto* grid = new wxFlexGridSizer(0, 4, 0, 0);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    const auto header = [&](wxStaticText*& text, const wchar_t* caption, long align) {
        text = label(box, caption);
        grid->Add(text, 0, wxLEFT | wxRIGHT | wxTOP | align, 10);
    };
    header(staticInputHeader, L"Вход", wxALIGN_CENTER_HORIZONTAL);
    header(staticPriorityHeader, L"Приоритет", wxALIGN_RIGHT);
    header(staticFunctionHeader, L"ГОиЧС / Микрофон / Сообщение", wxALIGN_CENTER);
    // On two lines: on one the column pushes "Контроль целостности линии"
    // past the page's edge at the main window's smallest width.
    staticFunctionHeader->Wrap(staticFunctionHeader->GetTextExtent(L"ГОиЧС / Микрофон /").x + 1);
    header(staticIntegrityHeader, L"Целостность линии", wxALIGN_CENTER);
    for (wxStaticLine** rule : {&lineHeader1, &lineHeader2, &lineHeader3, &lineHeader4}) {
        *rule = new wxStaticLine(box, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL);
        grid->Add(*rule, 0, wxALL | wxEXPAND, kBorder);
    }
    const wxString levels[] = {L"7", L"6", L"5", L"4", L"3", L"2"};
    const auto row = [&](wxStaticText*& text, const wchar_t* caption, wxChoice*& choice, int selected) {
        text = label(box, caption);
        grid->Add(text, 0, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
        choice = new wxChoice(box, wxID_ANY, wxDefaultPosition, wxDefaultSize, WXSIZEOF(levels), levels);
        choice->SetSelection(selected);
        grid->Add(choice, 0, wxALL, kBorder);
    };
    const auto fixedRow = [&](wxStaticText*& text, const wchar_t* caption, wxChoice*& choice,
                              const wchar_t* level) {
        text = label(box, caption);
        grid->Add(text, 0, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
        const wxString only[] = {level};
        choice = new wxChoice(box, wxID_ANY, wxDefaultPosition, wxDefaultSize, 1, only);
        choice->SetSelection(0);
        choice->Enable(false);
        grid->Add(choice, 0, wxALL, kBorder);
    };
    const auto function = [&](wxChoice*& choice) {
        const wxString only[] = {L"ГОиЧС / Микрофон"};
        choice = new wxChoice(box, wxID_ANY, wxDefaultPosition, wxDefaultSize, 1, only);
        choice->SetSelection(0);
        grid->Add(choice, 0, wxALL | wxEXPAND | wxALIGN_CENTER_VERTICAL, kBorder);
    };
    const auto spacers = [&](int count) {
        for (int i = 0; i < count; ++i) addSpacer(grid);
    };
    fixedRow(staticFireConsole, L"Пожарная микрофонная консоль", choiceFireConsolePriority, L"8");
    spacers(2);
    row(staticZarnoMessages, L"Сообщения (протокол Зарно)", choiceZarnoMessagesPriority, 0);
    spacers(2);
    row(staticAnalogInput2, L"Аналоговый вход 2 (ГОиЧС)", choiceAnalogInput2Priority, 1);
    function(choiceAnalogInput2Function);
    checkBoxLineIntegrity = new wxCheckBox(box, wxID_ANY, L"Контроль целостности линии");
    grid->Add(checkBoxLineIntegrity, 0, wxALL | wxEXPAND | wxALIGN_CENTER_VERTICAL, kBorder);
    row(staticAnalogInput1, L"Аналоговый вход 1", choiceAnalogInput1Priority, 2);
    function(choiceAnalogInput1Function);
    spacers(1);
    row(staticAnalogMulticast, L"Аналоговый вход - мультикаст", choiceAnalogMulticastPriority, 3);
    spacers(2);
    row(staticAnalogConsole, L"Аналоговый вход - консоль", choiceAnalogConsolePriority, 4);
    spacers(2);
    row(staticAlarmStream, L"Поток Сонвар (Тревожное)", choiceAlarmStreamPriority, 5);
    spacers(2);
    fixedRow(staticNotificationConsole, L"Микрофонная консоль оповещения", choiceNotificationConsolePriority,
             L"1");
    priorities->Add(grid, 1, wxEXPAND, kBorder);
    sourceSizer->Add(priorities, 1, wxALL | wxEXPAND, kBorder);

    finishPanel(scrolledSource, sourceSizer);
    pageSizer->Add(scrolledSource, 1, wxALL | wxEXPAND, kBorder);
    finishPanel(panelSource, pageSizer);
    return panelSource;
}

wxPanel* PropertyDevicePanel::buildLineControlPage() {
    panelLineControl = panel(notebookPref, ID_PAGE_LINE_CONTROL);
    panelLineControl->SetFont(monospace());  // the controls below take it over
    auto* pageSizer = new wxStaticBoxSizer(
        new wxStaticBox(panelLineControl, wxID_ANY, L"Оконечные устройства"), wxVERTICAL);
    panelTipDevices = panel(pageSizer->GetStaticBox());
    sizerLineControl = new wxBoxSizer(wxVERTICAL);
    const long centred = wxALL | wxALIGN_CENTER_VERTICAL;

    auto* versionRow = new wxBoxSizer(wxHORIZONTAL);
    staticVersion = label(panelTipDevices, L"Версия");
    versionRow->Add(staticVersion, 0, centred, kBorder);
    staticVersionValue = label(panelTipDevices, wxEmptyString);
    staticVersionValue->SetBackgroundColour(kHighlight);
    staticVersionValue->SetForegroundColour(kHighlightText);
    versionRow->Add(staticVersionValue, 0, centred, kBorder);
    sizerLineControl->Add(versionRow, 0, wxEXPAND, kBorder);

    auto* actions = new wxBoxSizer(wxHORIZONTAL);
    checkBoxPowerSave = new wxCheckBox(panelTipDevices, wxID_ANY, L"Энергосбережение");
    actions->Add(checkBoxPowerSave, 0, wxLEFT | wxBOTTOM | wxALIGN_CENTER_VERTICAL, 3);
    addSpacer(actions);
    buttonRebootMaster = new wxButton(panelTipDevices, wxID_ANY, L"Перезагрузить");
    actions->Add(buttonRebootMaster, 0, wxLEFT | wxTOP | wxBOTTOM | wxALIGN_CENTER_VERTICAL, kBorder);
    buttonAddAllTipDevices = new wxButton(panelTipDevices, wxID_ANY, L"Добавить все");
    actions->Add(buttonAddAllTipDevices, 0, wxALL, kBorder);
    buttonResetPref = new wxButton(panelTipDevices, wxID_ANY, L"Удалить все");
    actions->Add(buttonResetPref, 0, wxRIGHT | wxALIGN_CENTER_VERTICAL, 10);
    sizerLineControl->Add(actions, 0, wxEXPAND, kBorder);

    scrolledTipDevices = scrolled(panelTipDevices);
    sizerTipDevices = new wxBoxSizer(wxVERTICAL);
    panelTipDeviceSample = panel(scrolledTipDevices);
    auto* sample = new wxBoxSizer(wxHORIZONTAL);
    staticTipDeviceLevel = label(panelTipDeviceSample, L"20",
                                 wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT,
                                        wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false, wxEmptyString));
    sample->Add(staticTipDeviceLevel, 0, wxRIGHT | wxTOP | wxBOTTOM | wxALIGN_CENTER_VERTICAL, kBorder);
    staticTipDevicePercent = label(panelTipDeviceSample, L"%");
    sample->Add(staticTipDevicePercent, 0, wxALIGN_CENTER_VERTICAL, kBorder);
    staticTipDeviceDebug = label(panelTipDeviceSample, L"Debug", monospace());
    sample->Add(staticTipDeviceDebug, 0, centred, kBorder);
    textTipDeviceName = new wxTextCtrl(panelTipDeviceSample, wxID_ANY, L"Название");
    textTipDeviceName->Enable(false);
    sample->Add(textTipDeviceName, 1, centred, kBorder);
    buttonAddOrRemoveTipDevice = new wxButton(panelTipDeviceSample, wxID_ANY, L"Добавить или Удалить");
    buttonAddOrRemoveTipDevice->Enable(false);
    sample->Add(buttonAddOrRemoveTipDevice, 0, centred, kBorder);
    finishPanel(panelTipDeviceSample, sample);
    sizerTipDevices->Add(panelTipDeviceSample, 0, wxEXPAND, kBorder);
    finishPanel(scrolledTipDevices, sizerTipDevices);
    sizerLineControl->Add(scrolledTipDevices, 1, wxLEFT | wxRIGHT | wxEXPAND, kBorder);

    finishPanel(panelTipDevices, sizerLineControl);
    pageSizer->Add(panelTipDevices, 1, wxEXPAND, kBorder);
    finishPanel(panelLineControl, pageSizer);
    return panelLineControl;
}

// ---- "Ключи", "Зоны трансляции" and "Связанные консоли" ----------------------------------

wxPanel* PropertyDevicePanel::buildPasskeyPage() {
    panelPasskey = panel(notebookPref, ID_PAGE_PASSKEY);
    auto* pageSizer =
        new wxStaticBoxSizer(new wxStaticBox(panelPasskey, wxID_ANY, L"Ключи доступа"), wxVERTICAL);
    panelPasskeys = panel(pageSizer->GetStaticBox());
    sizerPasskeyPanel = new wxBoxSizer(wxVERTICAL);
    const long centred = wxALL | wxALIGN_CENTER_VERTICAL;

    auto* controls = new wxBoxSizer(wxHORIZONTAL);
    panelAccessControl = panel(panelPasskeys);
    auto* accessSizer = new wxBoxSizer(wxVERTICAL);
    toggleAccessControl = new wxToggleButton(panelAccessControl, wxID_ANY, L"Включить контроль доступа");
    accessSizer->Add(toggleAccessControl, 0, wxALL, 2);
    finishPanel(panelAccessControl, accessSizer);
    controls->Add(panelAccessControl, 0, wxALL | wxEXPAND, 3);
    staticPasskeyHint = label(panelPasskeys, L"Прислоните ключ к считывателю для добавления");
    staticPasskeyHint->SetBackgroundColour(kHighlight);
    controls->Add(staticPasskeyHint, 0, centred, kBorder);
    addSpacer(controls);
    buttonAddPasskey = new wxButton(panelPasskeys, wxID_ANY, L"Начать добавление");
    controls->Add(buttonAddPasskey, 0, centred, kBorder);
    buttonResetPasskeys = new wxButton(panelPasskeys, wxID_ANY, L"Удалить все");
    controls->Add(buttonResetPasskeys, 0, wxRIGHT | wxALIGN_CENTER_VERTICAL, 10);
    sizerPasskeyPanel->Add(controls, 0, wxEXPAND, kBorder);

    scrolledPasskeys = scrolled(panelPasskeys);
    sizerPasskeys = new wxBoxSizer(wxVERTICAL);
    panelPasskeySample = panel(scrolledPasskeys);
    auto* sample = new wxBoxSizer(wxHORIZONTAL);
    staticPasskeyNumber = label(panelPasskeySample, L"01", monospace());
    sample->Add(staticPasskeyNumber, 0, wxRIGHT | wxTOP | wxBOTTOM | wxALIGN_CENTER_VERTICAL, kBorder);
    staticPasskeyHash = label(panelPasskeySample, L"Hash123ABC", monospace());
    sample->Add(staticPasskeyHash, 0, wxLEFT | wxRIGHT | wxALIGN_CENTER_VERTICAL, kBorder);
    textPasskeyName = new wxTextCtrl(panelPasskeySample, wxID_ANY, L"Название");
    textPasskeyName->Enable(false);
    sample->Add(textPasskeyName, 1, centred, kBorder);
    buttonDeletePasskey = new wxButton(panelPasskeySample, wxID_ANY, L"Удалить");
    buttonDeletePasskey->Enable(false);
    sample->Add(buttonDeletePasskey, 0, centred, kBorder);
    finishPanel(panelPasskeySample, sample);
    sizerPasskeys->Add(panelPasskeySample, 0, wxEXPAND, kBorder);
    finishPanel(scrolledPasskeys, sizerPasskeys);
    sizerPasskeyPanel->Add(scrolledPasskeys, 1, wxLEFT | wxRIGHT | wxEXPAND, kBorder);

    finishPanel(panelPasskeys, sizerPasskeyPanel);
    pageSizer->Add(panelPasskeys, 1, wxEXPAND, kBorder);
    finishPanel(panelPasskey, pageSizer);
    return panelPasskey;
}

wxPanel* PropertyDevicePanel::buildZonesPage() {
    panelZones = panel(notebookPref, ID_PAGE_ZONES);
    auto* pageSizer = new wxBoxSizer(wxVERTICAL);

    panelZoneButtons = panel(panelZones);
    sizerZoneButtons = new wxGridSizer(0, 10, 0, 0);
    wxToggleButton** const zones[] = {&toggleZone1,  &toggleZone2,  &toggleZone3,  &toggleZone4,
                                      &toggleZone5,  &toggleZone6,  &toggleZone7,  &toggleZone8,
                                      &toggleZone9,  &toggleZone10, &toggleZone11, &toggleZone12,
                                      &toggleZone13, &toggleZone14, &toggleZone15, &toggleZone16,
                                      &toggleZone17, &toggleZone18, &toggleZone19, &toggleZone20};
    int number = 0;
    for (wxToggleButton** zone : zones) {
        *zone = new wxToggleButton(panelZoneButtons, wxID_ANY, wxString::Format(L"%d", ++number));
        sizerZoneButtons->Add(*zone, 0, wxTOP | wxBOTTOM | wxALIGN_CENTER, kBorder);
    }
    toggleZone1->SetValue(true);
    finishPanel(panelZoneButtons, sizerZoneButtons);
    pageSizer->Add(panelZoneButtons, 0, wxALL, kBorder);
    pageSizer->Add(new wxStaticLine(panelZones, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL),
                   0, wxALL | wxEXPAND, kBorder);

    auto* modeRow = new wxBoxSizer(wxHORIZONTAL);
    comboBoxZoneMode = new wxComboBox(panelZones, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                      0, nullptr, wxCB_READONLY);
    comboBoxZoneMode->Append(L"Вещание с микрофона");
    comboBoxZoneMode->SetSelection(0);
    modeRow->Add(comboBoxZoneMode, 0, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    staticZoneNote = label(panelZones, L"Для выбора сообщений необходима одинаковая аудио-память");
    // Wrapped, so that the row keeps "Удалить все зоны" whole at the main
    // window's smallest width (given a pixel, GTK warned of a negative width).
    staticZoneNote->Wrap(kNoteWidth);
    modeRow->Add(staticZoneNote, 0, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    addSpacer(modeRow);
    buttonRemoveZone = new wxButton(panelZones, wxID_ANY, L"Удалить зону");
    modeRow->Add(buttonRemoveZone, 0, wxALL, kBorder);
    buttonResetZones = new wxButton(panelZones, wxID_ANY, L"Удалить все зоны");
    modeRow->Add(buttonResetZones, 0, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    pageSizer->Add(modeRow, 0, wxEXPAND, kBorder);
    pageSizer->Add(new wxStaticLine(panelZones, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL),
                   0, wxALL | wxEXPAND, kBorder);

    buttonFixZoneIntegrity = new wxButton(panelZones, wxID_ANY, L"Исправить целостность связей");
    infoColours(buttonFixZoneIntegrity);
    pageSizer->Add(buttonFixZoneIntegrity, 0, wxALL | wxEXPAND, kBorder);

    scrolledZoneTargets = scrolled(panelZones);
    sizerZoneTargets = new wxBoxSizer(wxVERTICAL);
    checkBoxZoneTargetSample = new wxCheckBox(
        scrolledZoneTargets, wxID_ANY, L"Orvel-610 1.0.112.0 debug | 02:00:00:00:00:01 | 192.168.0.10");
    sizerZoneTargets->Add(checkBoxZoneTargetSample, 0, wxALL, kBorder);
    finishPanel(scrolledZoneTargets, sizerZoneTargets);
    pageSizer->Add(scrolledZoneTargets, 1, wxALL | wxEXPAND, kBorder);

    finishPanel(panelZones, pageSizer);
    return panelZones;
}

wxPanel* PropertyDevicePanel::buildLinkedConsolesPage() {
    panelLinkedConsoles = panel(notebookPref, ID_PAGE_LINKED_CONSOLES);
    auto* pageSizer = new wxStaticBoxSizer(
        new wxStaticBox(panelLinkedConsoles, wxID_ANY, L"Список микрофонных консолей"), wxVERTICAL);
    wxStaticBox* box = pageSizer->GetStaticBox();
    buttonFixLinkIntegrity = new wxButton(box, wxID_ANY, L"Исправить целостность связей");
    infoColours(buttonFixLinkIntegrity);
    pageSizer->Add(buttonFixLinkIntegrity, 0, wxALL | wxEXPAND, kBorder);
    scrolledLinkedConsoles = scrolled(box);
    sizerLinkedConsoles = new wxBoxSizer(wxVERTICAL);
    checkBoxLinkedConsoleSample =
        new wxCheckBox(scrolledLinkedConsoles, wxID_ANY, L"Микрофонная консоль - Название");
    sizerLinkedConsoles->Add(checkBoxLinkedConsoleSample, 0, wxALL, kBorder);
    finishPanel(scrolledLinkedConsoles, sizerLinkedConsoles);
    pageSizer->Add(scrolledLinkedConsoles, 1, wxALL | wxEXPAND, kBorder);
    finishPanel(panelLinkedConsoles, pageSizer);
    return panelLinkedConsoles;
}

// ---- "Отладочные сообщения" ---------------------------------------------------------------

wxPanel* PropertyDevicePanel::buildDebugPage() {
    panelDebug = panel(notebookPref, ID_PAGE_DEBUG_MESSAGE);
    auto* pageSizer = new wxBoxSizer(wxHORIZONTAL);
    const long centred = wxALL | wxALIGN_CENTER_VERTICAL;

    auto* left = new wxBoxSizer(wxVERTICAL);
    auto* requestRow = new wxBoxSizer(wxHORIZONTAL);
    const wxString kinds[] = {L"Общая отладка", L"Контроль линии"};
    radioBoxDebugKind = new wxRadioBox(panelDebug, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                       WXSIZEOF(kinds), kinds, 1, wxRA_SPECIFY_ROWS);
    radioBoxDebugKind->SetSelection(0);
    requestRow->Add(radioBoxDebugKind, 0, wxLEFT | wxRIGHT | wxBOTTOM | wxALIGN_CENTER_VERTICAL, kBorder);
    staticDebugIndicator = label(
        panelDebug, L"●",
        wxFont(32, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false, wxEmptyString));
    requestRow->Add(staticDebugIndicator, 0, centred, kBorder);
    addSpacer(requestRow);
    buttonCopyDebug = new wxButton(panelDebug, wxID_ANY, L"Копировать");
    requestRow->Add(buttonCopyDebug, 0, centred, kBorder);
    const wxString periods[] = {L"50",  L"100",  L"150",  L"200",  L"300",  L"400",  L"500",
                                L"700", L"1000", L"1500", L"2000", L"3000", L"4000", L"5000"};
    choiceRefreshRate =
        new wxChoice(panelDebug, wxID_ANY, wxDefaultPosition, wxDefaultSize, WXSIZEOF(periods), periods);
    choiceRefreshRate->SetSelection(7);
    choiceRefreshRate->SetToolTip(L"Частота обновления");
    requestRow->Add(choiceRefreshRate, 0, centred, kBorder);
    left->Add(requestRow, 0, wxEXPAND, kBorder);

    auto* drawing = new wxBoxSizer(wxVERTICAL);
    scrolledDebugText = scrolled(panelDebug);
    auto* drawingSizer = new wxBoxSizer(wxVERTICAL);
    staticDebugText = new wxPanel(scrolledDebugText, wxID_ANY);
    staticDebugText->SetBackgroundStyle(wxBG_STYLE_PAINT);
    staticDebugText->SetMinSize(wxSize(-1, 780));
    drawingSizer->Add(staticDebugText, 3, wxALL | wxEXPAND, kBorder);
    finishPanel(scrolledDebugText, drawingSizer);
    drawing->Add(scrolledDebugText, 1, wxALL | wxEXPAND, kBorder);
    left->Add(drawing, 1, wxEXPAND, kBorder);
    pageSizer->Add(left, 1, wxEXPAND, kBorder);

    auto* right = new wxBoxSizer(wxVERTICAL);
    auto* console = new wxBoxSizer(wxVERTICAL);
    auto* controlRow = new wxBoxSizer(wxHORIZONTAL);
    toggleStopDebug = new wxToggleButton(panelDebug, wxID_ANY, L"Стоп");
    controlRow->Add(toggleStopDebug, 0, wxTOP | wxBOTTOM | wxALIGN_CENTER_VERTICAL, kBorder);
    buttonClearDebug = new wxButton(panelDebug, wxID_ANY, L"Очистить");
    controlRow->Add(buttonClearDebug, 0, centred, kBorder);
    checkBoxLineError = new wxCheckBox(panelDebug, wxID_ANY, L"Line error");
    controlRow->Add(checkBoxLineError, 0, wxALL | wxALIGN_CENTER, kBorder);
    sliderVolume = new wxSlider(panelDebug, wxID_ANY, 0, 0, 100, wxDefaultPosition, wxDefaultSize,
                                wxSL_HORIZONTAL | wxSL_BOTH);
    controlRow->Add(sliderVolume, 1, wxALIGN_CENTER, kBorder);
    console->Add(controlRow, 0, wxEXPAND, kBorder);
    auto* exchange = new wxBoxSizer(wxVERTICAL);
    auto* exchangeRow = new wxBoxSizer(wxHORIZONTAL);
    textDebugExchange = new wxTextCtrl(panelDebug, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                       wxTE_PROCESS_ENTER);
    exchangeRow->Add(textDebugExchange, 1, wxALL, kBorder);
    buttonDebugExchange = new wxButton(panelDebug, wxID_ANY, L"Обмен");
    exchangeRow->Add(buttonDebugExchange, 0, centred, kBorder);
    exchange->Add(exchangeRow, 0, wxEXPAND, kBorder);
    textDebugLog =
        new wxTextCtrl(panelDebug, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_MULTILINE);
    textDebugLog->SetFont(monospace());
    exchange->Add(textDebugLog, 1, wxLEFT | wxRIGHT | wxTOP | wxEXPAND, kBorder);
    console->Add(exchange, 1, wxEXPAND, kBorder);
    right->Add(console, 2, wxBOTTOM | wxEXPAND, kBorder);

    auto* history = new wxBoxSizer(wxHORIZONTAL);
    auto* historyFields = new wxBoxSizer(wxVERTICAL);
    textDebugUpper = new wxTextCtrl(panelDebug, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                    wxTE_MULTILINE | wxTE_READONLY);
    textDebugUpper->SetFont(monospace(10));
    historyFields->Add(textDebugUpper, 4, wxLEFT | wxRIGHT | wxTOP | wxEXPAND, kBorder);
    textDebugLower = new wxTextCtrl(panelDebug, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                    wxTE_MULTILINE | wxTE_READONLY);
    textDebugLower->SetFont(monospace());
    textDebugLower->SetMinSize(wxSize(-1, kScrollingMin));
    historyFields->Add(textDebugLower, 1, wxALL | wxEXPAND, kBorder);
    history->Add(historyFields, 1, wxEXPAND, kBorder);
    right->Add(history, 4, wxEXPAND, kBorder);
    pageSizer->Add(right, 1, wxALL | wxEXPAND, kBorder);

    finishPanel(panelDebug, pageSizer);
    return panelDebug;
}

// ---- the bar under the notebook ------------------------------------------------------

wxPanel* PropertyDevicePanel::buildButtonBar() {
    panelButtons = panel(this);
    auto* bar = new wxBoxSizer(wxHORIZONTAL);
    staticDeviceName = label(panelButtons, L"Название устройства");
    bar->Add(staticDeviceName, 0, wxRIGHT | wxTOP | wxBOTTOM | wxALIGN_CENTER_VERTICAL, 10);
    staticPageState = new wxStaticText(panelButtons, wxID_ANY, wxEmptyString);
    bar->Add(staticPageState, 0, wxRIGHT | wxTOP | wxBOTTOM | wxALIGN_CENTER_VERTICAL, 10);
    bar->Add(0, 0, 20, wxEXPAND, kBorder);
    buttonApply = new wxButton(panelButtons, wxID_ANY, L"&Применить");
    bar->Add(buttonApply, 0, wxALL, kBorder);
    buttonCancel = new wxButton(panelButtons, wxID_ANY, L"&Отмена");
    bar->Add(buttonCancel, 0, wxALL, kBorder);
    bar->Add(new wxStaticLine(panelButtons, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL), 0,
             wxALL | wxEXPAND, kBorder);
    buttonClose = new wxButton(panelButtons, wxID_ANY, L"&Закрыть");
    bar->Add(buttonClose, 0, wxALL, kBorder);
    bar->Add(10, 0, 0, 0, kBorder);
    finishPanel(panelButtons, bar);
    return panelButtons;
}

// ---- popup menus ---------------------------------------------------------------------------

void PropertyDevicePanel::popUp(wxWindow* carrier, wxMenu* menu, const wxMouseEvent& event) {
    if (menu != nullptr && menu->GetMenuItemCount() > 0) carrier->PopupMenu(menu, event.GetPosition());
}

void PropertyDevicePanel::listCtrlAudioFragmentOnContextMenu(wxMouseEvent& event) {
    popUp(listCtrlAudioFragment, menuFragment, event);
}

void PropertyDevicePanel::listCtrlAudioScenarioOnContextMenu(wxMouseEvent& event) {
    popUp(listCtrlAudioScenario, menuScenario, event);
}

void PropertyDevicePanel::audioMemoryOnContextMenu(wxMouseEvent& event) {
    popUp(buttonAudioMemory, menuAudioMemory, event);
}

// ---- the event table -----------------------------------------------------------------------

void PropertyDevicePanel::connectEvents() {
    using P = PropertyDevicePanel;
    EventConnections& c = m_connections;
    c.connect(this, wxEVT_SIZE, &P::onSize, this);
    c.connect(notebookPref, wxEVT_NOTEBOOK_PAGE_CHANGED, &P::notebookPrefOnNotebookPageChanged, this);

    // "Общие"
    c.connect(textName, wxEVT_CHAR, &P::onValueChanged, this);
    c.connect(checkBoxEqualizer, wxEVT_CHECKBOX, &P::onCheckBoxEqualizer, this);
    c.connect(sliderTreble, wxEVT_LEFT_UP, &P::onLeftUpTrebleSlider, this);
    c.connect(sliderBass, wxEVT_LEFT_UP, &P::onLeftUpBassSlider, this);
    for (wxSlider* band : {sliderBand1, sliderBand2, sliderBand3, sliderBand4, sliderBand5, sliderBand6}) {
        c.connect(band, wxEVT_LEFT_UP, &P::onBandSlider, this);
        c.connect(band, wxEVT_SCROLL_LINEDOWN, &P::onBandSliderScroll, this);
        c.connect(band, wxEVT_SCROLL_LINEUP, &P::onBandSliderScroll, this);
    }
    c.connect(buttonResetEq, wxEVT_BUTTON, &P::resetEqOnButtonClick, this);
    c.connect(checkBoxLineControl, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(buttonSetLine, wxEVT_BUTTON, &P::buttonSetLineOnClick, this);
    c.connect(choiceLineMode, wxEVT_CHOICE, &P::lineModeOnChoice, this);
    c.connect(checkBoxGong, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(comboBoxGong, wxEVT_COMBOBOX, &P::onChoiceChanged, this);
    c.connect(checkBoxKeySound, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(checkBoxFaultSound, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(checkBoxSinglePowerSource, wxEVT_CHECKBOX, &P::onCheckBoxSinglePowerSource, this);
    c.connect(checkBoxAnalogInput, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(checkBoxZoneIndication, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(choicePower1, wxEVT_CHOICE, &P::powerInputOnChoice, this);
    c.connect(choicePower2, wxEVT_CHOICE, &P::powerInputOnChoice, this);
    c.connect(choiceTovikType, wxEVT_CHOICE, &P::changeTovikTypeOnChoice, this);
    c.connect(spinTovikPriority, wxEVT_CHAR, &P::fieldOnChar, this);
    c.connect(spinTovikPriority, wxEVT_SPINCTRL, &P::fieldOnSpinCtrl, this);
    c.connect(buttonUpdateFirmware, wxEVT_BUTTON, &P::updateFirmwareOnButtonClick, this);
    c.connect(buttonReboot, wxEVT_BUTTON, &P::rebootOnClick, this);
    c.connect(textCommand, wxEVT_TEXT_ENTER, &P::textDebugExchangeOnPress, this);
    c.connect(buttonExchange, wxEVT_BUTTON, &P::buttonDebugExchangeOnClick, this);
    c.connect(buttonAddCommand, wxEVT_BUTTON, &P::exchangeCommandsOnButtonClick, this);
    c.connect(buttonCommandSuite, wxEVT_BUTTON, &P::manageCommandSuiteOnButtonClick, this);

    // "Аудио память"
    c.connect(listCtrlAudioFragment, wxEVT_LEFT_DOWN, &P::listCtrlAudioFragmentOnRightDown, this);
    c.connect(listCtrlAudioFragment, wxEVT_LIST_ITEM_DESELECTED,
              &P::listCtrlAudioFragmentOnListItemDeselected, this);
    c.connect(listCtrlAudioFragment, wxEVT_LIST_ITEM_SELECTED, &P::listCtrlAudioFragmentOnListItemSelected,
              this);
    c.connect(listCtrlAudioFragment, wxEVT_RIGHT_DOWN, &P::listCtrlAudioFragmentOnRightDown, this);
    c.connect(listCtrlAudioFragment, wxEVT_RIGHT_UP, &P::listCtrlAudioFragmentOnRightUp, this);
    bindItem(menuFragment, menuFragmentPlay, &P::menuFragmentPlayOnSelection);
    bindItem(menuFragment, menuFragmentStop, &P::menuAudioStopOnSelection);
    bindItem(menuFragment, menuFragmentAdd, &P::menuFragmentAddOnSelection);
    bindItem(menuFragment, menuFragmentSave, &P::menuFragmentSaveOnSelection);
    bindItem(menuFragment, menuFragmentDelete, &P::menuFragmentDeleteOnSelection);
    c.connect(listCtrlAudioScenario, wxEVT_LIST_ITEM_DESELECTED,
              &P::listCtrlAudioScenarioOnListItemDeselected, this);
    c.connect(listCtrlAudioScenario, wxEVT_LIST_ITEM_SELECTED, &P::listCtrlAudioScenarioOnListItemSelected,
              this);
    c.connect(listCtrlAudioScenario, wxEVT_RIGHT_DOWN, &P::listCtrlAudioScenarioOnRightDown, this);
    c.connect(listCtrlAudioScenario, wxEVT_RIGHT_UP, &P::listCtrlAudioScenarioOnRightUp, this);
    bindItem(menuScenario, menuScenarioAdd, &P::menuScenarioAddOnSelection);
    bindItem(menuScenario, menuScenarioDelete, &P::menuScenarioDeleteOnSelection);
    bindItem(menuScenario, menuScenarioPlay, &P::menuScenarioPlayOnSelection);
    bindItem(menuScenario, menuScenarioStop, &P::menuAudioStopOnSelection);
    c.connect(buttonAudioMemory, wxEVT_BUTTON, &P::audioMemoryOnButtonClick, this);
    bindItem(menuAudioMemory, menuClearMemory, &P::clearMemory);
    bindItem(menuAudioMemory, menuRevertChanges, &P::revertChanges);
    bindItem(menuAudioMemory, menuSaveImage, &P::saveImageMemory);
    bindItem(menuAudioMemory, menuLoadImage, &P::loadImageMemory);

    // "Сеть"
    c.connect(checkBoxLanRedundancy, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(checkBoxDhcp, wxEVT_CHECKBOX, &P::onCheckBoxDhcp, this);
    c.connect(textIp, wxEVT_CHAR, &P::fieldOnChar, this);
    c.connect(textMask, wxEVT_CHAR, &P::fieldOnChar, this);
    c.connect(textGateway, wxEVT_CHAR, &P::fieldOnChar, this);
    c.connect(textMulticastIp, wxEVT_CHAR, &P::fieldOnChar, this);
    c.connect(spinBasePort, wxEVT_SPINCTRL, &P::fieldOnSpinCtrl, this);
    c.connect(checkBoxAllowIp, wxEVT_CHECKBOX, &P::onCheckBoxAllowIp, this);
    c.connect(textAllowIp, wxEVT_CHAR, &P::fieldOnChar, this);
    c.connect(checkBoxIgmp, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);

    // "Зарно"
    c.connect(spinZarnoAddress, wxEVT_CHAR, &P::fieldOnChar, this);
    c.connect(spinZarnoAddress, wxEVT_SPINCTRL, &P::zarnoAddressOnSpinCtrl, this);
    c.connect(checkBoxRelayEvents, wxEVT_CHECKBOX, &P::relayEventsOnCheckBox, this);
    c.connect(checkBoxIsTestZarno, wxEVT_CHECKBOX, &P::onCheckBoxIsTestZarno, this);
    c.connect(checkBoxLineRedundancy, wxEVT_CHECKBOX, &P::onChoiceChanged, this);

    // "Источники"
    c.connect(checkBoxStreamFromOthers, wxEVT_CHECKBOX, &P::onCheckBoxSource, this);
    c.connect(checkBoxForwardInput1, wxEVT_CHECKBOX, &P::forwardStreamOnCheckBox, this);
    c.connect(checkBoxForwardInput2, wxEVT_CHECKBOX, &P::forwardStreamOnCheckBox, this);
    c.connect(checkBoxAnalogFilter, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(choiceFireConsolePriority, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceZarnoMessagesPriority, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceAnalogInput2Priority, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceAnalogInput2Function, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(checkBoxLineIntegrity, wxEVT_CHECKBOX, &P::onCheckBoxOption, this);
    c.connect(choiceAnalogInput1Priority, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceAnalogInput1Function, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceAnalogMulticastPriority, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceAnalogConsolePriority, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceAlarmStreamPriority, wxEVT_CHOICE, &P::onChoiceChanged, this);
    c.connect(choiceNotificationConsolePriority, wxEVT_CHOICE, &P::onChoiceChanged, this);

    // "Линия"
    c.connect(checkBoxPowerSave, wxEVT_CHECKBOX, &P::onCheckBoxPowerSave, this);
    c.connect(buttonRebootMaster, wxEVT_BUTTON, &P::rebootMasterOfTipDevices, this);
    c.connect(buttonAddAllTipDevices, wxEVT_BUTTON, &P::addAllTipDevices_onButtonClick, this);
    c.connect(buttonResetPref, wxEVT_BUTTON, &P::resetPrefOnButtonClick, this);
    c.connect(buttonAddOrRemoveTipDevice, wxEVT_BUTTON, &P::addOrRemoveTipDeviceOnButtonClick, this);

    // "Ключи"
    c.connect(toggleAccessControl, wxEVT_TOGGLEBUTTON, &P::accessControlOnToggle, this);
    c.connect(buttonAddPasskey, wxEVT_BUTTON, &P::addPasskeyOnButtonClick, this);
    c.connect(buttonResetPasskeys, wxEVT_BUTTON, &P::resetPasskeysOnButtonClick, this);
    c.connect(buttonDeletePasskey, wxEVT_BUTTON, &P::deletePasskeyOnButtonClick, this);

    // "Зоны трансляции" and "Связанные консоли"
    for (wxToggleButton* zone :
         {toggleZone1,  toggleZone2,  toggleZone3,  toggleZone4,  toggleZone5,  toggleZone6,  toggleZone7,
          toggleZone8,  toggleZone9,  toggleZone10, toggleZone11, toggleZone12, toggleZone13, toggleZone14,
          toggleZone15, toggleZone16, toggleZone17, toggleZone18, toggleZone19, toggleZone20})
        c.connect(zone, wxEVT_TOGGLEBUTTON, &P::toggleZoneButton, this);
    c.connect(comboBoxZoneMode, wxEVT_COMBOBOX, &P::onChoiceChanged, this);
    c.connect(buttonRemoveZone, wxEVT_BUTTON, &P::removeZoneOnButtonClick, this);
    c.connect(buttonResetZones, wxEVT_BUTTON, &P::resetZonesOnButtonClick, this);
    c.connect(buttonFixZoneIntegrity, wxEVT_BUTTON, &P::fixZoneIntegrityOnButtonClick, this);
    c.connect(buttonFixLinkIntegrity, wxEVT_BUTTON, &P::fixZoneIntegrityOnButtonClick, this);

    // "Отладочные сообщения"
    c.connect(buttonCopyDebug, wxEVT_BUTTON, &P::copyDebugOnButtonClick, this);
    c.connect(choiceRefreshRate, wxEVT_CHOICE, &P::refreshRateOnChoice, this);
    c.connect(staticDebugText, wxEVT_ERASE_BACKGROUND, &P::eraseTextOnPanel, this);
    c.connect(staticDebugText, wxEVT_PAINT, &P::paintTextOnPanel, this);
    c.connect(toggleStopDebug, wxEVT_TOGGLEBUTTON, &P::stopDebugOnToggle, this);
    c.connect(buttonClearDebug, wxEVT_BUTTON, &P::clearDebugOnButtonClick, this);
    c.connect(sliderVolume, wxEVT_SCROLL_CHANGED, &P::setVolumeOnScrollChanged, this);
    c.connect(textDebugExchange, wxEVT_TEXT_ENTER, &P::textDebugExchangeOnPress, this);
    c.connect(buttonDebugExchange, wxEVT_BUTTON, &P::buttonDebugExchangeOnClick, this);

    // Every change of an edit field, typed, pasted or by the arrows
    for (wxWindow* field : std::initializer_list<wxWindow*>{textName, spinTovikPriority, textIp, textMask,
                                                            textGateway, textMulticastIp, spinBasePort,
                                                            textAllowIp, spinZarnoAddress})
        c.connect(field, wxEVT_TEXT, &P::fieldOnText, this);

    // The bar
    c.connect(buttonApply, wxEVT_BUTTON, &P::applyOnButtonClick, this);
    c.connect(buttonCancel, wxEVT_BUTTON, &P::cancelOnButtonClick, this);
    c.connect(buttonClose, wxEVT_BUTTON, &P::closeOnButtonClick, this);
}

}  // namespace fb
}  // namespace frm
