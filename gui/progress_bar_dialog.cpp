#include "gui/progress_bar_dialog.h"

#include <wx/wupdlock.h>

#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/device_base.h"
#include "gui/end_dialog.h"
#include "gui/gui_thread.h"

namespace frm {

namespace {

using Kind = ProgressTally::Kind;

std::wstring addressOf(const ProgressBarDialog::Device& device) { return device->getIp().getWideText(); }

}  // namespace

ProgressBarDialog::ProgressBarDialog(wxWindow* parent, const wxString& title,
                                     std::chrono::milliseconds barrier)
    : fb::ProgressBarDialog(parent, wxID_ANY, title, wxDefaultPosition, wxSize(586, 93), wxCAPTION),
      m_barrier(barrier),
      m_anchor(this, [](ProgressBarDialog*) {}),
      m_self(m_anchor),
      m_sizer(new wxBoxSizer(wxVERTICAL)),
      m_lastReport(std::chrono::steady_clock::now()) {
    LOG_TRACE2(L"%1%(..)", L"frm::ProgressBarDialog::ProgressBarDialog");
    SetSizer(m_sizer);
    // Like the missing close box: the operator cannot end it while the jobs run.
    SetEscapeId(wxID_NONE);
    armBarrier(m_barrier);
}

ProgressBarDialog::~ProgressBarDialog() {
    m_anchor.reset();
    if (m_timeoutJob != 0) base::ThreadDispatcher::remove(m_timeoutJob);
}

void ProgressBarDialog::postProgress(const Device& device, int percent) {
    post(m_self, m_inbox, device, percent);
}

ProgressBarDialog::Reporter ProgressBarDialog::reporter() const {
    const std::weak_ptr<ProgressBarDialog> self = m_self;
    const std::shared_ptr<Inbox> inbox = m_inbox;
    return [self, inbox](const Device& device, int percent) { post(self, inbox, device, percent); };
}

void ProgressBarDialog::post(const std::weak_ptr<ProgressBarDialog>& dialog,
                             const std::shared_ptr<Inbox>& inbox, const Device& device, int percent) {
    {
        std::lock_guard<std::mutex> lock(inbox->mutex);
        inbox->reports.emplace_back(device, percent);
        if (inbox->queued) return;  // the task on its way takes this one too
        inbox->queued = true;
    }
    if (!GuiThreadInvoker::isActive()) {
        // Shutting down: nothing will take them.
        std::lock_guard<std::mutex> lock(inbox->mutex);
        inbox->reports.clear();
        inbox->queued = false;
        LOG_DEBUG(L"The progressbar isn't reachable any more! percent=%1%", percent);
        return;
    }
    GuiThreadInvoker::add([dialog, inbox] {
        std::vector<std::pair<Device, int>> reports;
        {
            std::lock_guard<std::mutex> lock(inbox->mutex);
            reports.swap(inbox->reports);
            inbox->queued = false;
        }
        const auto shown = dialog.lock();
        for (const auto& [device, percent] : reports) {
            if (shown)
                shown->progressCallback(device, percent);
            else
                LOG_DEBUG(L"The progressbar isn't exist! percent=%1%", percent);
        }
    });
}

void ProgressBarDialog::progressCallback(const Device& device, int percent) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"progressbar, percent=%1%", percent);
    if (m_ended) {
        LOG_DEBUG(L"The progressbar has ended, percent=%1% dropped", percent);
        return;
    }
    m_lastReport = std::chrono::steady_clock::now();
    const ProgressTally::Step step = m_tally.report(device, percent);
    if (step.newLine) LOG_DEBUG(L"add progres bar line, ip %1%", addressOf(device));
    if (step.kind == Kind::Failed)
        LOG_DEBUG(L"ProgressBarDialog, result: wxID_CANCEL (IncorrectExecution), ip device %1%",
                  addressOf(device));
    else if (step.kind == Kind::Succeeded)
        LOG_DEBUG(L"%1%", L"ProgressBarDialog, result: wxID_OK");
    else if (step.kind == Kind::Ignored)
        LOG_DEBUG(L"a report after the device's final one, ip device %1%", addressOf(device));

    if (step.outcome != ProgressTally::Outcome::Running) {
        refresh();
        end(step.outcome);
        return;
    }
    // The reports queued behind this one are handled before the refresh.
    if (!m_refreshQueued) {
        m_refreshQueued = true;
        CallAfter([this] {
            m_refreshQueued = false;
            refresh();
        });
    }
}

void ProgressBarDialog::refresh() {
    FRM_ASSERT_GUI_THREAD();
    bool relayout = false;
    wxWindowUpdateLocker frozen(this);  // one redraw for all the lines changed
    const std::vector<ProgressTally::Line>& lines = m_tally.lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == m_shown.size()) {
            auto* label = new wxStaticText(this, wxID_ANY, lines[i].device->getTitle());
            auto* gauge =
                new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxSize(-1, 17), wxGA_HORIZONTAL);
            m_sizer->Add(label, 0, wxALIGN_CENTER_HORIZONTAL | wxLEFT | wxRIGHT | wxTOP, 7);
            m_sizer->Add(gauge, 0, wxEXPAND | wxALL, 6);
            m_shown.push_back({label, gauge, 0, Kind::Progress});
            relayout = true;
        }
        ShownLine& shown = m_shown[i];
        if (lines[i].percent != shown.percent) {
            shown.gauge->SetValue(lines[i].percent);
            shown.percent = lines[i].percent;
        }
        if (lines[i].state != shown.state) {
            const bool failed = lines[i].state == Kind::Failed;
            shown.label->SetLabel(shown.label->GetLabel() + L"\n[" +
                                  (failed ? L"ошибка обмена" : L"успешно") + L"]");
            // Wrapping measures the text: only a label wider than the wrap
            // width can change by it.
            if (shown.label->GetSize().x > 165) shown.label->Wrap(165);
            shown.label->SetBackgroundColour(failed ? wxColour(255, 0, 0) : wxColour(0, 255, 0));
            shown.state = lines[i].state;
            relayout = true;
        }
    }
    if (relayout) Layout();
    Update();
}

void ProgressBarDialog::armBarrier(std::chrono::steady_clock::duration delay) {
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
    const std::weak_ptr<ProgressBarDialog> self = m_self;
    m_timeoutJob = base::ThreadDispatcher::add(
        L"timeout barrier for progress bar dialog",
        static_cast<std::uint32_t>(std::max<decltype(milliseconds)>(milliseconds, 1)), [self] {
            GuiThreadInvoker::add([self] {
                if (const auto shown = self.lock()) {
                    shown->barrierExpired();
                    return;
                }
                LOG_DEBUG(L"%1%", L"The progressbar isn't exist! timeout barrier");
            });
        });
}

void ProgressBarDialog::barrierExpired() {
    FRM_ASSERT_GUI_THREAD();
    if (m_ended) return;
    // Every report moves the end of the barrier: wait for the rest of it.
    const auto quiet = std::chrono::steady_clock::now() - m_lastReport;
    if (quiet < m_barrier) {
        armBarrier(m_barrier - quiet);
        return;
    }
    LOG_DEBUG(L"no progress report within %1% ms: the devices without a final report failed",
              m_barrier.count());
    end(m_tally.expire());
}

void ProgressBarDialog::end(ProgressTally::Outcome outcome) {
    m_ended = true;
    if (m_timeoutJob != 0) base::ThreadDispatcher::remove(m_timeoutJob);
    m_timeoutJob = 0;
    endDialog(*this, outcome == ProgressTally::Outcome::Ok ? wxID_OK : wxID_CANCEL);
}

}  // namespace frm
