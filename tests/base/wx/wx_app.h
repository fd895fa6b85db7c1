#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <chrono>
#include <functional>
#include <string>

#include "base/wx/gui_thread_invoker.h"

// A real wx application for the GUI tests, made once per test program on the
// X display that the test command provides (xvfb-run), and a main-window
// stand-in whose event table routes the invoker's task events as the main
// window's does.
namespace wx_testing {

class TaskWindow : public wxFrame {
public:
    TaskWindow() : wxFrame(nullptr, wxID_ANY, "tasks") {
        Bind(wxEVT_TEXT, &TaskWindow::onTask, this, kGuiInvokerEventId);
    }
    int tasksDelivered = 0;

private:
    void onTask(wxCommandEvent& event) {
        ++tasksDelivered;
        if (GuiThreadInvoker::exists()) GuiThreadInvoker::runTask(event);
    }
};

/// A wx assertion fails the running test (from any thread) instead of
/// opening the toolkit's dialog.
inline void failTestOnAssertion(const wxString& file, int line, const wxString& function, const wxString& condition,
                                const wxString& message) {
    const std::string where = file.utf8_string();
    ADD_FAILURE_AT(where.c_str(), line) << "wx assertion \"" << condition.utf8_string() << "\" failed in "
                                        << function.utf8_string() << ": " << message.utf8_string();
}

class Application : public ::testing::Environment {
public:
    void SetUp() override {
        wxSetAssertHandler(&failTestOnAssertion);
        static char name[] = "sonvar-gui-test";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        wxApp::SetInstance(new wxApp);
        ASSERT_TRUE(wxEntryStart(argc, argv)) << "no X display: run the GUI tests under xvfb-run";
        ASSERT_TRUE(wxTheApp->CallOnInit());
    }
    void TearDown() override {
        wxTheApp->OnExit();
        wxEntryCleanup();
    }
};

inline ::testing::Environment* const g_application = ::testing::AddGlobalTestEnvironment(new Application);

/// Runs a real event loop on this (the GUI) thread until `done` holds or the
/// time is up; true when `done` held.
inline bool runEventLoopUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    wxGUIEventLoop loop;
    bool finished = false;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        finished = done();
        if (finished || std::chrono::steady_clock::now() > end) loop.Exit();
    });
    timer.Start(5);
    loop.Run();
    timer.Stop();
    return finished;
}

/// Runs the event loop for a while, for checks that something does not happen.
inline void runEventLoopFor(std::chrono::milliseconds span) {
    runEventLoopUntil([] { return false; }, span);
}

/// Delivers what is still posted, then ends the invoker and the window.
inline void closeInvokerAndWindow(TaskWindow* window) {
    runEventLoopFor(std::chrono::milliseconds(50));
    GuiThreadInvoker::destroyInstance();
    window->Destroy();
    runEventLoopFor(std::chrono::milliseconds(10));
}

}  // namespace wx_testing
