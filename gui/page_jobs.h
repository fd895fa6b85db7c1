#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "gui/line_control_model.h"

namespace device {
class OrvelInfo;
class TovikInfo;
}  // namespace device

namespace frm {

/// The dispatcher jobs of the property panel's line-control and passkeys
/// pages, in the parts that need no window. A job gets a copy of the
/// device's pointer when it is scheduled and never reads the panel: it talks
/// to the device on the dispatcher thread and hands what it found to the GUI
/// thread, where the panel checks that it still shows that device and page
/// before it draws or schedules anything. Scheduling happens on the GUI
/// thread only, so at most one job of a page is pending.
namespace page_jobs {

/// Queues a task to the GUI thread (GuiThreadInvoker::add in the panel).
using HandOver = std::function<void(std::function<void()>)>;

/// The periods of the pages' jobs; tests shorten them.
struct Periods {
    std::chrono::milliseconds lineControlRefresh{2100};
    std::chrono::milliseconds passkeyPoll{1000};
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
