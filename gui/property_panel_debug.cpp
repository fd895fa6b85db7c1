// The debug page: periodic requests, replies, the console log, the volume;
// the direct request and the command rows with their suites.
//
// Threads. Handlers and every control change run on the GUI thread. The
// request chain runs as dispatcher jobs and its replies complete on the
// transport's completer thread; the console monitor runs on the transport's
// threads; the volume change is a dispatcher job. None of these touches a
// control or a GUI-thread member: they work on DebugShared (under its mutex;
// the message table has its own) and hand the drawing to the GUI thread
// through the invoker, which finds the panel through m_debugAlive or finds
// it gone.

#include <wx/clipbrd.h>
#include <wx/dcbuffer.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <algorithm>
#include <mutex>

#include <boost/algorithm/string/trim.hpp>

#include "audio/loudspeaker_ledger.h"
#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/device_base.h"
#include "device/models/orvel_info.h"
#include "device/transfer_protocol.h"
#include "gui/cmd_suite_dialog.h"
#include "gui/debug_message_table.h"
#include "gui/gui_thread.h"
#include "gui/property_device_panel.h"
#include "gui/ui.h"

namespace frm {

namespace pages = property_pages;

namespace {

const wxColour kAnsweredMark(3, 192, 60);
const wxColour kUnansweredMark(255, 0, 0);
const wchar_t* const kNoDevice = L"Выберете в списке одно устройство онлайн.";
/// Only the last slider movement within this time reaches the device.
constexpr std::uint32_t kVolumeDelayMs = 200;

constexpr std::uint64_t kOrvel510Bits = 0x300000;
constexpr std::uint64_t kConsoleBit = 0x800000;

using Alive = std::weak_ptr<PropertyDevicePanel*>;

/// A device line as the console log keeps it: without carriage returns and
/// the line feeds at its end.
std::string logLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (const char c : text)
        if (c != '\r') line += c;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

}  // namespace

struct PropertyDevicePanel::DebugShared {
    DebugShared(boost::shared_ptr<device::TransferProtocol> link, Alive owner)
        : transport(std::move(link)), panel(std::move(owner)) {}

    const boost::shared_ptr<device::TransferProtocol> transport;
    const Alive panel;
    DebugMessageTable messages;

    std::mutex mutex;  // guards what follows, up to the atomics
    /// The running request chain; starting, stopping and leaving count it
    /// up, so a job or a reply of an ended chain knows it is stale.
    unsigned generation = 0;
    /// The device the chain polls; empty once the page is left.
    DevicePtr device;
    int period = 700;
    int kind = 0;
    // What the GUI thread shows next; the flags say what changed.
    bool markChanged = false;
    bool answered = false;
    bool historyChanged = false;
    /// The history field is written anew; otherwise `historyTail` is added
    /// at its end (the usual case: the device counts up).
    bool historyRewrite = false;
    std::string historyTail;
    int historyKind = 0;
    bool textChanged = false;
    std::wstring text;
    /// The last reply was "ERR...": the following ones are logged quietly.
    bool lastWasError = false;

    std::atomic<std::uint32_t> requestJob{0};
    std::atomic<std::uint32_t> volumeJob{0};
    /// Counts the volume changes asked for; a job that is not the last one
    /// asked for, or that runs after the page was left, does nothing.
    std::atomic<std::uint32_t> volumeSerial{0};
    /// A drawing is queued to the GUI thread and has not begun yet.
    std::atomic<bool> drawQueued{false};

    /// Ends the running chain: its next job neither sends nor reschedules,
    /// and its replies still under way are dropped. Any thread.
    void endChain(bool forgetDevice) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++generation;
            if (forgetDevice) device.reset();
            markChanged = false;
        }
        removeJob(requestJob);
    }

    /// Completion of one request of the chain `chain` (completer thread).
    void complete(const std::string& reply, bool isAnswered, int replyKind, unsigned chain);

    /// Hands the drawing to the GUI thread, once for all the changes made
    /// until it begins.
    void queueDrawing() {
        if (drawQueued.exchange(true)) return;
        if (!GuiThreadInvoker::isActive()) {
            drawQueued = false;
            return;
        }
        GuiThreadInvoker::add([owner = panel] {
            if (const auto alive = owner.lock()) (*alive)->showDebugState();
        });
    }
};

void PropertyDevicePanel::DebugShared::complete(const std::string& reply, bool isAnswered, int replyKind,
                                                unsigned chain) {
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::addDebugMessage");
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!device) {
            LOG_DEBUG(L"%1%", L"failure to set debug for unbound device.");
            return;
        }
        if (chain != generation) {
            LOG_TRACE(L"%1%", L"a reply of an ended debug request chain is dropped");
            return;
        }
        if (!isAnswered) {
            markChanged = true;
            answered = false;
        }
    }
    if (!isAnswered) {
        queueDrawing();
        return;
    }
    // A refusal stays here, on the completer thread: logged, the mark red,
    // the history and the drawn text as they were.
    try {
        device::DeviceBase::handleResponse(reply);
    } catch (const exception::Base& e) {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            first = !lastWasError;
            lastWasError = true;
            markChanged = true;
            answered = false;
        }
        if (first)
            LOG_WARN(L"Отладочный запрос отклонён устройством: %1%", base::toWide(e.what()));
        else
            LOG_DEBUG(L"debug request refused again: %1%", reply);
        queueDrawing();
        return;
    }
    const DebugMessageTable::Outcome outcome = messages.add(reply, replyKind);
    std::wstring drawn = base::toWide(outcome.other.empty() ? reply : outcome.other);
    {
        std::lock_guard<std::mutex> lock(mutex);
        lastWasError = false;
        markChanged = true;
        answered = true;
        if (outcome.stored || outcome.cleared) {
            if (outcome.cleared || !outcome.appendOnly || (historyChanged && historyKind != replyKind)) {
                historyRewrite = true;
                historyTail.clear();
            } else if (!historyRewrite) {
                historyTail += outcome.appended;
            }
            historyChanged = true;
            historyKind = replyKind;
        }
        textChanged = true;
        text = std::move(drawn);
    }
    queueDrawing();
}

PropertyDevicePanel::DebugShared& PropertyDevicePanel::debugShared() {
    FRM_ASSERT_GUI_THREAD();
    if (!m_debug) m_debug = std::make_shared<DebugShared>(m_transport, Alive(m_debugAlive));
    if (!m_debugBound) {
        radioBoxDebugKind->Bind(wxEVT_RADIOBOX, &PropertyDevicePanel::debugKindOnRadioBox, this);
        m_debugDrawTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { showDebugState(); });
        m_debugBound = true;
    }
    return *m_debug;
}

// ---- the request chain ---------------------------------------------------------------------

void PropertyDevicePanel::startRequestingDebugMessages() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::startRequestingDebugMessages");
    DebugShared& shared = debugShared();
    shared.endChain(false);
    toggleStopDebug->SetValue(false);
    if (m_shuttingDown || !m_device || !m_transport || !m_device->isOnlineAndAnswered()) {
        setDebugText(kNoDevice);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.device = m_device;
        shared.period = m_refreshPeriod;
        shared.kind = radioBoxDebugKind->GetSelection();
        shared.lastWasError = false;
        const unsigned generation = shared.generation;
        shared.requestJob = base::ThreadDispatcher::add(
            L"request debug message", static_cast<std::uint32_t>(m_refreshPeriod),
            [debug = m_debug, generation] { requestDebugMessage(debug, generation); });
    }
    // The page fill runs right after the page layout, whose frozen notebook
    // leaves GTK's multi-line fields unable to take new text until GTK has
    // laid them out (an insertion then crashes in GTK's text layout; emptying
    // is safe): the kept lines come with the first drawing once the page has
    // settled.
    textDebugLower->Clear();
    m_consoleLogPending = true;
    m_debugTextsFrom = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDebugSettleMs);
}

void PropertyDevicePanel::requestDebugMessage(const std::shared_ptr<DebugShared>& shared,
                                              unsigned generation) {
    if (shared->panel.expired()) return;
    DevicePtr device;
    int period = 0;
    int kind = 0;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (generation != shared->generation) return;
        device = shared->device;
        period = shared->period;
        kind = shared->kind;
    }
    if (!device || !shared->transport) return;
    // An unanswered request is given up before the next one is due.
    const unsigned resendMs = static_cast<unsigned>(period / 2);
    const char* request = "lsensor dbg";
    if (device->isTypeOf(kOrvel510Bits))
        request = "getLineParam";
    else if (kind == 0 || (device->getTypeCode() & kConsoleBit) != 0)
        request = "get dbg";
    shared->transport->async(
        device->getIp(), request,
        [shared, kind, generation](const std::string& reply, bool answered) {
            shared->complete(reply, answered, kind, generation);
        },
        0, resendMs);

    std::lock_guard<std::mutex> lock(shared->mutex);
    if (generation != shared->generation) return;  // stopped or left meanwhile: no next request
    shared->requestJob =
        base::ThreadDispatcher::add(L"request debug message", static_cast<std::uint32_t>(period),
                                    [shared, generation] { requestDebugMessage(shared, generation); });
}

void PropertyDevicePanel::addDebugMessage(const std::string& reply, bool answered, int kind) {
    DebugShared& shared = debugShared();
    unsigned generation = 0;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        generation = shared.generation;
    }
    shared.complete(reply, answered, kind, generation);
}

void PropertyDevicePanel::showDebugState() {
    FRM_ASSERT_GUI_THREAD();
    if (!m_debug) return;
    const auto now = std::chrono::steady_clock::now();
    using std::chrono::milliseconds;
    const auto wait = std::max(milliseconds(kDebugDrawIntervalMs) -
                                   std::chrono::duration_cast<milliseconds>(now - m_lastDebugDrawing),
                               std::chrono::duration_cast<milliseconds>(m_debugTextsFrom - now));
    if (wait.count() > 0) {
        // Still queued as far as the completions know: they queue nothing
        // more until this drawing has been made.
        if (!m_debugDrawTimer.IsRunning()) m_debugDrawTimer.StartOnce(static_cast<int>(wait.count()));
        return;
    }
    m_lastDebugDrawing = now;
    DebugShared& shared = *m_debug;
    shared.drawQueued = false;  // before reading: what changes from now on queues a new drawing
    bool markChanged = false, answered = false, historyChanged = false, historyRewrite = false,
         textChanged = false;
    int historyKind = 0;
    std::string historyTail;
    std::wstring text;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        std::swap(markChanged, shared.markChanged);
        answered = shared.answered;
        std::swap(historyChanged, shared.historyChanged);
        std::swap(historyRewrite, shared.historyRewrite);
        historyTail.swap(shared.historyTail);
        historyKind = shared.historyKind;
        std::swap(textChanged, shared.textChanged);
        text.swap(shared.text);
    }
    if (markChanged) {
        const wxColour& mark = answered ? kAnsweredMark : kUnansweredMark;
        if (staticDebugIndicator->GetForegroundColour() != mark) {
            staticDebugIndicator->SetForegroundColour(mark);
            staticDebugIndicator->Refresh();
        }
    }
    if (historyChanged) {
        // Writing the whole history anew at every reply would cost the GUI
        // thread more than everything else at the shortest period.
        if (historyRewrite || historyKind != m_historyKindShown)
            textDebugUpper->ChangeValue(base::toWide(shared.messages.history(historyKind)));
        else
            textDebugUpper->AppendText(base::toWide(historyTail));
        m_historyKindShown = historyKind;
        textDebugUpper->ShowPosition(textDebugUpper->GetLastPosition());
    }
    if (textChanged) setDebugText(text);
    if (m_consoleLogPending && m_device) fillConsoleLog();
}

void PropertyDevicePanel::setDebugText(const std::wstring& text) {
    FRM_ASSERT_GUI_THREAD();
    m_debugText = text;
    staticDebugText->Refresh(false);
}

void PropertyDevicePanel::leaveDebugPage() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::leaveDebugPage");
    if (m_debug) {
        m_debug->endChain(true);
        ++m_debug->volumeSerial;
        removeJob(m_debug->volumeJob);
    }
    staticDebugIndicator->SetForegroundColour(kUnansweredMark);
    staticDebugIndicator->Refresh();
}

void PropertyDevicePanel::shutdownDebugPage() {
    FRM_ASSERT_GUI_THREAD();
    m_debugDrawTimer.Stop();
    if (!m_debug) return;
    m_debug->endChain(true);
    ++m_debug->volumeSerial;
    removeJob(m_debug->volumeJob);
    m_debug->messages.clearAll();
}

// ---- the page's controls ---------------------------------------------------------------------

void PropertyDevicePanel::eraseTextOnPanel(wxEraseEvent&) {}  // the paint handler fills the whole area

void PropertyDevicePanel::paintTextOnPanel(wxPaintEvent&) {
    FRM_ASSERT_GUI_THREAD();
    wxAutoBufferedPaintDC dc(staticDebugText);
    if (staticDebugText->GetBackgroundColour() != *wxWHITE) staticDebugText->SetBackgroundColour(*wxWHITE);
    const wxColour background = staticDebugText->GetBackgroundColour();
    dc.SetBrush(wxBrush(background, wxBRUSHSTYLE_SOLID));
    dc.SetPen(wxPen(background, 1, wxPENSTYLE_SOLID));
    dc.DrawRectangle(wxPoint(0, 0), staticDebugText->GetClientSize());
    dc.SetFont(wxFont(10, wxFONTFAMILY_TELETYPE, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    dc.SetTextForeground(*wxBLACK);
    dc.SetTextBackground(*wxWHITE);
    dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
    dc.DrawText(m_debugText, 0, 0);
}

void PropertyDevicePanel::refreshRateOnChoice(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::refreshRateOnChoice");
    const wxString text = choiceRefreshRate->GetStringSelection();
    long period = 0;
    debug::throwIfFalse(text.ToLong(&period) && period > 0, "frm::PropertyDevicePanel::refreshRateOnChoice",
                        L"Частота обновления не является числом");
    if (g_pref != nullptr) pref::setString("debug.refreshTime", text.ToStdWstring());
    m_refreshPeriod = static_cast<int>(period);
    DebugShared& shared = debugShared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.period = m_refreshPeriod;  // from the next request on
}

void PropertyDevicePanel::debugKindOnRadioBox(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    DebugShared& shared = debugShared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.kind = radioBoxDebugKind->GetSelection();
}

void PropertyDevicePanel::stopDebugOnToggle(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::stopDebugOnToggle");
    if (toggleStopDebug->GetValue())
        debugShared().endChain(false);
    else
        startRequestingDebugMessages();
}

void PropertyDevicePanel::clearDebugOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::clearDebugOnButtonClick");
    event.Skip();
    debugShared().messages.clear(radioBoxDebugKind->GetSelection());
    textDebugUpper->Clear();
    m_historyKindShown = -1;  // the next reply writes its kind's history whole
    textDebugLower->Clear();
    if (m_device) m_consoleLog.erase(m_device->getIp());
}

void PropertyDevicePanel::copyDebugOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::copyDebugOnButtonClick");
    // The clipboard is the operating system's: the text goes as Unicode
    // (UTF-8 on the X selection), not in the devices' code page.
    if (!wxTheClipboard->Open()) return;
    wxTheClipboard->Clear();
    wxTheClipboard->SetData(new wxTextDataObject(m_debugText));
    wxTheClipboard->Close();
}

// ---- the console log ---------------------------------------------------------------------------

void PropertyDevicePanel::toConsoleLog(const std::string& text) {
    // Every request and reply of the device passes here: only its error
    // lines are kept.
    if (text.size() < 3 || text.compare(0, 3, "ERR") != 0) return;
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([alive = Alive(m_debugAlive), text] {
            if (const auto panel = alive.lock()) (*panel)->toConsoleLog(text);
        });
        return;
    }
    if (!m_device) return;
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::toConsoleLog");
    std::vector<std::string>& lines = m_consoleLog[m_device->getIp()];
    const std::string line = logLine(text);
    lines.push_back(line);
    // Trimmed in steps, so that a device that errs at every request does
    // not have the whole field written anew at every line.
    const bool trimmed = lines.size() > kConsoleLogLines + kConsoleLogLines / 10;
    if (trimmed) lines.erase(lines.begin(), lines.end() - kConsoleLogLines);
    if (checkBoxLineError->GetValue() && text.find("lsensor") != std::string::npos) requestLineErrorDetails();
    // Another page: the debug page shows the lines when it is opened.
    if (m_currentPage != pages::kDebugMessage) return;
    if (!debugTextsSettled()) {
        m_consoleLogPending = true;
        showDebugState();  // schedules the drawing that fills the field
    } else if (trimmed || m_consoleLogPending) {
        fillConsoleLog();
    } else {
        textDebugLower->AppendText(base::toWide(line + '\n'));
        textDebugLower->ShowPosition(textDebugLower->GetLastPosition());
    }
}

void PropertyDevicePanel::requestLineErrorDetails() {
    FRM_ASSERT_GUI_THREAD();
    if (!m_transport) return;
    const net::IpAndPort endpoint = m_device->getIp();
    int& pending = m_lineErrorPending[endpoint];
    // The replies to these requests come back here as device lines too: a
    // pair under way must not send another, or the traffic grows for ever.
    if (pending > 0) {
        LOG_TRACE(L"%1%", L"line error requests are under way");
        return;
    }
    pending = 2;
    // The replies reach the log through the console monitor; the completions
    // only count the pair down, on the GUI thread, after the monitor's lines.
    const auto done = [alive = Alive(m_debugAlive), endpoint](const std::string&, bool) {
        GuiThreadInvoker::add([alive, endpoint] {
            if (const auto panel = alive.lock()) {
                int& left = (*panel)->m_lineErrorPending[endpoint];
                if (left > 0) --left;
            }
        });
    };
    m_transport->async(endpoint, "lsensor test 21", done, 3, 500);
    m_transport->async(endpoint, "lsensor dbg", done, 3, 1000);
}

void PropertyDevicePanel::fillConsoleLog() {
    FRM_ASSERT_GUI_THREAD();
    debug::throwIfFalse(static_cast<bool>(m_device), "frm::PropertyDevicePanel::fillConsoleLog");
    m_consoleLogPending = false;
    std::string text;
    const auto found = m_consoleLog.find(m_device->getIp());
    if (found != m_consoleLog.end())
        for (const std::string& line : found->second) {
            text += line;
            text += '\n';
        }
    textDebugLower->ChangeValue(base::toWide(text));
    textDebugLower->ShowPosition(textDebugLower->GetLastPosition());
}

// ---- the volume ------------------------------------------------------------------------------------

void PropertyDevicePanel::setVolumeOnScrollChanged(wxScrollEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::setVolumeOnScrollChanged");
    event.Skip();
    if (!m_device) return;
    DebugShared& shared = debugShared();
    removeJob(shared.volumeJob);
    const std::uint32_t serial = ++shared.volumeSerial;
    // Read here, on the GUI thread: the job runs on a dispatcher thread.
    const int percent = sliderVolume->GetValue();
    // What the loudspeaker has once the change ended (its answer or its
    // give-up), shown by a job: the ledger's own volume where a notice keeps
    // it at one, else the device's. A job never throws: a console has no
    // volume, a device may not answer.
    const auto showVolumeLater = [](const std::shared_ptr<DebugShared>& debug, const DevicePtr& device,
                                    std::uint32_t serial) {
        base::ThreadDispatcher::add(L"showing changed volume", 0, [debug, device, serial] {
            if (serial != debug->volumeSerial || debug->panel.expired()) return;
            try {
                const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device);
                const std::shared_ptr<LoudspeakerLedger> ledger = LoudspeakerLedger::instance();
                const std::optional<OwnVolume> held =
                    loudspeaker && ledger ? ledger->heldOwnVolume(loudspeaker) : std::nullopt;
                const int volume = held && held->percent ? *held->percent : device->getVolume();
                GuiThreadInvoker::add([alive = debug->panel, title = device->getTitle(), volume] {
                    if (const auto panel = alive.lock()) (*panel)->showVolume(title, volume);
                });
            } catch (const exception::Base& e) {
                LOG_WARN(L"%1%", base::toWide(e.what()));
            }
        });
    };
    shared.volumeJob = base::ThreadDispatcher::add(
        L"deferred changing volume", kVolumeDelayMs,
        [debug = m_debug, device = m_device, percent, serial, showVolumeLater] {
            LOG_TRACE(L"%1%", L"a scheduler worked: change volume");
            if (serial != debug->volumeSerial || debug->panel.expired()) return;
            const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device);
            const std::shared_ptr<LoudspeakerLedger> ledger = LoudspeakerLedger::instance();
            if (loudspeaker && ledger) {
                // One owner of the volume: a notice that keeps the
                // loudspeaker at its volume keeps it, and this one is what it
                // gets back at the end (and what is shown). Not waited for:
                // the loudspeaker's answer comes on the transport's thread.
                ledger->setOwnVolume({loudspeaker}, OwnVolume{percent, std::nullopt})
                    .whenSettled([debug, device, serial, showVolumeLater](const LedgerBatch::Settlements&) {
                        showVolumeLater(debug, device, serial);
                    });
                return;
            }
            try {
                device->setVolume(static_cast<std::uint32_t>(percent));
            } catch (const exception::Base& e) {
                LOG_WARN(L"%1%", base::toWide(e.what()));
                return;
            }
            showVolumeLater(debug, device, serial);
        });
}

void PropertyDevicePanel::initVolumeSlider() {
    if (!m_device || m_shuttingDown) return;
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([alive = Alive(m_debugAlive)] {
            if (const auto panel = alive.lock()) (*panel)->initVolumeSlider();
        });
        return;
    }
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::initVolumeSlider");
    // While a notice keeps the loudspeaker at its volume, what it gets back
    // at the end.
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    const std::shared_ptr<LoudspeakerLedger> ledger = LoudspeakerLedger::instance();
    const std::optional<OwnVolume> held =
        loudspeaker && ledger ? ledger->heldOwnVolume(loudspeaker) : std::nullopt;
    if (held && held->percent) {
        showVolume(m_device->getTitle(), *held->percent);
        return;
    }
    // The device's own, read by the worker: the window never waits for it.
    const DevicePtr device = m_device;
    runJob<int>(
        page_jobs::Wanted(), [device](const page_jobs::Wanted&) { return device->getVolume(); },
        [this, device](page_jobs::Outcome<int> outcome) {
            if (m_device != device || m_currentPage != pages::kDebugMessage) return;
            if (outcome.error) {
                // A failed read is the page's: emptied, disabled, its requests ended.
                leaveDebugPage();
                failPage(pages::kDebugMessage);
                page_jobs::reportFailure(outcome.error);
                return;
            }
            showVolume(device->getTitle(), *outcome.value);
        });
}

void PropertyDevicePanel::showVolume(const std::wstring& title, int volume) {
    FRM_ASSERT_GUI_THREAD();
    sliderVolume->SetValue(volume);
    sliderVolume->SetToolTip(wxString::Format(L"%s %i%%", title, volume));
}

// ---- the direct request ------------------------------------------------------------------------

wxTextCtrl* PropertyDevicePanel::carriedField(wxObject* source) {
    const auto* button = dynamic_cast<wxButton*>(source);
    if (button == nullptr || button->GetClientData() == nullptr || button->GetParent() == nullptr)
        return nullptr;
    for (wxWindow* sibling : button->GetParent()->GetChildren()) {
        auto* field = dynamic_cast<wxTextCtrl*>(sibling);
        if (field != nullptr && static_cast<void*>(field) == button->GetClientData()) return field;
    }
    return nullptr;
}

void PropertyDevicePanel::sendDirectRequest(const std::string& request) {
    FRM_ASSERT_GUI_THREAD();
    if (!m_device || !m_transport) {
        LOG_DEBUG(L"%1%", L"internal error (active button)");
        return;
    }
    // The answer goes to the field of the page it was sent from, when it
    // comes; a request that got no reply leaves it empty.
    const bool common = m_currentPage == pages::kCommon;
    const DevicePtr device = m_device;
    runJob<std::string>(
        page_jobs::Wanted(),
        [transport = m_transport, endpoint = m_device->getIp(), request](const page_jobs::Wanted&) {
            std::string reply;
            transport->sync(endpoint, request, reply, 2, 1000);
            boost::algorithm::trim(reply);
            return reply;
        },
        [this, common, device](page_jobs::Outcome<std::string> outcome) {
            if (m_device != device) return;
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            wxTextCtrl* answer = common ? textExchangeAnswer : textDebugLog;
            answer->ChangeValue(base::toWide(*outcome.value));
        });
}

void PropertyDevicePanel::buttonDebugExchangeOnClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::buttonDebugExchangeOnClick");
    const wxTextCtrl* field = carriedField(event.GetEventObject());
    if (field == nullptr) {
        LOG_WARN(L"Ошибка данных.");
        return;
    }
    sendDirectRequest(base::toNarrow(field->GetValue().ToStdWstring()));
}

void PropertyDevicePanel::textDebugExchangeOnPress(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::textDebugExchangeOnPress");
    const auto* field = dynamic_cast<wxTextCtrl*>(event.GetEventObject());
    if (field == nullptr) {
        LOG_WARN(L"Ошибка данных.");
        return;
    }
    sendDirectRequest(base::toNarrow(field->GetValue().ToStdWstring()));
}

// ---- the command rows and suites ----------------------------------------------------------------

void PropertyDevicePanel::exchangeCommandsOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::exchangeCommandsOnButtonClick");
    addExchangeRow(textCommand->GetValue());
    relayoutExchangeRows();
}

void PropertyDevicePanel::addExchangeRow(const wxString& text) {
    FRM_ASSERT_GUI_THREAD();
    auto* row = new wxPanel(scrolledExchange, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    auto* field = new wxTextCtrl(row, wxID_ANY, text, wxDefaultPosition, wxSize(250, -1), wxTE_PROCESS_ENTER);
    sizer->Add(field, 1, wxALL, 5);
    field->Bind(wxEVT_TEXT_ENTER, &PropertyDevicePanel::textDebugExchangeOnPress, this);
    textCommand->Clear();
    // Exact fit: with a text button's own padding GTK needs more than the
    // 30 pixels a one-letter button is given, and warns of a negative width.
    auto* send = new wxButton(row, wxID_ANY, L">", wxDefaultPosition, wxSize(30, -1), wxBU_EXACTFIT);
    send->SetClientData(field);
    send->Bind(wxEVT_BUTTON, &PropertyDevicePanel::buttonDebugExchangeOnClick, this);
    sizer->Add(send, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    auto* remove = new wxButton(row, wxID_ANY, L"-", wxDefaultPosition, wxSize(30, -1), wxBU_EXACTFIT);
    remove->SetClientData(row);
    remove->Bind(wxEVT_BUTTON, &PropertyDevicePanel::removeStrSizerOnClick, this);
    sizer->Add(remove, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    row->SetSizer(sizer);
    row->Layout();
    sizer->Fit(row);
    row->Show(m_exchangeRowsShown);
    sizerCommandRows->Insert(0, row, 0, wxEXPAND | wxALL, 5);
}

void PropertyDevicePanel::removeStrSizerOnClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::removeStrSizerOnClick");
    const auto* button = dynamic_cast<wxButton*>(event.GetEventObject());
    wxWindow* row = button != nullptr ? button->GetParent() : nullptr;
    if (row == nullptr || button->GetClientData() != static_cast<void*>(row) ||
        sizerCommandRows->GetItem(row) == nullptr) {
        LOG_WARN(L"Ошибка данных.");
        return;
    }
    sizerCommandRows->Detach(row);
    row->Hide();
    relayoutExchangeRows();
    // The row holds the button whose click is being handled: it goes once
    // the click is over.
    CallAfter([row] { row->Destroy(); });
}

std::vector<std::wstring> PropertyDevicePanel::getExchangeCommands() const {
    FRM_ASSERT_GUI_THREAD();
    std::vector<std::wstring> commands;
    // The children in creation order: the oldest row first.
    for (wxWindow* row : scrolledExchange->GetChildren()) {
        if (sizerCommandRows->GetItem(row) == nullptr) continue;
        for (wxWindow* child : row->GetChildren())
            if (const auto* field = dynamic_cast<wxTextCtrl*>(child))
                commands.push_back(field->GetValue().ToStdWstring());
    }
    if (!textCommand->IsEmpty()) commands.push_back(textCommand->GetValue().ToStdWstring());
    return commands;
}

void PropertyDevicePanel::applyCommandSuite(const std::vector<std::wstring>& lines) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::applyCommandSuite");
    for (const std::wstring& line : lines) addExchangeRow(line);
    relayoutExchangeRows();
}

void PropertyDevicePanel::clearExchangeRows() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::clearExchangeRows");
    textCommand->Clear();
    textExchangeAnswer->Clear();
    sizerCommandRows->Clear(true);
    relayoutExchangeRows();
}

void PropertyDevicePanel::relayoutExchangeRows() {
    scrolledExchange->FitInside();
    scrolledExchange->Layout();
}

void PropertyDevicePanel::manageCommandSuiteOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::manageCommandSuiteOnButtonClick");
    CmdSuiteDialog dialog(
        this, [this] { clearExchangeRows(); },
        [this](std::vector<std::wstring> lines) { applyCommandSuite(lines); },
        [this] { return getExchangeCommands(); });
    ui::showModal(dialog);
}

void PropertyDevicePanel::onSize(wxSizeEvent& event) {
    event.Skip();
    const bool shown = event.GetSize().GetHeight() >= kExchangeMinHeight;
    if (shown == m_exchangeRowsShown) return;
    m_exchangeRowsShown = shown;
    sizerExchange->Show(sizerCommandRows, shown, true);
    buttonAddCommand->Show(shown);
    Layout();
}

}  // namespace frm
