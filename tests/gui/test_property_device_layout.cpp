// The device property panel's layout routes each (control, event) pair of its
// table to exactly its handler, binds the 13 menu items on their menus and
// gives the pages and fields their fixed ids. Real right clicks on the
// audio-memory lists reach the panel's handler before the popup opener and
// return at once; the memory button's menu opens and is driven by keys.
// The panel's own start state, its drawing area, a teardown with filled
// lists, and a picture of every page.
// ctest-labels: input
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "gui/layout/property_device_panel.h"
#include "gui/property_device_panel.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/screenshot.h"

namespace {

using wx_testing::runEventLoopUntil;

// The layout's 76 handlers in declaration order, with their event classes.
// clang-format off
#define SV_HANDLERS(X)                                                                                              \
    X(onSize, wxSizeEvent) X(notebookPrefOnNotebookPageChanged, wxBookCtrlEvent) X(onValueChanged, wxKeyEvent)    \
    X(onCheckBoxEqualizer, wxCommandEvent) X(onLeftUpTrebleSlider, wxMouseEvent)                                    \
    X(onLeftUpBassSlider, wxMouseEvent) X(onBandSlider, wxMouseEvent) X(onBandSliderScroll, wxScrollEvent)         \
    X(resetEqOnButtonClick, wxCommandEvent) X(onCheckBoxOption, wxCommandEvent)                                     \
    X(buttonSetLineOnClick, wxCommandEvent) X(lineModeOnChoice, wxCommandEvent) X(onChoiceChanged, wxCommandEvent) \
    X(onCheckBoxSinglePowerSource, wxCommandEvent) X(powerInputOnChoice, wxCommandEvent)                            \
    X(changeTovikTypeOnChoice, wxCommandEvent) X(fieldOnChar, wxKeyEvent) X(fieldOnSpinCtrl, wxSpinEvent)         \
    X(updateFirmwareOnButtonClick, wxCommandEvent) X(rebootOnClick, wxCommandEvent)                                 \
    X(textDebugExchangeOnPress, wxCommandEvent) X(buttonDebugExchangeOnClick, wxCommandEvent)                       \
    X(exchangeCommandsOnButtonClick, wxCommandEvent) X(manageCommandSuiteOnButtonClick, wxCommandEvent)             \
    X(listCtrlAudioFragmentOnRightDown, wxMouseEvent) X(listCtrlAudioFragmentOnListItemDeselected, wxListEvent)    \
    X(listCtrlAudioFragmentOnListItemSelected, wxListEvent) X(listCtrlAudioFragmentOnRightUp, wxMouseEvent)        \
    X(menuFragmentPlayOnSelection, wxCommandEvent) X(menuAudioStopOnSelection, wxCommandEvent)                      \
    X(menuFragmentAddOnSelection, wxCommandEvent) X(menuFragmentSaveOnSelection, wxCommandEvent)                    \
    X(menuFragmentDeleteOnSelection, wxCommandEvent) X(listCtrlAudioScenarioOnListItemDeselected, wxListEvent)     \
    X(listCtrlAudioScenarioOnListItemSelected, wxListEvent) X(listCtrlAudioScenarioOnRightDown, wxMouseEvent)      \
    X(listCtrlAudioScenarioOnRightUp, wxMouseEvent) X(menuScenarioAddOnSelection, wxCommandEvent)                   \
    X(menuScenarioDeleteOnSelection, wxCommandEvent) X(menuScenarioPlayOnSelection, wxCommandEvent)                 \
    X(audioMemoryOnButtonClick, wxCommandEvent) X(clearMemory, wxCommandEvent) X(revertChanges, wxCommandEvent)    \
    X(saveImageMemory, wxCommandEvent) X(loadImageMemory, wxCommandEvent) X(onCheckBoxDhcp, wxCommandEvent)        \
    X(onCheckBoxAllowIp, wxCommandEvent) X(zarnoAddressOnSpinCtrl, wxSpinEvent)                                     \
    X(relayEventsOnCheckBox, wxCommandEvent) X(onCheckBoxIsTestZarno, wxCommandEvent)                               \
    X(onCheckBoxSource, wxCommandEvent) X(forwardStreamOnCheckBox, wxCommandEvent)                                  \
    X(onCheckBoxPowerSave, wxCommandEvent) X(rebootMasterOfTipDevices, wxCommandEvent)                              \
    X(addAllTipDevices_onButtonClick, wxCommandEvent) X(resetPrefOnButtonClick, wxCommandEvent)                     \
    X(addOrRemoveTipDeviceOnButtonClick, wxCommandEvent) X(accessControlOnToggle, wxCommandEvent)                   \
    X(addPasskeyOnButtonClick, wxCommandEvent) X(resetPasskeysOnButtonClick, wxCommandEvent)                        \
    X(deletePasskeyOnButtonClick, wxCommandEvent) X(toggleZoneButton, wxCommandEvent)                               \
    X(removeZoneOnButtonClick, wxCommandEvent) X(resetZonesOnButtonClick, wxCommandEvent)                           \
    X(fixZoneIntegrityOnButtonClick, wxCommandEvent) X(copyDebugOnButtonClick, wxCommandEvent)                      \
    X(refreshRateOnChoice, wxCommandEvent) X(eraseTextOnPanel, wxEraseEvent) X(paintTextOnPanel, wxPaintEvent)     \
    X(stopDebugOnToggle, wxCommandEvent) X(clearDebugOnButtonClick, wxCommandEvent)                                 \
    X(setVolumeOnScrollChanged, wxScrollEvent) X(applyOnButtonClick, wxCommandEvent)                                \
    X(cancelOnButtonClick, wxCommandEvent) X(closeOnButtonClick, wxCommandEvent) X(fieldOnText, wxCommandEvent)

// clang-format on
#define SV_ENUM(name, Event) k_##name,
enum Handler { SV_HANDLERS(SV_ENUM) kHandlers };
#undef SV_ENUM
using Calls = std::array<int, kHandlers>;

struct Connection {
    wxEvtHandler* source;
    wxEventType type;
    Handler handler;
};

/// The layout as the tests see it: counts each handler's calls and lets
/// every event go on.
class SpyLayout : public frm::fb::PropertyDevicePanel {
public:
    explicit SpyLayout(wxWindow* parent) : PropertyDevicePanel(parent) {}
    Calls calls{};
    const frm::fb::EventConnections& connections() const { return m_connections; }

    /// The event table in connection order.
    // clang-format off
    std::vector<Connection> expectedTable() {
        std::vector<Connection> t = {{this, wxEVT_SIZE, k_onSize},
                                     {notebookPref, wxEVT_NOTEBOOK_PAGE_CHANGED, k_notebookPrefOnNotebookPageChanged},
                                     {textName, wxEVT_CHAR, k_onValueChanged},
                                     {checkBoxEqualizer, wxEVT_CHECKBOX, k_onCheckBoxEqualizer},
                                     {sliderTreble, wxEVT_LEFT_UP, k_onLeftUpTrebleSlider},
                                     {sliderBass, wxEVT_LEFT_UP, k_onLeftUpBassSlider}};
        const auto add = [&t](std::initializer_list<Connection> rows) { t.insert(t.end(), rows); };
        for (wxSlider* band : {sliderBand1, sliderBand2, sliderBand3, sliderBand4, sliderBand5, sliderBand6})
            add({{band, wxEVT_LEFT_UP, k_onBandSlider},
                 {band, wxEVT_SCROLL_LINEDOWN, k_onBandSliderScroll},
                 {band, wxEVT_SCROLL_LINEUP, k_onBandSliderScroll}});
        const wxEventType box = wxEVT_CHECKBOX, button = wxEVT_BUTTON, choice = wxEVT_CHOICE;
        add({{buttonResetEq, button, k_resetEqOnButtonClick},      {checkBoxLineControl, box, k_onCheckBoxOption},
             {buttonSetLine, button, k_buttonSetLineOnClick},      {choiceLineMode, choice, k_lineModeOnChoice},
             {checkBoxGong, box, k_onCheckBoxOption},              {comboBoxGong, wxEVT_COMBOBOX, k_onChoiceChanged},
             {checkBoxKeySound, box, k_onCheckBoxOption},          {checkBoxFaultSound, box, k_onCheckBoxOption},
             {checkBoxSinglePowerSource, box, k_onCheckBoxSinglePowerSource},
             {checkBoxAnalogInput, box, k_onCheckBoxOption},       {checkBoxZoneIndication, box, k_onCheckBoxOption},
             {choicePower1, choice, k_powerInputOnChoice},         {choicePower2, choice, k_powerInputOnChoice},
             {choiceTovikType, choice, k_changeTovikTypeOnChoice}, {spinTovikPriority, wxEVT_CHAR, k_fieldOnChar},
             {spinTovikPriority, wxEVT_SPINCTRL, k_fieldOnSpinCtrl},
             {buttonUpdateFirmware, button, k_updateFirmwareOnButtonClick},
             {buttonReboot, button, k_rebootOnClick},
             {textCommand, wxEVT_TEXT_ENTER, k_textDebugExchangeOnPress},
             {buttonExchange, button, k_buttonDebugExchangeOnClick},
             {buttonAddCommand, button, k_exchangeCommandsOnButtonClick},
             {buttonCommandSuite, button, k_manageCommandSuiteOnButtonClick},
             {listCtrlAudioFragment, wxEVT_LEFT_DOWN, k_listCtrlAudioFragmentOnRightDown},
             {listCtrlAudioFragment, wxEVT_LIST_ITEM_DESELECTED, k_listCtrlAudioFragmentOnListItemDeselected},
             {listCtrlAudioFragment, wxEVT_LIST_ITEM_SELECTED, k_listCtrlAudioFragmentOnListItemSelected},
             {listCtrlAudioFragment, wxEVT_RIGHT_DOWN, k_listCtrlAudioFragmentOnRightDown},
             {listCtrlAudioFragment, wxEVT_RIGHT_UP, k_listCtrlAudioFragmentOnRightUp},
             {listCtrlAudioScenario, wxEVT_LIST_ITEM_DESELECTED, k_listCtrlAudioScenarioOnListItemDeselected},
             {listCtrlAudioScenario, wxEVT_LIST_ITEM_SELECTED, k_listCtrlAudioScenarioOnListItemSelected},
             {listCtrlAudioScenario, wxEVT_RIGHT_DOWN, k_listCtrlAudioScenarioOnRightDown},
             {listCtrlAudioScenario, wxEVT_RIGHT_UP, k_listCtrlAudioScenarioOnRightUp},
             {buttonAudioMemory, button, k_audioMemoryOnButtonClick}, {checkBoxLanRedundancy, box, k_onCheckBoxOption},
             {checkBoxDhcp, box, k_onCheckBoxDhcp},                {textIp, wxEVT_CHAR, k_fieldOnChar},
             {textMask, wxEVT_CHAR, k_fieldOnChar},                {textGateway, wxEVT_CHAR, k_fieldOnChar},
             {textMulticastIp, wxEVT_CHAR, k_fieldOnChar},         {spinBasePort, wxEVT_SPINCTRL, k_fieldOnSpinCtrl},
             {checkBoxAllowIp, box, k_onCheckBoxAllowIp},          {textAllowIp, wxEVT_CHAR, k_fieldOnChar},
             {checkBoxIgmp, box, k_onCheckBoxOption},              {spinZarnoAddress, wxEVT_CHAR, k_fieldOnChar},
             {spinZarnoAddress, wxEVT_SPINCTRL, k_zarnoAddressOnSpinCtrl},
             {checkBoxRelayEvents, box, k_relayEventsOnCheckBox},  {checkBoxIsTestZarno, box, k_onCheckBoxIsTestZarno},
             {checkBoxLineRedundancy, box, k_onChoiceChanged},     {checkBoxStreamFromOthers, box, k_onCheckBoxSource},
             {checkBoxForwardInput1, box, k_forwardStreamOnCheckBox},
             {checkBoxForwardInput2, box, k_forwardStreamOnCheckBox},
             {checkBoxAnalogFilter, box, k_onCheckBoxOption},      {choiceFireConsolePriority, choice, k_onChoiceChanged},
             {choiceZarnoMessagesPriority, choice, k_onChoiceChanged},
             {choiceAnalogInput2Priority, choice, k_onChoiceChanged},
             {choiceAnalogInput2Function, choice, k_onChoiceChanged},
             {checkBoxLineIntegrity, box, k_onCheckBoxOption},
             {choiceAnalogInput1Priority, choice, k_onChoiceChanged},
             {choiceAnalogInput1Function, choice, k_onChoiceChanged},
             {choiceAnalogMulticastPriority, choice, k_onChoiceChanged},
             {choiceAnalogConsolePriority, choice, k_onChoiceChanged},
             {choiceAlarmStreamPriority, choice, k_onChoiceChanged},
             {choiceNotificationConsolePriority, choice, k_onChoiceChanged},
             {checkBoxPowerSave, box, k_onCheckBoxPowerSave},      {buttonRebootMaster, button, k_rebootMasterOfTipDevices},
             {buttonAddAllTipDevices, button, k_addAllTipDevices_onButtonClick},
             {buttonResetPref, button, k_resetPrefOnButtonClick},
             {buttonAddOrRemoveTipDevice, button, k_addOrRemoveTipDeviceOnButtonClick},
             {toggleAccessControl, wxEVT_TOGGLEBUTTON, k_accessControlOnToggle},
             {buttonAddPasskey, button, k_addPasskeyOnButtonClick},
             {buttonResetPasskeys, button, k_resetPasskeysOnButtonClick},
             {buttonDeletePasskey, button, k_deletePasskeyOnButtonClick}});
        for (wxWindow* zone : panelZoneButtons->GetChildren()) add({{zone, wxEVT_TOGGLEBUTTON, k_toggleZoneButton}});
        add({{comboBoxZoneMode, wxEVT_COMBOBOX, k_onChoiceChanged},   {buttonRemoveZone, button, k_removeZoneOnButtonClick},
             {buttonResetZones, button, k_resetZonesOnButtonClick},
             {buttonFixZoneIntegrity, button, k_fixZoneIntegrityOnButtonClick},
             {buttonFixLinkIntegrity, button, k_fixZoneIntegrityOnButtonClick},
             {buttonCopyDebug, button, k_copyDebugOnButtonClick},     {choiceRefreshRate, choice, k_refreshRateOnChoice},
             {staticDebugText, wxEVT_ERASE_BACKGROUND, k_eraseTextOnPanel},
             {staticDebugText, wxEVT_PAINT, k_paintTextOnPanel},
             {toggleStopDebug, wxEVT_TOGGLEBUTTON, k_stopDebugOnToggle},
             {buttonClearDebug, button, k_clearDebugOnButtonClick},
             {sliderVolume, wxEVT_SCROLL_CHANGED, k_setVolumeOnScrollChanged},
             {textDebugExchange, wxEVT_TEXT_ENTER, k_textDebugExchangeOnPress},
             {buttonDebugExchange, button, k_buttonDebugExchangeOnClick}});
        for (wxWindow* field : std::initializer_list<wxWindow*>{textName, spinTovikPriority, textIp, textMask,
                                                                textGateway, textMulticastIp, spinBasePort,
                                                                textAllowIp, spinZarnoAddress})
            add({{field, wxEVT_TEXT, k_fieldOnText}});
        add({{buttonApply, button, k_applyOnButtonClick},             {buttonCancel, button, k_cancelOnButtonClick},
             {buttonClose, button, k_closeOnButtonClick}});
        return t;
    }
    // clang-format on

    std::vector<wxMenu*> menus() const { return {menuFragment, menuScenario, menuAudioMemory}; }
    /// Empties the three menus, so that no event makes an opener pop one up.
    void emptyMenus() {
        for (wxMenu* menu : menus())
            while (menu->GetMenuItemCount() > 0) menu->Destroy(menu->FindItemByPosition(0));
    }
    wxWindow* drawingArea() const { return staticDebugText; }

private:
    void hit(Handler handler, wxEvent& event) {
        ++calls[handler];
        event.Skip();
    }
#define SV_OVERRIDE(name, Event) \
    void name(Event& e) override { hit(k_##name, e); }
    SV_HANDLERS(SV_OVERRIDE)
#undef SV_OVERRIDE
};

/// The window class with counters on the handlers the real input reaches.
class CountingPanel : public frm::PropertyDevicePanel {
public:
    CountingPanel(wxWindow* parent, bool debugMode)
        : PropertyDevicePanel(parent, nullptr, nullptr, nullptr, debugMode) {}
    using frm::fb::PropertyDevicePanel::buttonAudioMemory, frm::fb::PropertyDevicePanel::checkBoxIgmp,
        frm::fb::PropertyDevicePanel::comboBoxGong, frm::fb::PropertyDevicePanel::buttonRebootMaster,
        frm::fb::PropertyDevicePanel::listCtrlAudioFragment,
        frm::fb::PropertyDevicePanel::listCtrlAudioScenario, frm::fb::PropertyDevicePanel::menuAudioMemory,
        frm::fb::PropertyDevicePanel::menuFragment, frm::fb::PropertyDevicePanel::menuScenario,
        frm::fb::PropertyDevicePanel::notebookPref, frm::fb::PropertyDevicePanel::panelExchange,
        frm::fb::PropertyDevicePanel::sliderBand1, frm::fb::PropertyDevicePanel::sliderBand6,
        frm::fb::PropertyDevicePanel::spinBasePort, frm::fb::PropertyDevicePanel::staticDebugText;

    int fragmentUp = 0, scenarioUp = 0, cleared = 0, paints = 0;
    /// The items of each list's menu when its right-down handler began (-1: not yet).
    int fragmentItems = -1, scenarioItems = -1;

    void listCtrlAudioFragmentOnRightDown(wxMouseEvent& e) override {
        fragmentItems = static_cast<int>(menuFragment->GetMenuItemCount());
        PropertyDevicePanel::listCtrlAudioFragmentOnRightDown(e);
    }
    void listCtrlAudioFragmentOnRightUp(wxMouseEvent& e) override {
        ++fragmentUp;
        PropertyDevicePanel::listCtrlAudioFragmentOnRightUp(e);
    }
    void listCtrlAudioScenarioOnRightDown(wxMouseEvent& e) override {
        scenarioItems = static_cast<int>(menuScenario->GetMenuItemCount());
        PropertyDevicePanel::listCtrlAudioScenarioOnRightDown(e);
    }
    void listCtrlAudioScenarioOnRightUp(wxMouseEvent& e) override {
        ++scenarioUp;
        PropertyDevicePanel::listCtrlAudioScenarioOnRightUp(e);
    }
    void clearMemory(wxCommandEvent&) override { ++cleared; }
    void paintTextOnPanel(wxPaintEvent& e) override {
        ++paints;
        PropertyDevicePanel::paintTextOnPanel(e);
    }
};

/// The panel and every window in it. The inner windows of a list control
/// pass their mouse events on to it: they count as the list (and the real
/// clicks below go through them).
void collectWindows(wxWindow* window, std::vector<wxWindow*>& all) {
    all.push_back(window);
    if (dynamic_cast<wxListCtrl*>(window) != nullptr) return;
    for (wxWindow* child : window->GetChildren()) collectWindows(child, all);
}

/// An event of `type` in its own class, for `target` alone (not passed on
/// to the parents, where the notebook would take a page event of a page).
std::unique_ptr<wxEvent> makeEvent(wxEventType type, wxWindow* target) {
    std::unique_ptr<wxEvent> event;
    if (type == wxEVT_SIZE)
        event = std::make_unique<wxSizeEvent>(target->GetSize(), target->GetId());
    else if (type == wxEVT_NOTEBOOK_PAGE_CHANGED)
        event = std::make_unique<wxBookCtrlEvent>(type, target->GetId());
    else if (type == wxEVT_CHAR)
        event = std::make_unique<wxKeyEvent>(type);
    else if (type == wxEVT_LEFT_UP || type == wxEVT_LEFT_DOWN || type == wxEVT_RIGHT_DOWN ||
             type == wxEVT_RIGHT_UP)
        event = std::make_unique<wxMouseEvent>(type);
    else if (type == wxEVT_SCROLL_LINEDOWN || type == wxEVT_SCROLL_LINEUP || type == wxEVT_SCROLL_CHANGED)
        event = std::make_unique<wxScrollEvent>(type, target->GetId());
    else if (type == wxEVT_SPINCTRL)
        event = std::make_unique<wxSpinEvent>(type, target->GetId());
    else if (type == wxEVT_LIST_ITEM_SELECTED || type == wxEVT_LIST_ITEM_DESELECTED)
        event = std::make_unique<wxListEvent>(type, target->GetId());
    else if (type == wxEVT_ERASE_BACKGROUND)
        event = std::make_unique<wxEraseEvent>(target->GetId());
    else if (type == wxEVT_PAINT)  // made by the toolkit only: through its class information
        event.reset(static_cast<wxEvent*>(wxCLASSINFO(wxPaintEvent)->CreateObject()));
    else
        event = std::make_unique<wxCommandEvent>(type, target->GetId());
    event->SetEventObject(target);
    event->StopPropagation();
    return event;
}

class PropertyLayout : public ::testing::Test {
protected:
    void TearDown() override {
        if (frame) frame->Destroy();
        runEventLoopUntil([this] { return !frame; });
    }
    // The whole test display: before a device is shown the common page
    // holds every block, the console's and the loudspeaker's.
    wxWeakRef<wxFrame> frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));
};

}  // namespace

TEST_F(PropertyLayout, EveryEventAndMenuItemReachesExactlyItsHandler) {
    auto* layout = new SpyLayout(frame);
    const std::vector<Connection> table = layout->expectedTable();
    ASSERT_EQ(table.size(), 141u);
    const auto& made = layout->connections().connections();
    ASSERT_EQ(made.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_TRUE(made[i].source == table[i].source && made[i].type == table[i].type &&
                    made[i].receiver == static_cast<wxEvtHandler*>(layout))
            << "connection " << i << " is not in the table's order";

    // Menu items 1002-1014: the stop item of both menus has one handler.
    // clang-format off
    const Handler items[] = {k_menuFragmentPlayOnSelection,   k_menuAudioStopOnSelection,
                             k_menuFragmentAddOnSelection,    k_menuFragmentSaveOnSelection,
                             k_menuFragmentDeleteOnSelection, k_menuScenarioAddOnSelection,
                             k_menuScenarioDeleteOnSelection, k_menuScenarioPlayOnSelection,
                             k_menuAudioStopOnSelection,      k_clearMemory,
                             k_revertChanges,                 k_saveImageMemory,
                             k_loadImageMemory};
    // clang-format on
    for (int id = 1002; id <= 1014; ++id) {
        Calls expected{};
        expected[items[id - 1002]] = 1;
        layout->calls = {};
        for (wxMenu* menu : layout->menus())
            if (menu->FindItem(id) != nullptr) menu->SendEvent(id);
        EXPECT_EQ(layout->calls, expected) << "menu item " << id;
    }
    layout->emptyMenus();

    // Every control under every event of the table: the table's handlers,
    // each once, and nothing for the controls the table leaves out. Paints
    // and erases go only where a real one can be drawn.
    std::vector<wxWindow*> windows;
    collectWindows(layout, windows);
    const std::vector<wxEventType> types = {wxEVT_SIZE,
                                            wxEVT_NOTEBOOK_PAGE_CHANGED,
                                            wxEVT_CHAR,
                                            wxEVT_CHECKBOX,
                                            wxEVT_LEFT_UP,
                                            wxEVT_SCROLL_LINEDOWN,
                                            wxEVT_SCROLL_LINEUP,
                                            wxEVT_BUTTON,
                                            wxEVT_CHOICE,
                                            wxEVT_COMBOBOX,
                                            wxEVT_SPINCTRL,
                                            wxEVT_TEXT_ENTER,
                                            wxEVT_TEXT,
                                            wxEVT_LEFT_DOWN,
                                            wxEVT_LIST_ITEM_DESELECTED,
                                            wxEVT_LIST_ITEM_SELECTED,
                                            wxEVT_RIGHT_DOWN,
                                            wxEVT_RIGHT_UP,
                                            wxEVT_TOGGLEBUTTON,
                                            wxEVT_SCROLL_CHANGED,
                                            wxEVT_ERASE_BACKGROUND,
                                            wxEVT_PAINT};
    int routed = 0;
    for (wxWindow* window : windows)
        for (const wxEventType type : types) {
            if ((type == wxEVT_PAINT || type == wxEVT_ERASE_BACKGROUND) && window != layout->drawingArea())
                continue;
            Calls expected{};
            for (const Connection& c : table)
                if (c.source == window && c.type == type) ++expected[c.handler];
            layout->calls = {};
            const auto event = makeEvent(type, window);
            window->GetEventHandler()->ProcessEvent(*event);
            EXPECT_EQ(layout->calls, expected) << window->GetClassInfo()->GetClassName() << " \""
                                               << window->GetLabel() << "\", event type " << type;
            for (const int n : layout->calls) routed += n;
        }
    EXPECT_EQ(routed, 141);

    // The pages and fields by their ids.
    for (int id = 1000; id <= 1032; ++id) {
        const bool menuItem = id >= 1002 && id <= 1014;
        EXPECT_EQ(layout->FindWindow(id) != nullptr, !menuItem) << id;
    }
}

TEST_F(PropertyLayout, ConstructionHidesWhatDebugModeAloneShowsAndSetsTheBands) {
    for (const bool debug : {false, true}) {
        auto* panel = new CountingPanel(frame, debug);
        EXPECT_EQ(panel->panelExchange->IsShown(), debug);
        EXPECT_EQ(panel->buttonRebootMaster->IsShown(), debug);
        EXPECT_EQ(panel->checkBoxIgmp->IsShown(), debug);
        for (wxSlider* band : {panel->sliderBand1, panel->sliderBand6}) {
            EXPECT_EQ(band->GetMin(), -10);
            EXPECT_EQ(band->GetMax(), 0);
            EXPECT_EQ(band->GetValue(), 0);
        }
        EXPECT_EQ(panel->spinBasePort->GetMax(), 65533) << "the stream ports base + 2 stay below 65536";
        panel->Destroy();
    }
}

TEST_F(PropertyLayout, RightClicksOnTheListsLeaveTheirMenusEmptyAndTheMemoryMenuRunsItsItem) {
    auto* panel = new CountingPanel(frame, true);
    frame->Show();
    panel->notebookPref->SetSelection(1);
    for (wxListCtrl* list : {panel->listCtrlAudioFragment, panel->listCtrlAudioScenario})
        list->InsertItem(0, L"1");
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->buttonAudioMemory->IsShownOnScreen(); }));

    wxUIActionSimulator input;
    const auto rightClick = [&input](wxWindow* window) {
        const wxRect rect = window->GetScreenRect();
        input.MouseMove(rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
        input.MouseClick(wxMOUSE_BTN_RIGHT);
    };
    rightClick(panel->listCtrlAudioFragment);
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->fragmentUp == 1; }))
        << "no popup holds the click up";
    EXPECT_EQ(panel->fragmentItems, 5) << "the panel's handler runs before the opener";
    EXPECT_EQ(panel->menuFragment->GetMenuItemCount(), 0u);
    rightClick(panel->listCtrlAudioScenario);
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->scenarioUp == 1; }));
    EXPECT_EQ(panel->scenarioItems, 4);
    EXPECT_EQ(panel->menuScenario->GetMenuItemCount(), 0u);

    // The button's menu opens where the button was pressed; Down and Enter
    // choose its first item.
    bool opened = false, keysSent = false;
    panel->menuAudioMemory->Bind(wxEVT_MENU_OPEN, [&opened](wxMenuEvent& e) {
        opened = true;
        e.Skip();
    });
    rightClick(panel->buttonAudioMemory);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(runEventLoopUntil([&] {
        if (opened && !keysSent) {
            keysSent = true;
            input.MouseMove(frame->GetScreenPosition() + wxPoint(5, 5));  // off the menu: no item under it
            input.Char(WXK_DOWN);
            input.Char(WXK_RETURN);
        } else if (opened && std::chrono::steady_clock::now() - start > std::chrono::seconds(4)) {
            input.Char(WXK_ESCAPE);  // a menu left open would hold the test
        }
        return panel->cleared == 1;
    }));
    EXPECT_TRUE(opened);
}

TEST_F(PropertyLayout, TheDrawingAreaIsPaintedByThePanelAndFilledListsGoCleanly) {
    auto* panel = new CountingPanel(frame, true);
    frame->Show();
    panel->notebookPref->SetSelection(9);
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->staticDebugText->IsShownOnScreen(); }));
    const int before = panel->paints;
    panel->staticDebugText->Refresh();
    panel->staticDebugText->Update();
    EXPECT_TRUE(runEventLoopUntil([&] { return panel->paints > before; }));

    // Rows everywhere, one of them selected; the panel's destruction goes
    // through them without reaching a handler of the half-destroyed panel
    // (a pure virtual call aborts; the address sanitizer build sees more).
    for (int row = 0; row < 20; ++row) {
        for (wxListCtrl* list : {panel->listCtrlAudioFragment, panel->listCtrlAudioScenario}) {
            const long item = list->InsertItem(row, wxString::Format(L"%d", row + 1));
            list->SetItem(item, 1, L"Эвакуация");
        }
        panel->comboBoxGong->Append(wxString::Format(L"%d - Гонг", row + 1));
    }
    panel->listCtrlAudioFragment->SetItemState(3, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    panel->comboBoxGong->SetSelection(2);
    frame->Destroy();
    EXPECT_TRUE(runEventLoopUntil([this] { return !frame; }));
}

TEST_F(PropertyLayout, PicturesOfTheTenPages) {
    auto* panel = new CountingPanel(frame, true);
    const char* const names[] = {"common", "audio_memory", "network", "zarno",           "sources",
                                 "line",   "passkeys",     "zones",   "linked_consoles", "debug"};
    for (std::size_t page = 0; page < 10; ++page) {
        panel->notebookPref->SetSelection(page);
        EXPECT_FALSE(wx_testing::writeShot(frame, std::string("property_page_") + names[page]).empty());
    }
}
