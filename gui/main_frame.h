#pragma once

#include <atomic>
#include <cstdint>

#include <boost/shared_ptr.hpp>

#include "gui/layout/main_frame.h"

namespace device {
class TransferProtocol;
}

namespace frm {

class ItemDataMap;

/// The main window: owner of the device collection, the zone tree, the item
/// registry and every panel; its start-up loads the state files and starts
/// the transport, its shutdown writes them and stops the services it owns.
/// GUI thread only (updateGui and onPlaybackNotice move themselves there).
class MainFrame : public fb::MainFrame {
public:
    MainFrame(boost::shared_ptr<device::TransferProtocol> transport, bool debugMode, bool fullScreen);
    ~MainFrame() override;

    /// Once, after the streams, the channels and the player exist.
    void Startup();
    /// Runs its body once, on the GUI thread, whichever trigger comes first.
    void Shutdown();
    bool isShutdownDone() const;
    /// A stop from outside (another copy's --quit, a stop signal), queued to
    /// the GUI thread by the application: ends every open box and dialog of
    /// frm::ui; while any is still open, runs again after a short pause (a
    /// timer: a task queued at once from a pending event runs in the same
    /// round, before the boxes' loops can return); then runs Shutdown and
    /// destroys the window, which ends the event loop (exit code 0).
    void stopFromOutside();

    /// The registry the channels read the selection from.
    ItemDataMap* getItemDataMap();
    /// The operator's last action, microseconds since 1601 (any thread).
    void setLastActivity(std::int64_t now);
    std::int64_t getLastActivity() const;

    /// The player engine's title sink: the playing title changed.
    void UpdatePlayingTitle();

    // (the rest is the implementer's)
protected:
    void OnClose(wxCloseEvent& event) override;
    void onUserActivity(wxMouseEvent& event) override;
    void playlistOnButtonClick(wxCommandEvent& event) override;
    void radioOnButtonClick(wxCommandEvent& event) override;
    void drivesOnButtonClick(wxCommandEvent& event) override;
    void schedulerOnButtonClick(wxCommandEvent& event) override;
    void microphoneOnButtonClick(wxCommandEvent& event) override;
    void serviceMessageOnButtonClick(wxCommandEvent& event) override;
    void alarmOnButtonClick(wxCommandEvent& event) override;
    void playGongOnButtonClick(wxCommandEvent& event) override;
    void playAlarmOnButtonClick(wxCommandEvent& event) override;
    void logoVarkoOnLeftUp(wxMouseEvent& event) override;
    void zoneOnButtonClick(wxCommandEvent& event) override;
    void actionOnRadioBox(wxCommandEvent& event) override;
    void executeOnButtonClick(wxCommandEvent& event) override;
    void zoneManagementOnButtonClick(wxCommandEvent& event) override;
};

}  // namespace frm
