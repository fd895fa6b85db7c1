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

// The layout's 75 handlers in declaration order, with their event classes.
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
    X(cancelOnButtonClick, wxCommandEvent) X(closeOnButtonClick, wxCommandEvent)

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
    std::vector<Connection> expectedTable() {
        std::vector<Connection> t;
        const auto add = [&t](wxEvtHandler* source, wxEventType type, Handler handler) {
            t.push_back({source, type, handler});
        };
        add(this, wxEVT_SIZE, k_onSize);
        add(notebookPref, wxEVT_NOTEBOOK_PAGE_CHANGED, k_notebookPrefOnNotebookPageChanged);
        add(textName, wxEVT_CHAR, k_onValueChanged);
        add(checkBoxEqualizer, wxEVT_CHECKBOX, k_onCheckBoxEqualizer);
        add(sliderTreble, wxEVT_LEFT_UP, k_onLeftUpTrebleSlider);
        add(sliderBass, wxEVT_LEFT_UP, k_onLeftUpBassSlider);
        for (wxSlider* band : {sliderBand1, sliderBand2, sliderBand3, sliderBand4, sliderBand5, sliderBand6}) {
            add(band, wxEVT_LEFT_UP, k_onBandSlider);
            add(band, wxEVT_SCROLL_LINEDOWN, k_onBandSliderScroll);
            add(band, wxEVT_SCROLL_LINEUP, k_onBandSliderScroll);
        }
        add(buttonResetEq, wxEVT_BUTTON, k_resetEqOnButtonClick);
        add(checkBoxLineControl, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(buttonSetLine, wxEVT_BUTTON, k_buttonSetLineOnClick);
        add(choiceLineMode, wxEVT_CHOICE, k_lineModeOnChoice);
        add(checkBoxGong, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(comboBoxGong, wxEVT_COMBOBOX, k_onChoiceChanged);
        add(checkBoxKeySound, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(checkBoxFaultSound, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(checkBoxSinglePowerSource, wxEVT_CHECKBOX, k_onCheckBoxSinglePowerSource);
        add(checkBoxAnalogInput, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(checkBoxZoneIndication, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(choicePower1, wxEVT_CHOICE, k_powerInputOnChoice);
        add(choicePower2, wxEVT_CHOICE, k_powerInputOnChoice);
        add(choiceTovikType, wxEVT_CHOICE, k_changeTovikTypeOnChoice);
        add(spinTovikPriority, wxEVT_CHAR, k_fieldOnChar);
        add(spinTovikPriority, wxEVT_SPINCTRL, k_fieldOnSpinCtrl);
        add(buttonUpdateFirmware, wxEVT_BUTTON, k_updateFirmwareOnButtonClick);
        add(buttonReboot, wxEVT_BUTTON, k_rebootOnClick);
        add(textCommand, wxEVT_TEXT_ENTER, k_textDebugExchangeOnPress);
        add(buttonExchange, wxEVT_BUTTON, k_buttonDebugExchangeOnClick);
        add(buttonAddCommand, wxEVT_BUTTON, k_exchangeCommandsOnButtonClick);
        add(buttonCommandSuite, wxEVT_BUTTON, k_manageCommandSuiteOnButtonClick);
        add(listCtrlAudioFragment, wxEVT_LEFT_DOWN, k_listCtrlAudioFragmentOnRightDown);
        add(listCtrlAudioFragment, wxEVT_LIST_ITEM_DESELECTED, k_listCtrlAudioFragmentOnListItemDeselected);
        add(listCtrlAudioFragment, wxEVT_LIST_ITEM_SELECTED, k_listCtrlAudioFragmentOnListItemSelected);
        add(listCtrlAudioFragment, wxEVT_RIGHT_DOWN, k_listCtrlAudioFragmentOnRightDown);
        add(listCtrlAudioFragment, wxEVT_RIGHT_UP, k_listCtrlAudioFragmentOnRightUp);
        add(listCtrlAudioScenario, wxEVT_LIST_ITEM_DESELECTED, k_listCtrlAudioScenarioOnListItemDeselected);
        add(listCtrlAudioScenario, wxEVT_LIST_ITEM_SELECTED, k_listCtrlAudioScenarioOnListItemSelected);
        add(listCtrlAudioScenario, wxEVT_RIGHT_DOWN, k_listCtrlAudioScenarioOnRightDown);
        add(listCtrlAudioScenario, wxEVT_RIGHT_UP, k_listCtrlAudioScenarioOnRightUp);
        add(buttonAudioMemory, wxEVT_BUTTON, k_audioMemoryOnButtonClick);
        add(checkBoxLanRedundancy, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(checkBoxDhcp, wxEVT_CHECKBOX, k_onCheckBoxDhcp);
        for (wxTextCtrl* field : {textIp, textMask, textGateway, textMulticastIp}) add(field, wxEVT_CHAR, k_fieldOnChar);
        add(spinBasePort, wxEVT_SPINCTRL, k_fieldOnSpinCtrl);
        add(checkBoxAllowIp, wxEVT_CHECKBOX, k_onCheckBoxAllowIp);
        add(textAllowIp, wxEVT_CHAR, k_fieldOnChar);
        add(checkBoxIgmp, wxEVT_CHECKBOX, k_onCheckBoxOption);
        add(spinZarnoAddress, wxEVT_CHAR, k_fieldOnChar);
        add(spinZarnoAddress, wxEVT_SPINCTRL, k_zarnoAddressOnSpinCtrl);
        add(checkBoxRelayEvents, wxEVT_CHECKBOX, k_relayEventsOnCheckBox);
        add(checkBoxIsTestZarno, wxEVT_CHECKBOX, k_onCheckBoxIsTestZarno);
        add(checkBoxLineRedundancy, wxEVT_CHECKBOX, k_onChoiceChanged);
        add(checkBoxStreamFromOthers, wxEVT_CHECKBOX, k_onCheckBoxSource);
        add(checkBoxForwardInput1, wxEVT_CHECKBOX, k_forwardStreamOnCheckBox);
        add(checkBoxForwardInput2, wxEVT_CHECKBOX, k_forwardStreamOnCheckBox);
        add(checkBoxAnalogFilter, wxEVT_CHECKBOX, k_onCheckBoxOption);
        for (wxChoice* choice : {choiceFireConsolePriority, choiceZarnoMessagesPriority, choiceAnalogInput2Priority,
                                 choiceAnalogInput2Function})
            add(choice, wxEVT_CHOICE, k_onChoiceChanged);
        add(checkBoxLineIntegrity, wxEVT_CHECKBOX, k_onCheckBoxOption);
        for (wxChoice* choice : {choiceAnalogInput1Priority, choiceAnalogInput1Function, choiceAnalogMulticastPriority,
                                 choiceAnalogConsolePriority, choiceAlarmStreamPriority,
                                 choiceNotificationConsolePriority})
            add(choice, wxEVT_CHOICE, k_onChoiceChanged);
        add(checkBoxPowerSave, wxEVT_CHECKBOX, k_onCheckBoxPowerSave);
        add(buttonRebootMaster, wxEVT_BUTTON, k_rebootMasterOfTipDevices);
        add(buttonAddAllTipDevices, wxEVT_BUTTON, k_addAllTipDevices_onButtonClick);
        add(buttonResetPref, wxEVT_BUTTON, k_resetPrefOnButtonClick);
        add(buttonAddOrRemoveTipDevice, wxEVT_BUTTON, k_addOrRemoveTipDeviceOnButtonClick);
        add(toggleAccessControl, wxEVT_TOGGLEBUTTON, k_accessControlOnToggle);
        add(buttonAddPasskey, wxEVT_BUTTON, k_addPasskeyOnButtonClick);
        add(buttonResetPasskeys, wxEVT_BUTTON, k_resetPasskeysOnButtonClick);
        add(buttonDeletePasskey, wxEVT_BUTTON, k_deletePasskeyOnButtonClick);
        for (wxWindow* zone : panelZoneButtons->GetChildren()) add(zone, wxEVT_TOGGLEBUTTON, k_toggleZoneButton);
        add(comboBoxZoneMode, wxEVT_COMBOBOX, k_onChoiceChanged);
        add(buttonRemoveZone, wxEVT_BUTTON, k_removeZoneOnButtonClick);
        add(buttonResetZones, wxEVT_BUTTON, k_resetZonesOnButtonClick);
        add(buttonFixZoneIntegrity, wxEVT_BUTTON, k_fixZoneIntegrityOnButtonClick);
        add(buttonFixLinkIntegrity, wxEVT_BUTTON, k_fixZoneIntegrityOnButtonClick);
        add(buttonCopyDebug, wxEVT_BUTTON, k_copyDebugOnButtonClick);
        add(choiceRefreshRate, wxEVT_CHOICE, k_refreshRateOnChoice);
        add(staticDebugText, wxEVT_ERASE_BACKGROUND, k_eraseTextOnPanel);
        add(staticDebugText, wxEVT_PAINT, k_paintTextOnPanel);
        add(toggleStopDebug, wxEVT_TOGGLEBUTTON, k_stopDebugOnToggle);
        add(buttonClearDebug, wxEVT_BUTTON, k_clearDebugOnButtonClick);
        add(sliderVolume, wxEVT_SCROLL_CHANGED, k_setVolumeOnScrollChanged);
        add(textDebugExchange, wxEVT_TEXT_ENTER, k_textDebugExchangeOnPress);
        add(buttonDebugExchange, wxEVT_BUTTON, k_buttonDebugExchangeOnClick);
        add(buttonApply, wxEVT_BUTTON, k_applyOnButtonClick);
        add(buttonCancel, wxEVT_BUTTON, k_cancelOnButtonClick);
        add(buttonClose, wxEVT_BUTTON, k_closeOnButtonClick);
        return t;
    }

    /// Each menu item with the handler it must reach.
    std::vector<std::pair<wxMenu*, std::pair<int, Handler>>> menuItems() const {
        return {{menuFragment, {1002, k_menuFragmentPlayOnSelection}},
                {menuFragment, {1003, k_menuAudioStopOnSelection}},
                {menuFragment, {1004, k_menuFragmentAddOnSelection}},
                {menuFragment, {1005, k_menuFragmentSaveOnSelection}},
                {menuFragment, {1006, k_menuFragmentDeleteOnSelection}},
                {menuScenario, {1007, k_menuScenarioAddOnSelection}},
                {menuScenario, {1008, k_menuScenarioDeleteOnSelection}},
                {menuScenario, {1009, k_menuScenarioPlayOnSelection}},
                {menuScenario, {1010, k_menuAudioStopOnSelection}},
                {menuAudioMemory, {1011, k_clearMemory}},
                {menuAudioMemory, {1012, k_revertChanges}},
                {menuAudioMemory, {1013, k_saveImageMemory}},
                {menuAudioMemory, {1014, k_loadImageMemory}}};
    }
    /// Empties the three menus, so that no event makes an opener pop one up.
    void emptyMenus() {
        for (wxMenu* menu : {menuFragment, menuScenario, menuAudioMemory})
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
    CountingPanel(wxWindow* parent, bool debugMode) : PropertyDevicePanel(parent, nullptr, nullptr, nullptr, debugMode) {}
    using frm::fb::PropertyDevicePanel::buttonAudioMemory, frm::fb::PropertyDevicePanel::checkBoxIgmp,
        frm::fb::PropertyDevicePanel::comboBoxGong, frm::fb::PropertyDevicePanel::buttonRebootMaster,
        frm::fb::PropertyDevicePanel::listCtrlAudioFragment, frm::fb::PropertyDevicePanel::listCtrlAudioScenario,
        frm::fb::PropertyDevicePanel::menuAudioMemory, frm::fb::PropertyDevicePanel::menuFragment,
        frm::fb::PropertyDevicePanel::menuScenario, frm::fb::PropertyDevicePanel::notebookPref,
        frm::fb::PropertyDevicePanel::panelExchange, frm::fb::PropertyDevicePanel::sliderBand1,
        frm::fb::PropertyDevicePanel::sliderBand6, frm::fb::PropertyDevicePanel::spinBasePort,
        frm::fb::PropertyDevicePanel::staticDebugText;

    int fragmentDown = 0, fragmentUp = 0, scenarioDown = 0, scenarioUp = 0, cleared = 0, paints = 0;
    std::size_t fragmentItemsBefore = 0;

    void listCtrlAudioFragmentOnRightDown(wxMouseEvent& e) override {
        fragmentItemsBefore = menuFragment->GetMenuItemCount();
        ++fragmentDown;
        PropertyDevicePanel::listCtrlAudioFragmentOnRightDown(e);
    }
    void listCtrlAudioFragmentOnRightUp(wxMouseEvent& e) override {
        ++fragmentUp;
        PropertyDevicePanel::listCtrlAudioFragmentOnRightUp(e);
    }
    void listCtrlAudioScenarioOnRightDown(wxMouseEvent& e) override {
        ++scenarioDown;
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
    if (wxDynamicCast(window, wxListCtrl) != nullptr) return;
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
    else if (type == wxEVT_LEFT_UP || type == wxEVT_LEFT_DOWN || type == wxEVT_RIGHT_DOWN || type == wxEVT_RIGHT_UP)
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
    ASSERT_EQ(table.size(), 132u);
    const auto& made = layout->connections().connections();
    ASSERT_EQ(made.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_TRUE(made[i].source == table[i].source && made[i].type == table[i].type &&
                    made[i].receiver == static_cast<wxEvtHandler*>(layout))
            << "connection " << i << " is not in the table's order";

    for (const auto& item : layout->menuItems()) {
        ASSERT_NE(item.first->FindItem(item.second.first), nullptr) << item.second.first;
        layout->calls = {};
        item.first->SendEvent(item.second.first);
        Calls expected{};
        expected[item.second.second] = 1;
        EXPECT_EQ(layout->calls, expected) << "menu item " << item.second.first;
    }
    layout->emptyMenus();

    // Every control under every event of the table: the table's handlers,
    // each once, and nothing for the controls the table leaves out. Paints
    // and erases go only where a real one can be drawn.
    std::vector<wxWindow*> windows;
    collectWindows(layout, windows);
    const std::vector<wxEventType> types = {
        wxEVT_SIZE,          wxEVT_NOTEBOOK_PAGE_CHANGED, wxEVT_CHAR,          wxEVT_CHECKBOX,
        wxEVT_LEFT_UP,       wxEVT_SCROLL_LINEDOWN,       wxEVT_SCROLL_LINEUP, wxEVT_BUTTON,
        wxEVT_CHOICE,        wxEVT_COMBOBOX,              wxEVT_SPINCTRL,      wxEVT_TEXT_ENTER,
        wxEVT_LEFT_DOWN,     wxEVT_LIST_ITEM_DESELECTED,  wxEVT_LIST_ITEM_SELECTED,
        wxEVT_RIGHT_DOWN,    wxEVT_RIGHT_UP,              wxEVT_TOGGLEBUTTON,  wxEVT_SCROLL_CHANGED,
        wxEVT_ERASE_BACKGROUND, wxEVT_PAINT};
    int routed = 0;
    for (wxWindow* window : windows)
        for (const wxEventType type : types) {
            if ((type == wxEVT_PAINT || type == wxEVT_ERASE_BACKGROUND) && window != layout->drawingArea()) continue;
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
    EXPECT_EQ(routed, 132);

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
        EXPECT_EQ(panel->listCtrlAudioFragment->GetColumnCount(), 4);
        EXPECT_EQ(panel->listCtrlAudioScenario->GetColumnCount(), 5);
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
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->fragmentUp == 1; })) << "no popup holds the click up";
    EXPECT_EQ(panel->fragmentDown, 1);
    EXPECT_EQ(panel->fragmentItemsBefore, 5u) << "the panel's handler runs before the opener";
    EXPECT_EQ(panel->menuFragment->GetMenuItemCount(), 0u);
    rightClick(panel->listCtrlAudioScenario);
    ASSERT_TRUE(runEventLoopUntil([panel] { return panel->scenarioUp == 1; }));
    EXPECT_EQ(panel->scenarioDown, 1);
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
    const char* const names[] = {"common", "audio_memory", "network", "zarno", "sources",
                                 "line",   "passkeys",     "zones",   "linked_consoles", "debug"};
    for (std::size_t page = 0; page < 10; ++page) {
        panel->notebookPref->SetSelection(page);
        EXPECT_FALSE(wx_testing::writeShot(frame, std::string("property_page_") + names[page]).empty());
    }
}
