// ctest-labels: net input
// The fragment and scenario menus of the audio-memory page as real right
// clicks (XTest) open them: their items by the device's kind, the selection,
// pending edits and playback; an item chosen with the keys acts on the
// device; a console that plays gets no menu; the menus keep only the items
// of their last showing. The menu pops up when the device has said whether
// it plays.
#include <gtest/gtest.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "tests/device/memory/memory_test_support.h"
#include "tests/gui/memory_page_site.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/tovik_config_model.h"

using Labels = std::vector<wxString>;

namespace {

enum Device : unsigned { kSpeaker = 1, kConsole };

/// The panel with counters on the release handlers.
class ClickPanel : public memory_site::Panel {
public:
    using F::menuFragmentAdd, F::menuFragmentDelete, F::menuFragmentPlay, F::menuFragmentSave,
        F::menuFragmentStop, F::menuScenarioAdd, F::menuScenarioDelete, F::menuScenarioPlay,
        F::menuScenarioStop;
    using memory_site::Panel::Panel;
    int releases = 0;

    void listCtrlAudioFragmentOnRightUp(wxMouseEvent& event) override {
        ++releases;
        Panel::listCtrlAudioFragmentOnRightUp(event);
    }
    void listCtrlAudioScenarioOnRightUp(wxMouseEvent& event) override {
        ++releases;
        Panel::listCtrlAudioScenarioOnRightUp(event);
    }
};

class MemoryMenus : public memory_site::Site {
protected:
    void SetUp() override {
        start("127.32.");
        store = addMemory(addSpeaker(kSpeaker, 18), device::memory::kLayout611, 256 * 1024,
                          memory_test::plantedImage(device::memory::kLayout611, 3, 1000));
        consoleStore = addMemory(add(kConsole, std::make_unique<device::sim::TovikConfigModel>(
                                                   device::sim::Simulator::hardwareAddress(kConsole))),
                                 device::memory::kLayout611, 256 * 1024,
                                 memory_test::plantedImage(device::memory::kLayout611, 2, 700));
        runDevices();
        panel = new ClickPanel(frame, collection, nullptr, transport, false);
        frame->Show();
    }

    /// Right-clicks at the screen point, reads the menu's items while it is
    /// open, then types the keys (Escape closes it). Nothing when no menu
    /// opens.
    Labels popup(wxListCtrl* list, const wxPoint& at, std::vector<int> keys = {WXK_ESCAPE}) {
        wxMenu* menu = list == panel->listCtrlAudioFragment ? panel->menuFragment : panel->menuScenario;
        Labels shown;
        bool opened = false, closed = false;
        wxTimer typist;
        typist.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            for (const int code : keys) input.Char(code);
        });
        const auto onOpen = [&](wxMenuEvent& event) {
            event.Skip();
            if (opened) return;
            opened = true;
            for (const wxMenuItem* item : menu->GetMenuItems()) shown.push_back(item->GetItemLabelText());
            typist.StartOnce(150);  // the menu runs a loop of its own
        };
        const auto onClose = [&](wxMenuEvent& event) {
            event.Skip();
            closed = opened;
        };
        menu->Bind(wxEVT_MENU_OPEN, onOpen);
        menu->Bind(wxEVT_MENU_CLOSE, onClose);
        const int releases = panel->releases;
        input.MouseMove(at);
        wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
        input.MouseClick(wxMOUSE_BTN_RIGHT);
        // The menu pops up once the device has told whether it plays.
        EXPECT_TRUE(wx_testing::runEventLoopUntil(
            [&] { return panel->releases > releases && !panel->working() && (closed || !opened); }));
        wx_testing::runEventLoopFor(std::chrono::milliseconds(100));  // a late popup would show here
        EXPECT_EQ(opened, closed);
        menu->Unbind(wxEVT_MENU_OPEN, onOpen);
        menu->Unbind(wxEVT_MENU_CLOSE, onClose);
        return shown;
    }
    static wxPoint onRow(wxListCtrl* list, long row) {
        wxRect rect;
        list->GetItemRect(row, rect);
        return list->ClientToScreen(wxPoint(rect.x + 10, rect.y + rect.height / 2));
    }
    static wxPoint belowRows(wxListCtrl* list) {
        const wxRect rect = list->GetScreenRect();
        return {rect.x + 40, rect.GetBottom() - 20};
    }
    void show(Device n) {
        panel->showMemory(device(n));
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [this] { return panel->listCtrlAudioFragment->IsShownOnScreen(); }));
    }

    std::shared_ptr<device::sim::AudioMemoryStore> store, consoleStore;
    ClickPanel* panel = nullptr;
    wxUIActionSimulator input;
};

const wxString kPlay = L"Воспроизвести", kStop = L"Остановить", kAdd = L"Добавить", kSave = L"Сохранить",
               kDelete = L"Удалить";

}  // namespace

TEST_F(MemoryMenus, TheFragmentMenuOfALoudspeakerByItsState) {
    show(kSpeaker);
    wxListCtrl* list = panel->listCtrlAudioFragment;
    EXPECT_EQ(popup(list, belowRows(list)), Labels{kAdd});
    EXPECT_EQ(popup(list, onRow(list, 1)), (Labels{kPlay, kAdd, kSave, kDelete}))
        << "the click selects the row";
    EXPECT_EQ(panel->selectedFragment(), 11);
    // Only the items of this showing are in the menu, under the layout's names.
    EXPECT_EQ(panel->menuFragment->GetMenuItemCount(), 4u);
    EXPECT_EQ(panel->menuFragment->FindItem(panel->ID_MENU_FRAGMENT_PLAY), panel->menuFragmentPlay);
    EXPECT_EQ(panel->menuFragmentStop, nullptr);

    // Play chosen with the keys plays on the device.
    popup(list, onRow(list, 1), {WXK_DOWN, WXK_RETURN});
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return store->state() == "fragment 11"; }));
    EXPECT_EQ(popup(list, onRow(list, 2)), Labels{kStop}) << "the device plays";
    popup(list, onRow(list, 2), {WXK_DOWN, WXK_RETURN});
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return store->state() == "idle"; }));

    // Pending edits: the device would play what it holds, not what is shown.
    panel->m_audioControl->removeScenario(5);
    EXPECT_EQ(popup(list, onRow(list, 0)), (Labels{kAdd, kSave, kDelete}));
}

TEST_F(MemoryMenus, TheScenarioMenuOfALoudspeakerByItsState) {
    show(kSpeaker);
    wxListCtrl* list = panel->listCtrlAudioScenario;
    EXPECT_EQ(popup(list, belowRows(list)), Labels{kAdd});
    EXPECT_EQ(popup(list, onRow(list, 0)), (Labels{kPlay, kDelete, kAdd}));
    popup(list, onRow(list, 0), {WXK_DOWN, WXK_RETURN});
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return store->state() == "scenario 5"; }));
    EXPECT_EQ(popup(list, onRow(list, 0)), Labels{kStop});
    EXPECT_EQ(panel->menuScenario->GetMenuItemCount(), 1u);
    EXPECT_EQ(panel->menuScenarioPlay, nullptr);
}

TEST_F(MemoryMenus, AConsoleIsNeverOfferedPlayOrStop) {
    show(kConsole);
    EXPECT_EQ(popup(panel->listCtrlAudioFragment, onRow(panel->listCtrlAudioFragment, 0)),
              (Labels{kAdd, kSave, kDelete}));
    // (A console keeps no scenarios; its page need not show their list.)
    consoleStore->setState("fragment 10");
    EXPECT_TRUE(popup(panel->listCtrlAudioFragment, onRow(panel->listCtrlAudioFragment, 1)).empty());
    EXPECT_EQ(panel->menuFragment->GetMenuItemCount(), 0u);
}
