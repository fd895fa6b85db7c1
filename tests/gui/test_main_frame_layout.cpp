// The main window's layout routes each event of its table to exactly its
// handler operation (the window class's implementation), and nothing once
// the connections are undone or the window is gone. The activity filter
// records the operator's key and mouse presses.
// ctest-labels: input
#include <gtest/gtest.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <array>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "gui/activity_filter.h"
#include "gui/layout/main_frame.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/screenshot.h"

namespace {

using wx_testing::runEventLoopUntil;

// clang-format off
enum Handler {
    kOnClose, kActivity, kPlaylist, kRadio, kDrives, kScheduler, kMicrophone, kServiceMessage, kAlarm,
    kPlayGong, kPlayAlarm, kLogo, kZone, kAction, kExecute, kZoneManagement, kHandlers
};
// clang-format on
using Calls = std::array<int, kHandlers>;

struct Connection {
    wxEvtHandler* source;
    wxEventType type;
    Handler handler;
};

/// The window class as the tests see it: counts the calls of each handler
/// operation and lets every event go on, as onUserActivity must.
class SpyFrame : public frm::fb::MainFrame {
public:
    SpyFrame() : MainFrame(nullptr, wxID_ANY, L"Сонвар") {}

    Calls calls{};
    std::vector<Handler> order;
    using MainFrame::contentPanel;
    using MainFrame::logoVarko;
    using MainFrame::radio;
    frm::fb::EventConnections& connections() { return m_connections; }

    /// The event table of the main window, in connection order.
    std::vector<Connection> expectedTable() {
        std::vector<Connection> table;
        const auto activity = [&table](wxWindow* source) {
            for (const wxEventType type : frm::fb::EventConnections::userActivityEvents())
                table.push_back({source, type, kActivity});
        };
        const auto event = [&table](wxWindow* source, wxEventType type, Handler handler) {
            table.push_back({source, type, handler});
        };
        event(this, wxEVT_CLOSE_WINDOW, kOnClose);
        activity(this);
        activity(topPanel);
        const std::pair<wxWindow*, Handler> pages[] = {
            {playlist, kPlaylist},   {radio, kRadio},           {drives, kDrives},
            {scheduler, kScheduler}, {microphone, kMicrophone}, {serviceMessage, kServiceMessage},
            {alarm, kAlarm}};
        for (const auto& page : pages) {
            activity(page.first);
            event(page.first, wxEVT_TOGGLEBUTTON, page.second);
        }
        activity(alarmPanel);
        event(playGong, wxEVT_BUTTON, kPlayGong);
        activity(playGong);
        event(playAlarm, wxEVT_BUTTON, kPlayAlarm);
        activity(playAlarm);
        event(logoVarko, wxEVT_LEFT_UP, kLogo);
        activity(logoVarko);
        activity(allZones);
        event(allZones, wxEVT_TOGGLEBUTTON, kZone);
        activity(zoneList);
        activity(zoneRowToggle);
        event(zoneRowToggle, wxEVT_TOGGLEBUTTON, kZone);
        activity(zoneControlPanel);
        event(action, wxEVT_RADIOBOX, kAction);
        event(execute, wxEVT_BUTTON, kExecute);
        event(zoneManagement, wxEVT_BUTTON, kZoneManagement);
        activity(zoneManagement);
        activity(contentPanel);
        return table;
    }

private:
    void hit(Handler handler, wxEvent& event) {
        ++calls[handler];
        order.push_back(handler);
        event.Skip();
    }
    void OnClose(wxCloseEvent&) override { ++calls[kOnClose]; }  // a skipped close would destroy the frame
    void onUserActivity(wxMouseEvent& e) override { hit(kActivity, e); }
    void playlistOnButtonClick(wxCommandEvent& e) override { hit(kPlaylist, e); }
    void radioOnButtonClick(wxCommandEvent& e) override { hit(kRadio, e); }
    void drivesOnButtonClick(wxCommandEvent& e) override { hit(kDrives, e); }
    void schedulerOnButtonClick(wxCommandEvent& e) override { hit(kScheduler, e); }
    void microphoneOnButtonClick(wxCommandEvent& e) override { hit(kMicrophone, e); }
    void serviceMessageOnButtonClick(wxCommandEvent& e) override { hit(kServiceMessage, e); }
    void alarmOnButtonClick(wxCommandEvent& e) override { hit(kAlarm, e); }
    void playGongOnButtonClick(wxCommandEvent& e) override { hit(kPlayGong, e); }
    void playAlarmOnButtonClick(wxCommandEvent& e) override { hit(kPlayAlarm, e); }
    void logoVarkoOnLeftUp(wxMouseEvent& e) override { hit(kLogo, e); }
    void zoneOnButtonClick(wxCommandEvent& e) override { hit(kZone, e); }
    void actionOnRadioBox(wxCommandEvent& e) override { hit(kAction, e); }
    void executeOnButtonClick(wxCommandEvent& e) override { hit(kExecute, e); }
    void zoneManagementOnButtonClick(wxCommandEvent& e) override { hit(kZoneManagement, e); }
};

/// The frame and every window in it: the 29 controls, the nine unconnected
/// ones included.
void collectWindows(wxWindow* window, std::vector<wxWindow*>& all) {
    all.push_back(window);
    for (wxWindow* child : window->GetChildren()) collectWindows(child, all);
}

std::vector<wxEventType> everyEventType() {
    std::vector<wxEventType> types = frm::fb::EventConnections::userActivityEvents();
    types.insert(types.end(), {wxEVT_TOGGLEBUTTON, wxEVT_BUTTON, wxEVT_RADIOBOX, wxEVT_CLOSE_WINDOW});
    return types;
}

/// Fires one event at a window through its own event handling.
void fire(wxWindow* target, wxEventType type) {
    std::unique_ptr<wxEvent> event;
    if (type == wxEVT_CLOSE_WINDOW)
        event = std::make_unique<wxCloseEvent>(type, target->GetId());
    else if (type == wxEVT_TOGGLEBUTTON || type == wxEVT_BUTTON || type == wxEVT_RADIOBOX)
        event = std::make_unique<wxCommandEvent>(type, target->GetId());
    else
        event = std::make_unique<wxMouseEvent>(type);
    event->SetEventObject(target);
    target->HandleWindowEvent(*event);
}

class MainFrameLayout : public ::testing::Test {
protected:
    void TearDown() override {
        if (frame) frame->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
    }
    wxWeakRef<SpyFrame> frame = new SpyFrame;
};

}  // namespace

TEST_F(MainFrameLayout, EveryEventOfTheTableReachesExactlyItsHandlersAndNothingAfterDisconnection) {
    const std::vector<Connection> table = frame->expectedTable();
    ASSERT_EQ(table.size(), 377u);
    const auto& made = frame->connections().connections();
    ASSERT_EQ(made.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_TRUE(made[i].source == table[i].source && made[i].type == table[i].type &&
                    made[i].receiver == static_cast<wxEvtHandler*>(frame.get()))
            << "connection " << i << " is not in the table's order";

    std::vector<wxWindow*> windows;
    collectWindows(frame, windows);
    ASSERT_EQ(windows.size(), 30u);
    int routed = 0;
    for (wxWindow* window : windows) {
        for (const wxEventType type : everyEventType()) {
            Calls expected{};
            for (const Connection& c : table)
                if (c.source == window && c.type == type) ++expected[c.handler];
            frame->calls = {};
            fire(window, type);
            EXPECT_EQ(frame->calls, expected)
                << "window " << window->GetName() << " \"" << window->GetLabel() << "\", event type " << type;
            for (const int n : frame->calls) routed += n;
        }
    }
    EXPECT_EQ(routed, 377);

    frame->connections().disconnectAll();
    EXPECT_EQ(frame->connections().count(), 0u);
    frame->calls = {};
    for (wxWindow* window : windows)
        for (const wxEventType type : everyEventType()) fire(window, type);
    EXPECT_EQ(frame->calls, Calls{});
}

TEST_F(MainFrameLayout, RealClicksReachTheirHandlersAndTheDestroyedWindowIsNeverCalled) {
    wxBitmap logo(96, 40);  // the window class sets the maker's logo
    frame->logoVarko->SetBitmap(logo);
    frame->Layout();
    const std::string shot = wx_testing::writeShot(frame, "main_frame_layout");
    EXPECT_FALSE(shot.empty());

    wxUIActionSimulator input;
    const auto clickOn = [&](wxWindow* window) {
        frame->calls = {};
        frame->order.clear();
        input.MouseMove(window->GetScreenRect().GetPosition() + window->GetSize() / 2);
        ASSERT_TRUE(runEventLoopUntil([&] { return frame->calls[kActivity] > 0; }));  // the pointer arrived
        frame->order.clear();
        input.MouseClick();
    };

    clickOn(frame->radio);
    EXPECT_TRUE(runEventLoopUntil([&] { return frame->calls[kRadio] == 1; }));
    EXPECT_TRUE(frame->radio->GetValue());

    clickOn(frame->logoVarko);
    ASSERT_TRUE(runEventLoopUntil([&] { return frame->calls[kLogo] == 1; }));
    // The press and the release each reach onUserActivity; the release runs
    // the later-connected onUserActivity first, then the logo's handler.
    const std::vector<Handler> pressAndRelease = {kActivity, kActivity, kLogo};
    ASSERT_GE(frame->order.size(), pressAndRelease.size());
    EXPECT_EQ(std::vector<Handler>(frame->order.begin(), frame->order.begin() + 3), pressAndRelease);

    // The toolkit may deliver events to the controls while it destroys the
    // window: the frame's own destroy event comes after the layout's
    // destructor and before the controls go. What reaches a control then
    // must find no connection to the half-destroyed layout (a call would hit
    // a pure virtual operation; the address sanitizer build sees any use of
    // freed controls).
    wxWeakRef<wxWindow> content = frame->contentPanel;
    const wxWindow* const window = frame;
    bool firedWhileDestroyed = false;
    frame->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == window && content) {
            for (const wxEventType type : everyEventType()) fire(content, type);
            firedWhileDestroyed = true;
        }
        event.Skip();
    });
    input.MouseMove(frame->contentPanel->GetScreenRect().GetPosition() + wxPoint(20, 20));
    frame->Destroy();
    EXPECT_TRUE(runEventLoopUntil([&] { return !frame; }));
    EXPECT_TRUE(firedWhileDestroyed);
}

TEST(ActivityFilter, KeyAndMousePressesAndMotionAreRecordedAndEveryEventGoesOn) {
    std::vector<std::int64_t> recorded;
    frm::ActivityFilter filter([&](std::int64_t now) { recorded.push_back(now); });
    wxEvtHandler::AddFilter(&filter);
    wxEvtHandler target;
    int delivered = 0;
    target.Bind(wxEVT_LEFT_UP, [&](wxMouseEvent&) { ++delivered; });
    target.Bind(wxEVT_KEY_DOWN, [&](wxKeyEvent&) { ++delivered; });

    const std::int64_t before = nowMicroseconds();
    for (const wxEventType type : {wxEVT_MOTION, wxEVT_LEFT_DOWN, wxEVT_RIGHT_DOWN, wxEVT_MIDDLE_DOWN,
                                   wxEVT_LEFT_UP, wxEVT_MOUSEWHEEL, wxEVT_LEFT_DCLICK}) {
        wxMouseEvent event(type);
        target.ProcessEvent(event);
    }
    for (const wxEventType type : {wxEVT_KEY_DOWN, wxEVT_KEY_UP}) {
        wxKeyEvent event(type);
        target.ProcessEvent(event);
    }
    wxEvtHandler::RemoveFilter(&filter);

    ASSERT_EQ(recorded.size(), 5u);  // motion, three presses, key down
    EXPECT_TRUE(recorded.front() >= before && recorded.back() <= nowMicroseconds());
    EXPECT_EQ(delivered, 2);
}
