#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <chrono>
#include <cstring>
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

/// GTK's complaints about a window's layout fail the running test: a
/// Gtk-CRITICAL (a failed check, such as a widget allocated a negative
/// size) and a warning of a negative size ("Negative content width"). Not
/// the notice of a widget drawn before its first allocation ("Did you forget
/// to allocate a size?"): that one tells when a paint came, not what size a
/// window got, and shows only when the run is slow (under a sanitizer, say).
/// GTK 3 logs through GLib's structured log, past any g_log handler, so this
/// is the process's log writer; every message still goes to standard error.
inline GLogWriterOutput failTestOnGtkComplaint(GLogLevelFlags level, const GLogField* fields, gsize count,
                                               gpointer) {
    std::string domain, message;
    for (gsize i = 0; i < count; ++i) {
        const auto* value = static_cast<const char*>(fields[i].value);
        const std::string text =
            fields[i].length < 0 ? std::string(value) : std::string(value, fields[i].length);
        if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = text;
        if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = text;
    }
    if (domain == "Gtk" || domain == "Gdk") {
        const bool critical = (level & G_LOG_LEVEL_CRITICAL) != 0;
        const bool negativeSize =
            (level & G_LOG_LEVEL_WARNING) != 0 &&
            (message.find("Negative") != std::string::npos || message.find("negative") != std::string::npos) &&
            message.find("forget to allocate") == std::string::npos;
        if (critical || negativeSize)
            ADD_FAILURE() << domain << (critical ? "-CRITICAL: " : "-WARNING: ") << message;
    }
    return g_log_writer_default(level, fields, count, nullptr);
}

class Application : public ::testing::Environment {
public:
    void SetUp() override {
        wxSetAssertHandler(&failTestOnAssertion);
        // Once per process: GLib allows one writer (the environment is set
        // up again for each --gtest_repeat).
        static const bool watching = (g_log_set_writer_func(&failTestOnGtkComplaint, nullptr, nullptr), true);
        (void)watching;
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
