#pragma once

#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "gui/layout/progress_bar_dialog.h"
#include "gui/progress_tally.h"

namespace device {
class DeviceBase;
}

namespace frm {

/// The progress of one long operation on several devices (a firmware
/// upgrade, a write of the audio memory): one line per device, a label with
/// its title and a gauge, added when the device first reports. The device
/// jobs report from their own threads through postProgress (or a reporter),
/// which puts each report in the dialog's inbox; the first report of an
/// empty inbox queues one task to the GUI thread through the GUI-thread
/// invoker, which handles every report the inbox holds by then, in order;
/// the dialog ends by itself when every device shown has finished (OK when
/// the last final report was a success, else Cancel), or with Cancel when no
/// report arrives within the barrier, an inactivity time-out counted from
/// the latest report: then the devices without a final report count as
/// failed. The owner reads the result from ShowModal and failedDevices.
///
/// Threads: postProgress and reporters on any thread; everything else on the
/// GUI thread, which alone touches the window and the bookkeeping. A report
/// only updates the bookkeeping; the lines are brought up to date once for
/// all the reports handled in a row, so a flood of reports costs little more
/// than its queueing. The barrier is a dispatcher job that only queues a GUI
/// task. Queued reports and barrier tasks hold the dialog weakly: one that
/// arrives after the dialog is gone writes its log line and does nothing
/// else, and can never reach a later dialog.
class ProgressBarDialog : public fb::ProgressBarDialog {
public:
    using Device = boost::shared_ptr<device::DeviceBase>;
    /// Posts one report (see postProgress); safe to call from any thread,
    /// also after the dialog is gone.
    using Reporter = std::function<void(const Device& device, int percent)>;

    static constexpr std::chrono::milliseconds kBarrier{90005};

    ProgressBarDialog(wxWindow* parent, const wxString& title, std::chrono::milliseconds barrier = kBarrier);
    ~ProgressBarDialog() override;

    /// Any thread, while the dialog exists: -1 the device failed, 0 to 99
    /// its progress, 100 or more it finished. The report is queued for the
    /// GUI thread; the window is not touched here.
    void postProgress(const Device& device, int percent);

    /// A reporter bound to this dialog, for jobs that may outlive it.
    Reporter reporter() const;

    /// The devices that failed, in report order, then those cut off by the
    /// barrier. GUI thread.
    std::vector<Device> failedDevices() const { return m_tally.failedDevices(); }

    /// The reports handled so far. GUI thread.
    std::size_t reportCount() const { return m_tally.reportCount(); }

private:
    /// A line's controls and what they show.
    struct ShownLine {
        wxStaticText* label;
        wxGauge* gauge;
        int percent;
        ProgressTally::Kind state;
    };

    /// Reports waiting for the GUI thread, shared with the reporters, which
    /// may outlive the dialog.
    struct Inbox {
        std::mutex mutex;
        std::vector<std::pair<Device, int>> reports;  // guarded by mutex
        bool queued = false;                          // a task will take them; guarded by mutex
    };

    static void post(const std::weak_ptr<ProgressBarDialog>& dialog, const std::shared_ptr<Inbox>& inbox,
                     const Device& device, int percent);
    void progressCallback(const Device& device, int percent);
    /// Brings the lines up to the bookkeeping and repaints.
    void refresh();
    void armBarrier(std::chrono::steady_clock::duration delay);
    void barrierExpired();
    void end(ProgressTally::Outcome outcome);

    const std::chrono::milliseconds m_barrier;
    /// Shares nothing but its control block: the tasks' weak reference to
    /// this dialog, let go first thing in the destructor.
    std::shared_ptr<ProgressBarDialog> m_anchor;
    const std::weak_ptr<ProgressBarDialog> m_self;
    const std::shared_ptr<Inbox> m_inbox = std::make_shared<Inbox>();
    wxBoxSizer* m_sizer;
    ProgressTally m_tally;
    std::vector<ShownLine> m_shown;
    bool m_refreshQueued = false;
    std::chrono::steady_clock::time_point m_lastReport;
    std::uint32_t m_timeoutJob = 0;
    bool m_ended = false;
};

}  // namespace frm
