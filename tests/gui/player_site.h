#pragma once

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/host_window.h"
#include "audio/mp3stream.h"
#include "audio/player.h"
#include "audio/player_engine.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "tests/audio/engine_fixture.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/counting_log_fixture.h"

// The source pages' tests over the program's own player: the plug-in host
// (the fixture plug-ins, which "play" a file until stopped and trace it, or
// the shipped ones), the common stream, the global player, the dispatcher and
// the GUI-thread invoker on a stand-in main window, in a temporary data
// folder. The engine's and the plug-ins' tasks reach the GUI thread through
// the invoker, as in the program.
namespace page_testing {

class PlayerSite : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        engine_test::set_up_environment(m_dir);
        window = new wx_testing::TaskWindow;
        GuiThreadInvoker::createInstance(window);
        prepareStream(stream);
        host = std::make_unique<HostWindow>(
            [](HostWindow::Task task) { GuiThreadInvoker::add(std::move(task)); });
        engine = std::make_unique<PlayerEngine>(host->handle(), &stream, pluginFolder());
        host->attach(engine.get());
        engine->set_host([](std::function<void()> task) { GuiThreadInvoker::add(std::move(task)); }, nullptr);
        g_player_engine = engine.get();
        Player::create(engine.get(), [this] { return captureDevices; });
    }
    void TearDown() override {
        base::ThreadDispatcher::instance()->shutdown();
        Player::destroy();
        g_player_engine = nullptr;
        host->attach(nullptr);
        engine.reset();
        wx_testing::closeInvokerAndWindow(window);
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLogFixture::TearDown();
    }
    virtual std::wstring pluginFolder() { return engine_test::fixture_folder(); }
    /// The common stream before the engine takes it: no libvlc unless a test
    /// listens to it.
    virtual void prepareStream(mp3stream&) {}

    /// A file that the fixture plug-ins play (they never read it).
    std::wstring file(const std::string& relative) {
        const std::string path = m_dir.path() + "/" + relative;
        std::system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str());
        std::ofstream(path).put('\0');
        return base::fromUtf8(path);
    }
    /// The paths the plug-ins were asked to play, in order.
    std::vector<std::string> plays() const {
        std::vector<std::string> found;
        const std::string all = testing_support::readFile(m_dir.path() + "/plugins.trace");
        for (std::size_t at = all.find(" play "); at != std::string::npos; at = all.find(" play ", at + 1))
            found.push_back(all.substr(at + 6, all.find('\n', at) - at - 6));
        return found;
    }
    static bool playing() { return Player::instance()->state() == EnginePlayer::k_state_playing; }

    /// A frame of its own around the page, shown.
    static wxFrame* frameAround(wxWindow* page) {
        wxWindow* frame = page->GetParent();
        frame->SetSizer(new wxBoxSizer(wxVERTICAL));
        frame->GetSizer()->Add(page, 1, wxEXPAND);
        frame->Show();
        EXPECT_TRUE(wx_testing::runEventLoopUntil([frame] { return frame->IsShownOnScreen(); }));
        return static_cast<wxFrame*>(frame);
    }
    /// A mouse event as a list sends it for a row (-1: below the rows), in the
    /// coordinates of the list's inner window, below the header.
    static void mouse(wxListCtrl* list, wxEventType type, long row, bool leftDown = false) {
        wxMouseEvent event(type);
        event.SetPosition(wxPoint(5, 1000));
        wxRect rect;
        if (row >= 0 && list->GetItemRect(row, rect)) {
            const wxPoint screen = list->ClientToScreen(wxPoint(rect.x + 10, rect.y + rect.height / 2));
            for (wxWindow* inner : list->GetChildren())
                if (inner->GetScreenRect().Contains(screen)) event.SetPosition(inner->ScreenToClient(screen));
        }
        event.m_leftDown = leftDown;
        event.SetEventObject(list);
        list->GetEventHandler()->ProcessEvent(event);
    }
    static void click(wxButton* button) {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(event);
    }
    static std::vector<std::wstring> column(wxListCtrl* list, int column) {
        std::vector<std::wstring> texts;
        for (long row = 0; row < list->GetItemCount(); ++row)
            texts.push_back(list->GetItemText(row, column).ToStdWstring());
        return texts;
    }
    /// The rows drawn in the played colour.
    static std::vector<long> green(wxListCtrl* list) {
        std::vector<long> rows;
        for (long row = 0; row < list->GetItemCount(); ++row)
            if (list->GetItemTextColour(row) == wxColour(0, 160, 33)) rows.push_back(row);
        return rows;
    }

    wx_testing::TaskWindow* window = nullptr;
    mp3stream stream{2000};
    std::unique_ptr<HostWindow> host;
    std::unique_ptr<PlayerEngine> engine;
    std::vector<os::AudioCaptureDevice> captureDevices;
};

}  // namespace page_testing
