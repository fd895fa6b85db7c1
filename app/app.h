#pragma once

#include <wx/app.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <boost/shared_ptr.hpp>

#include "app/options.h"

class HostWindow;
class mp3stream;
class mp3streamf;

namespace device {
class TransferProtocol;
}
namespace frm {
class ActivityFilter;
class InvokerChannelGui;
class ItemDataMap;
class MainFrame;
class WidgetMap;
}  // namespace frm
namespace os {
class SingleInstance;
class StopSignalThread;
}  // namespace os

/// The application object: starts every service of the program in a fixed
/// order (OnInit), keeps it to one running copy, keeps every exception of an
/// event handler out of the toolkit (CallEventHandler), runs the event loop
/// through anything left (OnRun), turns a stop request from another copy or a stop
/// signal into an orderly shutdown of the main window, and ends the services
/// in reverse (OnExit).
///
/// Threads: everything here runs on the GUI thread except the external-stop
/// thread (waits once on the named stop condition) and the signal thread
/// (takes SIGTERM, SIGINT and SIGHUP). Neither touches a window or runs a
/// shutdown: each only queues one task to the GUI thread
/// (requestExternalStop). The object owns and joins both; the running flag
/// is the only state they read.
class aApp : public wxApp {
public:
    /// What start-up asks of the network and of the system, replaceable by a
    /// benchmark or a test before OnInit.
    struct Probes {
        /// A stream is already on the group (os::hasStream; 3 s at most).
        std::function<bool(const std::string& interfaceIp, const std::string& groupAndPort)> hasStream;
        /// The second-generation server runs (os::isStartedSonvarV2).
        std::function<bool()> isSecondServerRunning;
    };

    aApp();
    ~aApp() override;

    bool OnInit() override;
    int OnRun() override;
    int OnExit() override;
    bool OnExceptionInMainLoop() override;
    void OnUnhandledException() override;

    /// Every event handler runs through here, whoever calls it: a GTK signal
    /// (the notebook's page change), the idle pass, a queued event, a timer,
    /// a modal dialog's loop. An exception out of the handler is handed to
    /// OnExceptionInMainLoop at once and goes no further, so it never unwinds
    /// through the toolkit's C frames; the loop goes on.
    void CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor, wxEvent& event) const override;
    /// Queued calls (CallAfter) run outside every handler: an exception out of
    /// one is handed on as above, and the rest of the queue still runs.
    void ProcessPendingEvents() override;

    /// The main window; its absence ends the process (exit code 1).
    frm::MainFrame* GetMainFrame();

    /// Start-up: the data folder, the log and the settings with the log
    /// level. False only when the data folder cannot be obtained.
    static bool loadDebugPref(bool forceTrace3);
    /// The data folder as the current directory; the session-end hook.
    void prepareEnvironment();
    static void initNetwork();
    /// The --quit path: asks the running copy to stop and waits for it;
    /// the exit code (0: none ran or it ended, 1: still running after 10 s).
    static int quitRunningCopy();
    /// Wakes the stop thread of the copy that runs for this user (another
    /// process's, or at exit this one's own).
    static void stopAppCopy();
    /// The session ends: the main window shuts down; the event is not vetoed.
    void OnQueryEndSession(wxCloseEvent& event);

    /// Any thread: asks for the program's ordinary stop from outside (the
    /// stop thread, the signal thread). Queues one task to the GUI thread.
    void requestExternalStop();

    Probes& probes() { return m_probes; }

    /// True from process start until OnExit begins.
    static bool isRunning() { return s_running.load(); }
    /// The folder of the daily log files; empty before loadDebugPref.
    static const std::wstring& logFolder();
    /// The data folder; empty before prepareEnvironment.
    static const std::wstring& dataFolder();

    /// The exit code when start-up ended early for a reason with a code of
    /// its own (second copy 2, --quit 0 or 1, a stop during start-up 0),
    /// else -1 (the toolkit's code stands).
    static int startupExitCode() { return s_startupExitCode; }

private:
    bool startUp();
    bool checkSingleInstance();
    bool chooseInterface(std::string& chosen);
    bool probeStream(const std::string& interfaceIp);
    void createStreams(const std::string& interfaceIp);
    void createPlayer();
    void reportStartupFailure(const std::wstring& text);
    void startSignalThread();
    void startStopThread();
    void stopStopListeners();
    void stopAppThread();
    void onExternalStop();
    void stopFromOutside();
    void onMainFrameDestroyed(wxWindowDestroyEvent& event);
    bool ask(const wxString& text, const wxString& caption, long extraStyle);
    void tell(const wxString& text, const wxString& caption, long style);
    void exitWithCode(int code);
    /// Inside a catch on the GUI thread: the exception in flight to
    /// OnExceptionInMainLoop; nothing leaves.
    void consumeHandlerException() noexcept;
    void freeAudio();

    static std::atomic<bool> s_running;
    static int s_startupExitCode;

    StartOptions m_options;
    Probes m_probes;
    std::unique_ptr<os::SingleInstance> m_instance;
    std::unique_ptr<os::StopSignalThread> m_signalThread;
    std::thread m_stopThread;
    std::future<void> m_stopThreadEnded;
    std::atomic<bool> m_stopQueued{false};

    // GUI thread only.
    frm::MainFrame* m_mainFrame = nullptr;
    bool m_startupDone = false;
    bool m_stopRequested = false;
    bool m_settingsMissing = false;
    std::unique_ptr<frm::ActivityFilter> m_activityFilter;
    std::unique_ptr<frm::InvokerChannelGui> m_channelGui;
    // The channels read the selection from it until OnExit destroys them,
    // after the window (its owner) is gone.
    std::shared_ptr<frm::ItemDataMap> m_itemDataMap;
    boost::shared_ptr<device::TransferProtocol> m_transport;
    mp3stream* m_commonStream = nullptr;
    mp3streamf* m_notificationStream = nullptr;
    std::unique_ptr<HostWindow> m_hostWindow;
    // The listing of the windows for the trial; only with SONVAR_TEST_WIDGETS.
    std::unique_ptr<frm::WidgetMap> m_widgetMap;
};

/// The std::terminate handler: logs, dumps the process and ends it (exit 1).
[[noreturn]] void terminate_func();

/// The program's entry behind main: makes the application object, lets
/// `configure` (benchmarks, tests) change it, runs the toolkit and returns
/// the process's exit code. main has blocked the stop signals already.
int runSonvar(int argc, char** argv, const std::function<void(aApp&)>& configure = {});
