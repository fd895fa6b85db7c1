// The small dialogs' layouts route each event of their tables to exactly
// their handler operation (the window class's implementation); where a
// layout gives its handlers bodies of its own, an un-overridden handler lets
// the event go on to the dialog. Each dialog is written to build/shots/.
#include <gtest/gtest.h>
#include <wx/weakref.h>

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "gui/layout/about_dialog.h"
#include "gui/layout/capture_device_dialog.h"
#include "gui/layout/cmd_suite_dialog.h"
#include "gui/layout/fragment_dialog.h"
#include "gui/layout/lock_dialog.h"
#include "gui/layout/progress_bar_dialog.h"
#include "gui/layout/scenario_dialog.h"
#include "gui/layout/url_dialog.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/screenshot.h"

namespace {

/// An event table: the window and event type that reach each handler
/// operation, in the layout's order of the handlers.
using Table = std::vector<std::pair<wxWindow*, wxEventType>>;

/// A layout whose handler operations count their calls by their index. A
/// spy handles its events fully (no Skip), so nothing reaches the dialog's
/// own defaults.
template <class Layout>
class Spy : public Layout {
public:
    template <class... Args>
    explicit Spy(Args... args) : Layout(nullptr, args...) {}
    std::map<int, int> calls;

protected:
    void hit(int handler) { ++calls[handler]; }
};

class AboutSpy : public Spy<frm::fb::AboutDialog> {
public:
    Table table() {
        return {
            {text, wxEVT_LEFT_UP}, {text, wxEVT_TEXT_URL}, {help, wxEVT_BUTTON}, {checkUpdate, wxEVT_BUTTON}};
    }
    void textOnLeftUp(wxMouseEvent&) override { hit(0); }
    void textOnTextUrl(wxTextUrlEvent&) override { hit(1); }
    void helpOnButtonClick(wxCommandEvent&) override { hit(2); }
    void checkUpdateOnButtonClick(wxCommandEvent&) override { hit(3); }
};

class CaptureDeviceSpy : public Spy<frm::fb::CaptureDeviceDialog> {
public:
    Table table() { return {{buttonOk, wxEVT_BUTTON}, {cancel, wxEVT_BUTTON}}; }
    void buttonOkOnClick(wxCommandEvent&) override { hit(0); }
    void cancelOnButtonClick(wxCommandEvent&) override { hit(1); }
};

class UrlSpy : public Spy<frm::fb::UrlDialog> {
public:
    Table table() { return {{ok, wxEVT_BUTTON}, {cancel, wxEVT_BUTTON}}; }
    void okOnButtonClick(wxCommandEvent&) override { hit(0); }
    void cancelOnButtonClick(wxCommandEvent&) override { hit(1); }
};

class FragmentSpy : public Spy<frm::fb::FragmentDialog> {
public:
    Table table() { return {{file, wxEVT_BUTTON}, {save, wxEVT_BUTTON}, {cancel, wxEVT_BUTTON}}; }
    void fileOnButtonClick(wxCommandEvent&) override { hit(0); }
    void saveOnButtonClick(wxCommandEvent&) override { hit(1); }
    void cancelOnButtonClick(wxCommandEvent&) override { hit(2); }
};

class ScenarioSpy : public Spy<frm::fb::ScenarioDialog> {
public:
    Table table() { return {{fragment, wxEVT_CHOICE}, {save, wxEVT_BUTTON}, {cancel, wxEVT_BUTTON}}; }
    void fragmentOnChoice(wxCommandEvent&) override { hit(0); }
    void saveOnButtonClick(wxCommandEvent&) override { hit(1); }
    void cancelOnButtonClick(wxCommandEvent&) override { hit(2); }
};

class LockSpy : public Spy<frm::fb::LockDialog> {
public:
    LockSpy() : Spy(wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(410, 240)) {}
    Table table() { return {{this, wxEVT_CLOSE_WINDOW}, {unlock, wxEVT_BUTTON}}; }
    void OnClose(wxCloseEvent&) override { hit(0); }
    void unlockOnButtonClick(wxCommandEvent&) override { hit(1); }
};

class CmdSuiteSpy : public Spy<frm::fb::CmdSuiteDialog> {
public:
    Table table() {
        return {
            {clear, wxEVT_BUTTON}, {deleteButton, wxEVT_BUTTON}, {apply, wxEVT_BUTTON}, {save, wxEVT_BUTTON}};
    }
    void clearOnButtonClick(wxCommandEvent&) override { hit(0); }
    void deleteOnButtonClick(wxCommandEvent&) override { hit(1); }
    void applyOnButtonClick(wxCommandEvent&) override { hit(2); }
    void saveOnButtonClick(wxCommandEvent&) override { hit(3); }
};

void collectWindows(wxWindow* window, std::vector<wxWindow*>& all) {
    all.push_back(window);
    for (wxWindow* child : window->GetChildren()) collectWindows(child, all);
}

/// Fires one event at a window through its own event handling.
void fire(wxWindow* target, wxEventType type) {
    std::unique_ptr<wxEvent> event;
    if (type == wxEVT_CLOSE_WINDOW)
        event = std::make_unique<wxCloseEvent>(type, target->GetId());
    else if (type == wxEVT_BUTTON || type == wxEVT_CHOICE)
        event = std::make_unique<wxCommandEvent>(type, target->GetId());
    else if (type == wxEVT_TEXT_URL)
        event = std::make_unique<wxTextUrlEvent>(target->GetId(), wxMouseEvent(wxEVT_LEFT_UP), 0, 1);
    else
        event = std::make_unique<wxMouseEvent>(type);
    event->SetEventObject(target);
    target->HandleWindowEvent(*event);
}

/// Writes the dialog's picture, then fires every event type of `types` at
/// every window of the dialog: each reaches exactly the handlers that the
/// dialog's table names for it.
template <class Dialog>
void checkRouting(const std::string& shot, const std::vector<wxEventType>& types) {
    wxWeakRef<Dialog> dialog = new Dialog;
    EXPECT_FALSE(wx_testing::writeShot(dialog, shot).empty());

    const Table table = dialog->table();
    std::vector<wxWindow*> windows;
    collectWindows(dialog, windows);
    std::size_t routed = 0;
    for (wxWindow* window : windows)
        for (const wxEventType type : types) {
            std::map<int, int> expected;
            for (std::size_t handler = 0; handler < table.size(); ++handler)
                if (table[handler] == std::make_pair(window, type)) ++expected[static_cast<int>(handler)];
            dialog->calls.clear();
            fire(window, type);
            EXPECT_EQ(dialog->calls, expected)
                << shot << ": window \"" << window->GetLabel() << "\", event type " << type;
            routed += dialog->calls.size();
        }
    EXPECT_EQ(routed, table.size()) << shot;

    dialog->Destroy();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !dialog; }));
}

/// Clicks every button of a layout whose handlers keep their own bodies:
/// each click goes on to the dialog.
template <class Layout>
void expectClicksGoOn(std::size_t buttonCount) {
    wxWeakRef<Layout> dialog = new Layout(nullptr);
    std::vector<wxObject*> buttons, reached;
    for (wxWindow* child : dialog->GetChildren())
        if (dynamic_cast<wxButton*>(child) != nullptr) buttons.push_back(child);
    ASSERT_EQ(buttons.size(), buttonCount);
    dialog->Bind(wxEVT_BUTTON, [&](wxCommandEvent& event) { reached.push_back(event.GetEventObject()); });
    for (wxObject* button : buttons) fire(static_cast<wxWindow*>(button), wxEVT_BUTTON);
    EXPECT_EQ(reached, buttons);
    dialog->Destroy();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !dialog; }));
}

// A close request fired at a dialog without a close handler would press its
// Cancel button (the toolkit's default), so close events go to the lock
// dialog alone.
const std::vector<wxEventType> kTypes = {wxEVT_BUTTON, wxEVT_CHOICE, wxEVT_LEFT_UP, wxEVT_TEXT_URL};
const std::vector<wxEventType> kTypesWithClose = {wxEVT_BUTTON, wxEVT_CHOICE, wxEVT_LEFT_UP, wxEVT_TEXT_URL,
                                                  wxEVT_CLOSE_WINDOW};

}  // namespace

// One test each: on the test display only the first window that a test
// program shows reaches the screen's picture, and ctest runs every test in
// a program of its own.
TEST(DialogLayouts, About) { checkRouting<AboutSpy>("dialog_about", kTypes); }
TEST(DialogLayouts, CaptureDevice) { checkRouting<CaptureDeviceSpy>("dialog_capture_device", kTypes); }
TEST(DialogLayouts, Url) { checkRouting<UrlSpy>("dialog_url", kTypes); }
TEST(DialogLayouts, Fragment) { checkRouting<FragmentSpy>("dialog_fragment", kTypes); }
TEST(DialogLayouts, Scenario) { checkRouting<ScenarioSpy>("dialog_scenario", kTypes); }
TEST(DialogLayouts, Lock) { checkRouting<LockSpy>("dialog_lock", kTypesWithClose); }
TEST(DialogLayouts, CmdSuite) { checkRouting<CmdSuiteSpy>("dialog_cmd_suite", kTypes); }

TEST(DialogLayouts, ProgressBar) {
    wxWeakRef<frm::fb::ProgressBarDialog> progress = new frm::fb::ProgressBarDialog(nullptr);
    EXPECT_FALSE(wx_testing::writeShot(progress, "dialog_progress_bar").empty());
    progress->Destroy();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !progress; }));
}

TEST(DialogLayouts, UnoverriddenHandlersOfCaptureDeviceAndCommandSuiteLetTheClickGoOn) {
    expectClicksGoOn<frm::fb::CaptureDeviceDialog>(2);
    expectClicksGoOn<frm::fb::CmdSuiteDialog>(4);
}
