#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "gui/line_control_model.h"

namespace device {
class OrvelInfo;
class TovikInfo;
}  // namespace device

namespace frm {

/// The property panel's work with its device, in the parts that need no
/// window: the panel's own worker, which runs every exchange of the panel
/// (the pages' reads, Apply, Cancel and the immediate actions) off the GUI
/// thread, and the periodic dispatcher jobs of the line-control and passkeys
/// pages. A task gets copies of the device's pointer and of what the
/// operator chose when it is queued and never reads the panel: it talks to
/// the device on its thread and hands what it found to the GUI thread, where
/// the panel checks that it is still alive and, for what it draws, that it
/// still shows that device and page. Queueing and scheduling happen on the
/// GUI thread only, so at most one periodic job of a page is pending.
namespace page_jobs {

/// Queues a task to the GUI thread (GuiThreadInvoker::add in the panel).
using HandOver = std::function<void(std::function<void()>)>;

/// Whether the panel still wants a read (its page and device are still
/// shown). Any thread: it reads an atomic ticket.
using Wanted = std::function<bool()>;

/// What a read throws between its steps once the panel no longer wants it:
/// the task ends there, delivering nothing. Deliberately no exception of the
/// program's family, so that a read's own handlers let it pass.
struct Superseded {};

/// Between two exchanges of a read: throws Superseded when the panel no
/// longer wants it (an empty `wanted` always wants).
inline void checkWanted(const Wanted& wanted) {
    if (wanted && !wanted()) throw Superseded();
}

/// How a task of the worker ended: its result, or what it threw.
template <class T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
};

/// The result of a task that has nothing to report but its end.
struct Done {};

/// The property panel's own thread for its exchanges with the device: runs
/// the queued tasks one at a time, in order, so that a page's read waits
/// for the write queued before it and a second device's read for the
/// first's current exchange only (the transport serialises the requests to
/// one device anyway). A task that no longer matters ends at its next
/// checkWanted. The thread starts with the first task.
///
/// Threads: post from any thread; stop and the destructor from the owner's
/// (the GUI thread). stop drops the tasks that have not started
/// and joins the running one, which ends as soon as its exchange does: the
/// main window stops the transport first, which releases every waiting
/// request at once.
class Worker {
public:
    using Task = std::function<void()>;

    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    /// Queues a task; false (the task dropped) once stopped.
    bool post(Task task);
    /// Idempotent; afterwards post refuses.
    void stop();

private:
    void run();

    mutable std::mutex m_mutex;  // guards the queue, the flags and the thread's start
    std::condition_variable m_wake;
    std::deque<Task> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};

/// Queues `work` (called with `wanted`, returning a T) on the worker and
/// hands its outcome to `deliver` through `handOver`. A task that is no
/// longer wanted when its turn comes, or that a checkWanted ends, delivers
/// nothing; `dropped` (may be empty) then runs on the worker instead.
/// Exceptions of `work` are delivered, never lost.
template <class T, class Work, class Deliver>
bool submit(Worker& worker, Wanted wanted, Work work, HandOver handOver, Deliver deliver,
            std::function<void()> dropped = {}) {
    return worker.post([wanted = std::move(wanted), work = std::move(work), handOver = std::move(handOver),
                        deliver = std::move(deliver), dropped = std::move(dropped)]() {
        auto outcome = std::make_shared<Outcome<T>>();
        try {
            checkWanted(wanted);
            outcome->value.emplace(work(wanted));
        } catch (const Superseded&) {
            if (dropped) dropped();
            return;
        } catch (...) {
            outcome->error = std::current_exception();
        }
        handOver([deliver, outcome] { deliver(std::move(*outcome)); });
    });
}

/// Tells the operator why a device operation of the panel failed, as the
/// main loop tells of a handler's exception: a silent device at notice
/// level, a refusal or an error of the device with its text, an internal
/// error at error level. Superseded is no failure (nothing is said).
/// `more`, when given, follows on lines of its own in the same notice (what
/// an apply wrote before it failed): the program's own words, shown whole.
void reportFailure(const std::exception_ptr& error, const std::wstring& more = std::wstring());

/// The periods of the pages' jobs; tests shorten them.
struct Periods {
    std::chrono::milliseconds lineControlRefresh{2100};
    std::chrono::milliseconds passkeyPoll{1000};
    /// A page whose read takes longer than this is greyed and says
    /// "Чтение…": an answer on time fills it without the page flickering.
    std::chrono::milliseconds readingShown{100};
    /// The longest the exit waits for an Apply's writes under way, whatever
    /// the device's reply times would allow for the keys still to go: a
    /// key unanswered within its give-up time ends the writes well before.
    std::chrono::milliseconds exitWritesAtMost{30000};
};

/// When the line-control page may refresh. Refreshes are blocked while a
/// dispatcher refresh talks to the module and while the operator holds a
/// row's button down (the rows must not be rebuilt under the click).
/// Snapshots are numbered as their reads start, so that a job's older read
/// never replaces what a newer one drew. Any thread; `drawn` and `isStale`
/// belong to the GUI thread.
class RefreshGate {
public:
    /// A dispatcher refresh: false when blocked (someone else reads, or a
    /// button is held); otherwise the caller reads and then calls `leave`.
    bool tryEnter();
    void leave();
    /// The left button went down (true) or up (false) on a row's button.
    void hold(bool held);
    bool held() const { return m_held.load(); }
    bool blocked() const { return m_held.load() || m_reading.load(); }

    /// The number of a read about to start.
    std::uint64_t startRead() { return ++m_reads; }
    /// GUI thread: the snapshot of read `sequence` is (about to be) drawn.
    void drawn(std::uint64_t sequence) { m_drawn = sequence; }
    /// GUI thread: a newer read than `sequence` was drawn already.
    bool isStale(std::uint64_t sequence) const { return sequence < m_drawn; }

private:
    std::atomic<bool> m_reading{false};
    std::atomic<bool> m_held{false};
    std::atomic<std::uint64_t> m_reads{0};
    std::uint64_t m_drawn = 0;
};

/// The job of the line-control page's cycle: unless the gate is blocked,
/// refreshes the module and reads it (line_control::read); hands the
/// snapshot to `deliver` on the GUI thread through `handOver`, or no
/// snapshot when the refresh was skipped. The module's exceptions are
/// logged and delivered as a snapshot that was not read, so that the GUI
/// thread still keeps the cycle going.
void refreshTipDevices(const std::shared_ptr<RefreshGate>& gate,
                       const boost::shared_ptr<device::OrvelInfo>& loudspeaker, bool withVersion,
                       const HandOver& handOver,
                       std::function<void(std::optional<line_control::Snapshot>)> deliver);

/// The passkeys page's poll while a console learns a key: asks whether it
/// still listens and hands the answer to `deliver` on the GUI thread. A
/// console that cannot be asked counts as no longer listening.
void pollPasskeyListening(const boost::shared_ptr<device::TovikInfo>& console, const HandOver& handOver,
                          std::function<void(bool listening)> deliver);

}  // namespace page_jobs
}  // namespace frm
