#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>
#include <wx/timer.h>

#include "base/storage.h"
#include "gui/device_batch.h"
#include "gui/idle_lock.h"
#include "gui/layout/main_frame.h"
#include "gui/zone_element.h"

class ListOfPlaylist;

namespace device {
class DeviceBase;
class DeviceCollection;
class TransferProtocol;
}  // namespace device

namespace frm {

class ItemDataMap;
class PropertyDevicePanel;
class SourceDevicePanel;
class SourceMicrophonePanel;
class SourcePlaylistPanel;
class SourceSchedulerPanel;
class SourceServicePanel;
class ZoneElementPanel;

/// The main window: owner of the device collection, the zone tree, the item
/// registry and every panel; its start-up loads the state files and starts
/// the transport, its shutdown writes them and stops the services it owns.
///
/// Threads: the GUI thread only. updateGui, onPlaybackNotice and
/// lockInterface may be called from any thread and move themselves there
/// through the GUI-thread invoker; setLastActivity and getLastActivity are
/// atomic. The lock-timer thread (IdleLock) reads the last activity and the
/// settings and queues lockInterface. Other threads read the operator's
/// selection from the item registry's snapshot, never from the controls.
/// Shutdown runs on the GUI thread, once, whichever trigger comes first (the
/// confirmed close, the session end, a stop from outside).
class MainFrame : public fb::MainFrame {
public:
    typedef boost::shared_ptr<device::DeviceBase> DevicePtr;

    MainFrame(boost::shared_ptr<device::TransferProtocol> transport, bool debugMode, bool fullScreen);
    ~MainFrame() override;

    /// Once, after the streams, the channels and the player exist: the clock,
    /// the geometry, the state files, the first zone view, then the transport.
    void Startup();
    /// Runs its body once, on the GUI thread, whichever trigger comes first.
    void Shutdown();
    bool isShutdownDone() const;

    /// A stop request from another copy or a signal, queued to the GUI
    /// thread: ends every open box and dialog (answering No or Cancel), comes
    /// back while any is still open, then shuts down and destroys the window,
    /// so that the event loop ends and the application's exit runs.
    void stopFromOutside();

    /// The registry the channels read the selection from.
    ItemDataMap* getItemDataMap();
    /// The same registry for those that outlive the window (the channels
    /// read it until the application destroys them after the window).
    std::shared_ptr<ItemDataMap> shareItemDataMap();
    /// The registry of every device; only its objects are filed in zones.
    boost::shared_ptr<device::DeviceCollection> getDeviceCollection() const { return deviceCollection; }
    /// The operator's last action, microseconds since 1601 (any thread).
    void setLastActivity(std::int64_t now);
    std::int64_t getLastActivity() const;

    /// The player engine's title sink: the playing title changed.
    void UpdatePlayingTitle();

    /// A device's state changed (the collection's handler, any thread): a
    /// device in no zone is filed, its zone's row shown; a known one has its
    /// row refreshed; an object the collection no longer holds (a deleted
    /// device's report that was on its way) is not filed. From another
    /// thread the device joins the batch that waits for the GUI thread
    /// (once, however often it changes meanwhile: the work reads the newest
    /// state); the GUI thread takes a batch at most once per batch period
    /// and files and redraws once for all of it.
    void updateGui(DevicePtr device);
    /// The shortest time between two batches of updateGui (100 ms); tests
    /// shorten it.
    void setDeviceBatchPeriod(std::chrono::milliseconds period) { deviceBatchPeriod = period; }

    /// GUI thread: the batch of updateGui is due; it is taken now or when
    /// the period since the last batch has passed.
    void deviceBatchDue();
    void takeDeviceBatch();
    /// updateGui's work on the GUI thread for a batch of distinct devices.
    void updateDevices(const std::vector<DevicePtr>& devices);
    void updateTitle();
    void loadDeviceCollection(const std::wstring& path);
    void saveDeviceCollection(const std::wstring& path);

    /// Shows one panel of the content area alone (none: hides them all).
    void displayMainView(wxWindow* panel);
    /// Presses one page toggle and releases the zones; none: releases the
    /// page toggles and brings the last zone view back.
    void selectPageButton(wxToggleButton* button);
    void showZoneManagement(bool show);

    /// Switches the zone page, the zone controls and the title into or out
    /// of administrator mode.
    void enableAdministratorMode(bool on);
    /// Hands the five playback sources (music, radio, drives, service
    /// messages, recorded messages) to the scheduler page.
    void updateSchedulerSources();
    /// The alarm banner of the top bar; the empty text hides it.
    void showAlarmState(const std::wstring& text);
    /// The alarm channel's completion codes of a gong or alarm (any thread):
    /// 0 and 2 "playing", 1 "finished", 3 stops, 5 back to idle.
    void onPlaybackNotice(int notice);
    /// 0 gong, 1 alarm, 2 stop, 3 stopped (back to idle). The gong, the
    /// alarm and the stop show at once and run on the alarm channel's
    /// request thread.
    void playByAlarmChannel(int action);
    /// The launch of gong or alarm action `action` was refused: back to idle
    /// unless another action came since.
    void alarmRefused(unsigned action);
    void showSettings(wxCommandEvent& event);
    void devicePropertyOnButtonClick(wxCommandEvent& event);
    void lockInterfaceOnButtonClick(wxCommandEvent& event);
    void lockAdminOnButtonClick(wxCommandEvent& event);
    /// Any thread: shows the lock dialog until the right password is typed,
    /// with the lock timer stopped meanwhile; does nothing while a lock
    /// dialog is already shown.
    void lockInterface();
    /// Before Startup: the lock timer's period and minute (tests shrink them).
    void setIdleLockTiming(const IdleLock::Timing& timing);

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

private:
    enum class PasswordAnswer { kRight, kWrong, kCancelled };

    void onGuiInvokerEvent(wxCommandEvent& event);
    /// The password prompt against the stored password of `key` (created
    /// with the default when missing).
    PasswordAnswer askPassword(const char* key);
    /// The event of a click on "Все зоны", as the first zone view takes it.
    wxCommandEvent allZonesEvent() const;
    /// The page toggle's own handler body: its preparation done, shows the
    /// panel and presses the toggle, or returns to the last zone view when
    /// the click released it.
    void showPage(wxCommandEvent& event, wxWindow* panel, wxToggleButton* button);
    /// The gong file: place.pathFileGong with ".mp3" in place.pathDirGong,
    /// or in the data folder's "gong" while that key is empty.
    std::wstring gongPath() const;
    void deleteSelectedZones(const std::vector<ZoneElement::Ptr>& zones);
    void startLockTimer();
    void stopLockTimer();
    void restoreGeometry();
    void saveGeometry();
    /// Every state file of the data folder, through its owner's save.
    void saveStateFiles();
    /// The state files' trees for the background saver (GUI thread, on the
    /// state timer): what the operator changed reaches its file within
    /// seconds, not only at exit.
    void offerStateFiles();
    void lockTimerThread();
    std::wstring dataFile(const wchar_t* name) const;

    bool administratorMode = false;
    const bool debugMode;
    const bool fullScreen;
    std::atomic<bool> shutdownDone{false};
    /// The gong, alarm and stop actions handed to the alarm channel, counted
    /// on the GUI thread.
    unsigned alarmActions = 0;
    /// The ids of the devices: loaded ones on the GUI thread, discovered ones
    /// on the collection's worker.
    std::atomic<std::uint32_t> deviceCounter{0};
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> deviceCollection;
    std::shared_ptr<ItemDataMap> itemDataMap;
    std::atomic<std::int64_t> lastActivity{0};
    /// The devices whose updateGui waits for the GUI thread.
    DeviceBatch deviceBatch;
    wxTimer deviceBatchTimer;  // a batch that came sooner than the period after the last
    std::chrono::milliseconds deviceBatchPeriod{100};
    std::chrono::steady_clock::time_point lastDeviceBatch;
    boost::thread lockTimer;
    IdleLock::Timing idleLockTiming;
    bool lockDialogShown = false;
    wxTimer stopRetry;  // stopFromOutside waiting for open boxes to close
    wxTimer stateTimer;  // offerStateFiles, from the end of Startup to Shutdown
    std::unique_ptr<storage::BackgroundSaver> stateSaver;
    const std::wstring dataFolder;

    wxWindow* currentView = nullptr;
    std::vector<wxWindow*> mainViews;
    std::vector<wxToggleButton*> pageButtons;
    boost::shared_ptr<wxCommandEvent> lastZoneEvent;
    boost::shared_ptr<ListOfPlaylist> musicPlaylists;
    boost::shared_ptr<ListOfPlaylist> radioPlaylists;
    ZoneElement::Ptr root;
    ZoneElement::Ptr newDevicesZone;

    // Children of contentPanel, destroyed by the shutdown (or the toolkit).
    ZoneElementPanel* zoneElementPanel = nullptr;
    SourceDevicePanel* devicePanel = nullptr;
    SourceSchedulerPanel* schedulerPanel = nullptr;
    SourceMicrophonePanel* microphonePanel = nullptr;
    SourcePlaylistPanel* radioPanel = nullptr;
    SourceServicePanel* alarmMessagePanel = nullptr;
    SourcePlaylistPanel* musicPanel = nullptr;
    SourceServicePanel* servicePanel = nullptr;
    PropertyDevicePanel* propertyPanel = nullptr;

    wxDECLARE_EVENT_TABLE();
};

}  // namespace frm
