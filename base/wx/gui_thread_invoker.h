#pragma once

#include <wx/event.h>
#include <wx/thread.h>
#include <wx/window.h>

#include <boost/function.hpp>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

/// The id of the task events: the main window's event table routes
/// wxEVT_TEXT with this id to GuiThreadInvoker::runTask.
constexpr int kGuiInvokerEventId = 1090;

/// Hands tasks from any thread to the GUI thread. This is how worker threads
/// reach windows in this program: they never touch a widget themselves (see
/// gui_guards.h for why a lock would not do). The one process-wide invoker is
/// a thread of its own that turns each queued task into a wxEVT_TEXT command
/// event with the id kGuiInvokerEventId, posted to the target window's event
/// handler; the window's handler passes the event to runTask, which runs the
/// task on the GUI thread. Tasks run once each, in the order they were added.
///
/// Lifecycle (GUI thread): createInstance in the main window's constructor,
/// stop in its shutdown (queued tasks are dropped), destroyInstance in its
/// destructor (joins the thread). Task events already posted run while the
/// invoker exists; afterwards the window's handler ignores them. A task that
/// does not run (ignored, or its event still pending when the window goes)
/// is destroyed with its event, on the GUI thread, with what it captured.
class GuiThreadInvoker : private wxThread {
public:
    using Task = boost::function<void()>;

    /// Starts the invoker posting to `window` (not owned). A second call logs
    /// a WARN and changes nothing.
    static void createInstance(wxWindow* window);

    /// Any thread: queues the task and returns at once. Without an invoker,
    /// or once it is stopping, the task is dropped with a DEBUG line.
    static void add(Task task);

    /// Asks the thread to end and drops the queued tasks.
    static void stop();

    /// Stops the thread if needed, joins it and forgets the invoker.
    static void destroyInstance();

    /// GUI thread, from the window's handler of the task event: runs and
    /// frees the task the event carries. An exception leaving the task is
    /// logged here by its kind, and nothing else is done about it (no dump;
    /// exception::StopProgram ends the process); nothing leaves. The log is
    /// flushed after every task.
    static void execute(wxCommandEvent& event);
    static void runTask(wxCommandEvent& event) { execute(event); }

    /// The invoker exists (from createInstance to destroyInstance).
    static bool exists();
    /// It exists and has not been asked to stop: work handed to it now runs.
    static bool isActive();

private:
    explicit GuiThreadInvoker(wxWindow* window);
    ~GuiThreadInvoker() override = default;

    ExitCode Entry() override;
    /// Inside a catch: logs the exception in flight as the invoker's own.
    static void logTaskException();
    /// Sets the stop flag and hands back the tasks that will not run.
    std::deque<Task> requestStop();

    wxWindow* const m_window;
    std::mutex m_mutex;  // guards the queue and the stop flag
    std::condition_variable m_wake;
    std::deque<Task> m_queue;
    bool m_stopRequested = false;
};
