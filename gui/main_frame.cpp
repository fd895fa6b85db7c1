// Temporary stand-in until the main window lands: a frame that owns the
// GUI-thread invoker and shuts down once; its handlers do nothing.
#include "gui/main_frame.h"

#include <wx/timer.h>

#include "base/wx/gui_thread_invoker.h"
#include "device/transfer_protocol.h"
#include "gui/ui.h"

namespace frm {

namespace {
std::atomic<bool> s_shutdownDone{false};
std::atomic<std::int64_t> s_lastActivity{0};
boost::shared_ptr<device::TransferProtocol> s_transport;
}  // namespace

MainFrame::MainFrame(boost::shared_ptr<device::TransferProtocol> transport, bool, bool)
    : fb::MainFrame(nullptr, wxID_ANY, "Sonvar") {
    s_transport = transport;
    Bind(wxEVT_TEXT, [](wxCommandEvent& event) {
        if (GuiThreadInvoker::exists()) GuiThreadInvoker::runTask(event);
    }, kGuiInvokerEventId);
    GuiThreadInvoker::createInstance(this);
}

MainFrame::~MainFrame() { GuiThreadInvoker::destroyInstance(); }

void MainFrame::Startup() { s_transport->run(); }

void MainFrame::Shutdown() {
    if (s_shutdownDone.exchange(true)) return;
    GuiThreadInvoker::stop();
    s_transport->stop();
}

bool MainFrame::isShutdownDone() const { return s_shutdownDone; }

void MainFrame::stopFromOutside() {
    if (ui::openCount() > 0) {
        ui::cancelAll();
        // Later, not at once: a task queued from a pending event runs in the
        // same round and would keep the boxes' loops from ever returning.
        static wxTimer* retry = nullptr;
        if (retry == nullptr) {
            retry = new wxTimer;
            retry->Bind(wxEVT_TIMER, [this](wxTimerEvent&) { stopFromOutside(); });
        }
        retry->StartOnce(20);
        return;
    }
    Shutdown();
    Destroy();
}

ItemDataMap* MainFrame::getItemDataMap() { return nullptr; }
void MainFrame::setLastActivity(std::int64_t now) { s_lastActivity = now; }
std::int64_t MainFrame::getLastActivity() const { return s_lastActivity; }
void MainFrame::UpdatePlayingTitle() {}

void MainFrame::OnClose(wxCloseEvent&) {
    Shutdown();
    Destroy();
}
void MainFrame::onUserActivity(wxMouseEvent&) {}
void MainFrame::playlistOnButtonClick(wxCommandEvent&) {}
void MainFrame::radioOnButtonClick(wxCommandEvent&) {}
void MainFrame::drivesOnButtonClick(wxCommandEvent&) {}
void MainFrame::schedulerOnButtonClick(wxCommandEvent&) {}
void MainFrame::microphoneOnButtonClick(wxCommandEvent&) {}
void MainFrame::serviceMessageOnButtonClick(wxCommandEvent&) {}
void MainFrame::alarmOnButtonClick(wxCommandEvent&) {}
void MainFrame::playGongOnButtonClick(wxCommandEvent&) {}
void MainFrame::playAlarmOnButtonClick(wxCommandEvent&) {}
void MainFrame::logoVarkoOnLeftUp(wxMouseEvent&) {}
void MainFrame::zoneOnButtonClick(wxCommandEvent&) {}
void MainFrame::actionOnRadioBox(wxCommandEvent&) {}
void MainFrame::executeOnButtonClick(wxCommandEvent&) {}
void MainFrame::zoneManagementOnButtonClick(wxCommandEvent&) {}

}  // namespace frm
