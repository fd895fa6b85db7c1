#include "gui/main_frame.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_map>

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>
#include <wx/app.h>
#include <wx/sizer.h>

#include "audio/alarm_channel.h"
#include "audio/device_action.h"
#include "audio/list_of_playlist.h"
#include "audio/loudspeaker_ledger.h"
#include "audio/playback.h"
#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/clock.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/password.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_guards.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/transfer_protocol.h"
#include "gui/about_dialog.h"
#include "gui/device_list_store.h"
#include "gui/gui_clock.h"
#include "gui/gui_thread.h"
#include "gui/icons.h"
#include "gui/item_data_map.h"
#include "gui/lock_dialog.h"
#include "gui/notice_window.h"
#include "gui/property_device_panel.h"
#include "gui/settings_dialog.h"
#include "gui/source_device_panel.h"
#include "gui/source_microphone_panel.h"
#include "gui/source_playlist_panel.h"
#include "gui/source_scheduler_panel.h"
#include "gui/source_service_panel.h"
#include "gui/ui.h"
#include "gui/zone_element_panel.h"
#include "os/data_directory.h"

namespace frm {

namespace {

const wchar_t* const kProductTitle = L"Сонвар";
const wchar_t* const kVersion = L"1.2.0.470";
const wchar_t* const kNotice = L"© Varko Security Systems";
const wchar_t* const kNewDevicesZone = L"Новые усилители";
const int kStopRetryMilliseconds = 20;
/// The quit's longest wait for the loudspeakers' give-back.
constexpr std::chrono::milliseconds kGiveBackAtExitAtMost{5000};
/// How often the state files are offered to the background saver: a change
/// is in its file a few seconds after the operator confirmed it. Where the
/// trees take long to build (a large site), the pause grows so that they
/// take at most a twentieth of the GUI thread.
const int kStateFilesMilliseconds = 3000;
const int kStateFilesShare = 20;
const wchar_t* const kMessageCaption = L"Сообщение";
const wchar_t* const kGongLabel = L"Гонг";
const wchar_t* const kAlarmLabel = L"Тревога";
const wchar_t* const kStopLabel = L"Стоп";

// The items of the zone management's action box.
enum { kAddZone = 0, kRenameZone = 1, kDeleteZone = 2 };
// The actions of playByAlarmChannel.
enum { kGongAction = 0, kAlarmAction = 1, kStopAction = 2, kStoppedAction = 3 };
// The gong and the alarm pre-empt every other notice, at full volume.
const int kButtonPriority = 4;
const int kButtonVolume = 100;

/// The main window's own checks: a box with "Сообщение".
void tell(const wchar_t* text) { ui::messageBox(text, kMessageCaption, wxOK | wxCENTRE); }

/// The password stored under `key`, decoded; a missing key is created with
/// the default first.
std::wstring storedPassword(const char* key) {
    pref::Guard guard(g_pref);
    if (const libconfig::Setting* stored = pref::find(g_pref, key, pref::Type::TypeString))
        return decodePassword(base::fromUtf8(stored->c_str()));
    pref::create(g_pref, key, pref::Type::TypeString) = base::toUtf8(defaultStoredPassword);
    return decodePassword(defaultStoredPassword);
}

}  // namespace

wxBEGIN_EVENT_TABLE(MainFrame, fb::MainFrame)
    EVT_TEXT(kGuiInvokerEventId, MainFrame::onGuiInvokerEvent)
wxEND_EVENT_TABLE()

MainFrame::MainFrame(boost::shared_ptr<device::TransferProtocol> transport, bool debugMode, bool fullScreen)
    : fb::MainFrame(nullptr, wxID_ANY, kProductTitle, wxDefaultPosition, wxSize(1024, 700),
                    wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL | (fullScreen ? wxSTAY_ON_TOP : 0)),
      debugMode(debugMode),
      fullScreen(fullScreen),
      transport(std::move(transport)),
      dataFolder(os::getUserDataDirectory()) {
    FRM_ASSERT_GUI_THREAD();
    dbg_puts(TRACE, "main frame: begin");
    GuiThreadInvoker::createInstance(this);
    NoticeWindow::setOwner(this);  // the log's notices stay above the main window, never modal
    stopRetry.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { stopFromOutside(); });
    stateTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { offerStateFiles(); });
    deviceBatchTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { takeDeviceBatch(); });

    const bool alarmButtons = pref::getBool("mainWindow.alarmButtons", false);
    playGong->Show(alarmButtons);
    playAlarm->Show(alarmButtons);
    logoVarko->SetBitmap(loadLogoBitmap());
    SetIcons(loadApplicationIcons());
    updateTitle();

    zoneRow->Hide();
    newDevicesZone = ZoneElement::createZone(zoneList, wxCommandEventHandler(MainFrame::zoneOnButtonClick),
                                             kNewDevicesZone);
    newDevicesZone->setShown(false);
    root = ZoneElement::createRoot(allZones);
    root->addElement(newDevicesZone);

    const int basePort = pref::getInt("multicast.basePort", 11990);
    deviceCollection = device::DeviceCollection::create(this->transport, static_cast<std::uint16_t>(basePort));
    deviceCollection->setInterfaceIp(base::toNarrow(pref::getString("net.interfaceIp")));
    deviceCollection->setStateChangedHandler([this](DevicePtr device) { updateGui(device); });
    deviceCollection->setNewDeviceHandler(
        [this](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++deviceCounter; });

    zoneElementPanel = new ZoneElementPanel(contentPanel, root, deviceCollection);
    itemDataMap = std::make_shared<ItemDataMap>(zoneElementPanel->deviceList, root);
    zoneElementPanel->setItemDataMap(itemDataMap.get());

    devicePanel = new SourceDevicePanel(contentPanel);
    schedulerPanel = new SourceSchedulerPanel(contentPanel, root, deviceCollection);
    microphonePanel = new SourceMicrophonePanel(
        contentPanel, itemDataMap.get(), [this](const std::wstring& text) { showAlarmState(text); },
        schedulerPanel->getCore());
    radioPanel = new SourcePlaylistPanel(contentPanel, schedulerPanel, true);
    // The message pages list the microphone page's recordings beside their
    // own messages.
    SourceServicePanel::Outside messageOutside = SourceServicePanel::Outside::system();
    messageOutside.recordFolder = [this] {
        return microphonePanel != nullptr ? microphonePanel->recordDirectory() : std::wstring();
    };
    alarmMessagePanel =
        new SourceServicePanel(contentPanel, schedulerPanel, &schedulerPanel->getCore(), true, messageOutside);
    musicPanel = new SourcePlaylistPanel(contentPanel, schedulerPanel, false);
    zoneElementPanel->setIsUsedDevice(
        [this](const DevicePtr& device) { return schedulerPanel != nullptr && schedulerPanel->isUsedDevice(device); });
    servicePanel =
        new SourceServicePanel(contentPanel, schedulerPanel, &schedulerPanel->getCore(), false, messageOutside);

    propertyPanel = new PropertyDevicePanel(contentPanel, deviceCollection, itemDataMap.get(), this->transport,
                                            debugMode);
    propertyPanel->setCallbacks([this] { displayMainView(zoneElementPanel); },
                                [this] { zoneElementPanel->updateCurrentZone(); });
    microphonePanel->setMessageUseTests(
        [this](const std::wstring& path) { return servicePanel != nullptr && servicePanel->isMessageUsed(path); },
        [this](const std::wstring& path) {
            return alarmMessagePanel != nullptr && alarmMessagePanel->isMessageUsed(path);
        });

    mainViews = {zoneElementPanel, musicPanel,     alarmMessagePanel, devicePanel,  microphonePanel,
                 radioPanel,       schedulerPanel, servicePanel,      propertyPanel};
    auto* contentSizer = new wxBoxSizer(wxVERTICAL);
    for (wxWindow* view : mainViews) contentSizer->Add(view, 1, wxEXPAND | wxALL, 5);
    contentPanel->SetSizer(contentSizer);
    displayMainView(zoneElementPanel);

    pageButtons = {playlist, radio, drives, scheduler, microphone, serviceMessage, alarm};
    musicPlaylists = boost::make_shared<ListOfPlaylist>();
    radioPlaylists = boost::make_shared<ListOfPlaylist>();

    zoneElementPanel->generalPropertyCallback = [this](wxCommandEvent& event) { showSettings(event); };
    zoneElementPanel->devicePropertyCallback = [this](wxCommandEvent& event) { devicePropertyOnButtonClick(event); };
    zoneElementPanel->lockInterfaceCallback = [this](wxCommandEvent& event) { lockInterfaceOnButtonClick(event); };
    zoneElementPanel->lockAdminCallback = [this](wxCommandEvent& event) { lockAdminOnButtonClick(event); };

    enableAdministratorMode(false);
    dbg_puts(TRACE, "main frame: end");
}

MainFrame::~MainFrame() {
    dbg_puts(TRACE3, "~main frame: begin");
    if (!shutdownDone) {
        // Start-up failed or the window went without a shutdown: nothing of
        // ours may keep calling into it, and no state file is written.
        GuiClock::destroyInstance();
        stopLockTimer();
        deviceCollection->stop();
        // A launch or stop handed over calls back into the window; with the
        // invoker stopped, one that asks the operator is answered No.
        GuiThreadInvoker::stop();
        if (AlarmChannel* alarm = AlarmChannel::instance()) alarm->drainRequests();
    }
    itemDataMap.reset();
    GuiThreadInvoker::destroyInstance();
    dbg_puts(TRACE3, "~main frame: end");
}

void MainFrame::Startup() {
    FRM_ASSERT_GUI_THREAD();
    dbg_puts(TRACE, "MainFrame::Startup(). startup begin");

    dbg_puts(TRACE, "MainFrame::Startup(). create gui clock");
    GuiClock::createInstance(clockTime, clockDate);
    if (fullScreen)
        ShowFullScreen(true, wxFULLSCREEN_ALL);
    else
        restoreGeometry();

    dbg_puts(TRACE, "MainFrame::Startup(). load device collection");
    loadDeviceCollection(dataFile(L"device_collection.xml"));
    dbg_puts(TRACE, "MainFrame::Startup(). load device list of playlists");
    musicPlaylists->load(dataFile(L"list_of_playlist_music.xml"));
    // Its rows are filled from the event loop, after the window has shown.
    musicPanel->fillAhead(musicPlaylists);
    dbg_puts(TRACE, "MainFrame::Startup(). load list of radio stations");
    radioPlaylists->load(dataFile(L"list_of_playlist_radio.xml"));
    dbg_puts(TRACE, "MainFrame::Startup(). init device panel");
    devicePanel->load(dataFile(L"device_playback.xml"));
    dbg_puts(TRACE, "MainFrame::Startup(). init service message panel");
    servicePanel->load(dataFile(L"service_message.xml"));
    dbg_puts(TRACE, "MainFrame::Startup(). init alarm message panel");
    alarmMessagePanel->load(dataFile(L"alarm_message.xml"));
    dbg_puts(TRACE, "MainFrame::Startup(). init scheduler and one panel");
    updateSchedulerSources();
    schedulerPanel->load(dataFile(L"scheduler.xml"));
    dbg_puts(TRACE, "MainFrame::Startup(). init zones");
    root->load(dataFile(L"zone_collection.xml"), *deviceCollection, zoneList,
               wxCommandEventHandler(MainFrame::zoneOnButtonClick), newDevicesZone);
    itemDataMap->refreshSnapshot();

    dbg_puts(TRACE, "MainFrame::Startup(). init lock timer");
    setLastActivity(nowMicroseconds());
    startLockTimer();

    dbg_puts(TRACE, "MainFrame::Startup(). init button click events");
    wxCommandEvent event = allZonesEvent();
    zoneOnButtonClick(event);

    // The files as loaded are the background saver's first trees: written
    // again only when they change.
    stateSaver = std::make_unique<storage::BackgroundSaver>();
    offerStateFiles();

    dbg_puts(TRACE, "MainFrame::Startup(). run transfer protocol");
    transport->run();
    dbg_puts(TRACE, "MainFrame::Startup(). startup end");
}

void MainFrame::Shutdown() {
    FRM_ASSERT_GUI_THREAD();
    if (shutdownDone.exchange(true)) return;
    dbg_puts(TRACE3, "main frame: shutdown begin");

    propertyPanel->killFocus();
    // An Apply writing to a device ends its writes (bounded) while the
    // transport still runs; one that has not begun writes nothing.
    propertyPanel->finishApplyBeforeExit();
    // The exit save below is the last word on every state file.
    stateTimer.Stop();
    if (stateSaver) stateSaver->stop();
    GuiClock::destroyInstance();
    if (g_pref != nullptr) pref::save(g_pref);

    displayMainView(nullptr);
    topPanel->Disable();
    bodyPanel->Hide();
    wxTheApp->Yield(true);

    // What the notices still hold goes back while the loudspeakers can be
    // told, once and last: first no job of either channel reaches a
    // loudspeaker any more (a service message's pause, an alarm's re-hold,
    // a launch handed over), then every loudspeaker gets its own settings
    // back and the answers are waited for, as long as the loudspeakers'
    // reply times say their give-back takes when a datagram to each is lost,
    // but never longer than kGiveBackAtExitAtMost: a loudspeaker that gives
    // no answer does not hold the quit.
    if (PlayerChannel* player = PlayerChannel::instance()) player->beginExit();
    // The give-back is the last the loudspeakers are asked: it goes at the
    // devices' own resend time and a step follows the previous one's answer
    // at once, however late they were learnt to be.
    transport->windUp();
    if (AlarmChannel* alarm = AlarmChannel::instance()) {
        alarm->beginExit();
        const std::shared_ptr<LoudspeakerLedger> ledger = LoudspeakerLedger::instance();
        alarm->giveBackBeforeExit(ledger ? std::min(ledger->giveBackLimit(), kGiveBackAtExitAtMost)
                                         : std::chrono::milliseconds(0));
    }
    transport->stop();
    stopLockTimer();
    if (base::ThreadDispatcher* dispatcher = base::ThreadDispatcher::instance()) dispatcher->shutdown();
    GuiThreadInvoker::stop();
    // The alarm channel's launches and stops that the window and its pages
    // handed over call back into them; the one that runs ends at once now
    // that no loudspeaker answers and no question can be asked.
    if (AlarmChannel* alarm = AlarmChannel::instance()) alarm->drainRequests();

    if (!fullScreen) saveGeometry();
    LOG_TRACE(L"%1%", L"main frame: save settings from panels...");
    saveStateFiles();

    LOG_TRACE(L"%1%", L"main frame: shutdown...");
    deviceCollection->stop();
    propertyPanel->shutdown();
    devicePanel->stopThread();
    schedulerPanel->shutdown();
    // Nothing queued late may start the engine again once it is shut down.
    if (Player* player = Player::instance()) player->setShuttingDown();
    if (g_player_engine != nullptr) g_player_engine->shutdown();
    base::flushLog();

    LOG_TRACE3(L"%1%", L"main frame: destroy panels");
    itemDataMap->detachList();  // the zone panel's list goes with the panels
    wxSizer* contentSizer = contentPanel->GetSizer();
    for (wxWindow* view : mainViews) {
        view->DestroyChildren();
        if (contentSizer != nullptr) contentSizer->Detach(view);
    }
    mainViews.clear();
    LOG_TRACE3(L"%1%", L"main frame: destroy children of main view");
    contentPanel->DestroyChildren();
    currentView = nullptr;
    zoneElementPanel = nullptr;
    devicePanel = nullptr;
    schedulerPanel = nullptr;
    microphonePanel = nullptr;
    radioPanel = nullptr;
    alarmMessagePanel = nullptr;
    musicPanel = nullptr;
    servicePanel = nullptr;
    propertyPanel = nullptr;
    dbg_puts(TRACE3, "main frame: shutdown end");
}

bool MainFrame::isShutdownDone() const { return shutdownDone; }

void MainFrame::stopFromOutside() {
    FRM_ASSERT_GUI_THREAD();
    if (ui::openCount() > 0) {
        // A window destroyed under a running ShowModal crashes: the boxes end
        // first, and this runs again once their loops have returned. A timer,
        // not a queued call: an ending loop runs every queued call before it
        // returns, so a call that queued itself again would keep it running.
        ui::cancelAll();
        stopRetry.StartOnce(kStopRetryMilliseconds);
        return;
    }
    Shutdown();
    Destroy();
}

void MainFrame::OnClose(wxCloseEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"%1%(..)", L"frm::MainFrame::OnClose");
    if (fullScreen && event.CanVeto()) {
        event.Veto();
        return;
    }
    if (shutdownDone) {
        LOG_IMPOR(L"force shutdown...");
        base::flushLog();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::fflush(nullptr);
        // The services are stopped but not freed; their destructors must not
        // run under threads that may still be ending.
        std::_Exit(2);
    }
    if (event.CanVeto() && !ui::askYesNo(L"Действительно хотите завершить работу приложения?", L"Завершение работы",
                                         wxNO_DEFAULT | wxICON_QUESTION)) {
        event.Veto();
        return;
    }
    event.Skip();
    Shutdown();
}

ItemDataMap* MainFrame::getItemDataMap() { return itemDataMap.get(); }

std::shared_ptr<ItemDataMap> MainFrame::shareItemDataMap() { return itemDataMap; }

void MainFrame::setLastActivity(std::int64_t now) { lastActivity.store(now); }

std::int64_t MainFrame::getLastActivity() const { return lastActivity.load(); }

void MainFrame::UpdatePlayingTitle() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::MainFrame::UpdatePlayingTitle");
    if (zoneElementPanel != nullptr) zoneElementPanel->refreshDevices();
}

void MainFrame::onGuiInvokerEvent(wxCommandEvent& event) {
    if (GuiThreadInvoker::exists()) GuiThreadInvoker::runTask(event);
}

void MainFrame::updateTitle() {
    FRM_ASSERT_GUI_THREAD();
    wxString title = wxString::Format(L"%s %s - %s %s", kProductTitle, kVersion, kNotice,
                                      administratorMode ? L"[Администрирование]" : L"");
    SetTitle(title.Trim());  // no trailing blank outside administrator mode
}

void MainFrame::loadDeviceCollection(const std::wstring& path) {
    frm::loadDeviceCollection(path, *deviceCollection, [this] { return ++deviceCounter; });
}

void MainFrame::saveDeviceCollection(const std::wstring& path) {
    frm::saveDeviceCollection(path, *deviceCollection);
}

std::wstring MainFrame::dataFile(const wchar_t* name) const { return dataFolder + L"/" + name; }

// ---- views -------------------------------------------------------------------

void MainFrame::displayMainView(wxWindow* panel) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"displayMainView: begin");
    setLastActivity(nowMicroseconds());
    if (panel == currentView) return;
    {
        GuiFreezer freeze(bodyPanel);
        for (wxWindow* view : mainViews) view->Hide();
        currentView = panel;
        if (panel != nullptr) {
            panel->Show();
            contentPanel->SetClientSize(panel->GetSize());
        }
        bodyPanel->Layout();
    }
    LOG_TRACE2(L"%1%", L"displayMainView: end");
}

void MainFrame::selectPageButton(wxToggleButton* button) {
    FRM_ASSERT_GUI_THREAD();
    if (button != nullptr) {
        showZoneManagement(false);
        for (wxToggleButton* page : pageButtons) page->SetValue(false);
        button->SetValue(true);
        root->setChecked(false);
        itemDataMap->refreshSnapshot();
        return;
    }
    for (wxToggleButton* page : pageButtons) page->SetValue(false);
    if (lastZoneEvent) {
        wxCommandEvent event(*lastZoneEvent);
        zoneOnButtonClick(event);
    }
}

void MainFrame::showZoneManagement(bool show) {
    FRM_ASSERT_GUI_THREAD();
    setLastActivity(nowMicroseconds());
    zoneName->ChangeValue(wxEmptyString);
    zoneManagementPanel->Show(show);
    zonePanel->Layout();
    zoneControlPanel->Layout();
    zoneManagementPanel->Layout();
    // The box may need a wider zone column ("Удалить" of "Действие" would
    // run over its edge): the column's own parent lays it out again.
    bodyPanel->Layout();
}

void MainFrame::zoneOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    if (shutdownDone) return;
    lastZoneEvent.reset();
    propertyPanel->killFocus();
    displayMainView(zoneElementPanel);

    newDevicesZone->setShown(!newDevicesZone->getDevices().empty());

    root->setChecked(false);
    selectPageButton(nullptr);
    ZoneElement::extractZoneElement(event)->setChecked(true);

    // The rebuild drops the old rows itself, after it has noted which
    // devices were selected: dropping them first would lose the selection.
    zoneElementPanel->updateCurrentZone();
    itemDataMap->refreshSnapshot();

    const ZoneElement::Ptr* single = nullptr;
    int selected = 0;
    for (const ZoneElement::Ptr& zone : root->getZones()) {
        if (zone == newDevicesZone || !zone->isSelected()) continue;
        ++selected;
        single = &zone;
    }
    zoneName->ChangeValue(selected == 1 ? wxString((*single)->getName()) : wxString());

    setLastActivity(nowMicroseconds());
    lastZoneEvent = boost::make_shared<wxCommandEvent>(event);
}

// ---- device refresh ------------------------------------------------------------

void MainFrame::updateGui(DevicePtr device) {
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::updateGui");
    if (!GuiThreadInvoker::exists()) return;
    if (!device) {
        LOG_WARN(L"internal error. Device Update GUI");
        return;
    }
    if (!wxIsMainThread()) {
        if (deviceBatch.add(device)) GuiThreadInvoker::add([this] { deviceBatchDue(); });
        return;
    }
    // A task queued before the shutdown may run after the panels are gone.
    if (shutdownDone) return;
    updateDevices({device});
}

void MainFrame::deviceBatchDue() {
    const auto due = lastDeviceBatch + deviceBatchPeriod;
    const auto now = std::chrono::steady_clock::now();
    if (now >= due) {
        takeDeviceBatch();
        return;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    deviceBatchTimer.StartOnce(static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait, 1)));
}

void MainFrame::takeDeviceBatch() {
    lastDeviceBatch = std::chrono::steady_clock::now();
    const std::vector<DevicePtr> devices = deviceBatch.take();
    if (shutdownDone || devices.empty()) return;
    updateDevices(devices);
}

namespace {

/// How many zones at or below `zone` hold each device.
void countPlaces(const ZoneElement& zone, std::unordered_map<const device::DeviceBase*, unsigned>& places) {
    for (const ZoneElement::DevicePtr& device : zone.getDevices()) ++places[device.get()];
    for (const ZoneElement::Ptr& child : zone.getZones()) countPlaces(*child, places);
}

}  // namespace

void MainFrame::updateDevices(const std::vector<DevicePtr>& devices) {
    FRM_ASSERT_GUI_THREAD();
    // One walk of the tree for the whole batch: which devices are filed.
    std::unordered_map<const device::DeviceBase*, unsigned> places;
    countPlaces(*root, places);
    std::vector<DevicePtr> known;
    std::size_t filed = 0;
    bool newcomers = false;
    for (const DevicePtr& device : devices) {
        const auto found = places.find(device.get());
        const unsigned count = found == places.end() ? 0 : found->second;
        LOG_TRACE2(L"wxThread: updateGui, count=%1%", count);
        if (count > 0) {
            known.push_back(device);
            continue;
        }
        // A report that was on its way when the device was deleted: the
        // object is no longer the collection's, and filed it would stand
        // beside the one the collection makes when the device is found again.
        if (deviceCollection->searchFor(device->getHardwareAddress()) != device) {
            LOG_DEBUG(L"device '%1%' is no longer in the collection: not filed", device->getTitle());
            continue;
        }
        // A zone that kept this device's address while it was unknown takes
        // it back; only a device nobody claims is new.
        if (!root->claimPendingDevice(device)) {
            newDevicesZone->addElement(device);
            newcomers = true;
        }
        ++filed;
    }
    LOG_DEBUG(L"device batch: %1% devices, %2% filed now", devices.size(), filed);
    if (newcomers) newDevicesZone->setShown(true);
    if (filed > 0) {
        // The rebuild refreshes the rows of the known devices too.
        zoneElementPanel->updateCurrentZone();
        itemDataMap->refreshSnapshot();
    } else {
        zoneElementPanel->refreshDevices(known);
    }
    if (!known.empty()) propertyPanel->refreshZonePage();
}

// ---- activity and geometry -------------------------------------------------------

void MainFrame::onUserActivity(wxMouseEvent& event) {
    event.Skip();
    setLastActivity(nowMicroseconds());
}

void MainFrame::restoreGeometry() {
    FRM_ASSERT_GUI_THREAD();
    pref::Guard guard(g_pref);
    const int top = pref::getInt("mainWindow.top", -1);
    const bool hadLeft = pref::find(g_pref, "mainWindow.left", pref::Type::TypeInt) != nullptr;
    const int left = pref::getInt("mainWindow.left", -1);
    if (hadLeft && left >= 0 && top >= 0) Move(left, top);

    const int hight = pref::getInt("mainWindow.hight", -1);
    const bool hadWidth = pref::find(g_pref, "mainWindow.width", pref::Type::TypeInt) != nullptr;
    const int width = pref::getInt("mainWindow.width", -1);
    if (hadWidth && width > 0 && hight > 0) SetSize(width, hight);

    if (pref::getBool("mainWindow.maximized", false)) Maximize(true);
}

void MainFrame::saveGeometry() {
    FRM_ASSERT_GUI_THREAD();
    pref::Guard guard(g_pref);
    const bool maximized = IsMaximized();
    pref::create(g_pref, "mainWindow.maximized", pref::Type::TypeBoolean) = maximized;
    if (maximized) return;
    const wxPoint position = GetPosition();
    const wxSize size = GetSize();
    pref::create(g_pref, "mainWindow.left", pref::Type::TypeInt) = position.x;
    pref::create(g_pref, "mainWindow.top", pref::Type::TypeInt) = position.y;
    pref::create(g_pref, "mainWindow.width", pref::Type::TypeInt) = size.x;
    pref::create(g_pref, "mainWindow.hight", pref::Type::TypeInt) = size.y;
}

// ---- pages -------------------------------------------------------------------------------

void MainFrame::showPage(wxCommandEvent& event, wxWindow* panel, wxToggleButton* button) {
    displayMainView(panel);
    selectPageButton(event.IsChecked() ? button : nullptr);
}

void MainFrame::playlistOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::playlistOnButtonClick");
    propertyPanel->killFocus();
    musicPanel->setListOfPlaylist(musicPlaylists);
    showPage(event, musicPanel, playlist);
}

void MainFrame::radioOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::radioOnButtonClick");
    propertyPanel->killFocus();
    radioPanel->setListOfPlaylist(radioPlaylists);
    showPage(event, radioPanel, radio);
}

void MainFrame::drivesOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::drivesOnButtonClick");
    devicePanel->refreshDrives();
    showPage(event, devicePanel, drives);
}

void MainFrame::schedulerOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::schedulerOnButtonClick");
    updateSchedulerSources();
    showPage(event, schedulerPanel, scheduler);
}

void MainFrame::microphoneOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::microphoneOnButtonClick");
    microphonePanel->fillRecordList(microphonePanel->recordDirectory());
    microphonePanel->fillGongChoice();
    showPage(event, microphonePanel, microphone);
}

void MainFrame::serviceMessageOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::serviceMessageOnButtonClick");
    servicePanel->fillGongChoice();
    servicePanel->scanMessageDirectories();
    showPage(event, servicePanel, serviceMessage);
}

void MainFrame::alarmOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::alarmOnButtonClick");
    setLastActivity(nowMicroseconds());
    if (!event.IsChecked()) {
        // The page is left through another toggle or a zone, never by
        // releasing its own toggle.
        alarm->SetValue(true);
        return;
    }
    switch (askPassword("security.playbackAlarm")) {
    case PasswordAnswer::kRight:
        LOG_INFO(L"Пароль введён верный. Доступ к тревожным оповещениям");
        alarmMessagePanel->refreshChoices();
        displayMainView(alarmMessagePanel);
        selectPageButton(alarm);
        break;
    case PasswordAnswer::kWrong:
        alarm->SetValue(false);
        LOG_NOTICE(L"Допущена ошибка при вводе пароля. Нет доступа к тревожным оповещениям");
        break;
    case PasswordAnswer::kCancelled:
        alarm->SetValue(false);
        break;
    }
}

void MainFrame::updateSchedulerSources() {
    FRM_ASSERT_GUI_THREAD();
    const auto source = [](const wchar_t* key, const wxToggleButton* button) {
        wxString title = button->GetLabel();
        title.Replace(L"\n", L" ");
        return boost::make_shared<PlaybackCollection>(key, title.ToStdWstring());
    };
    const auto music = source(L"playlist", playlist);
    addPlaylistPlaybacks(music, musicPlaylists->getAll());
    const auto radioStations = source(L"radio", radio);
    addPlaylistPlaybacks(radioStations, radioPlaylists->getAll());

    const auto drivePlaybacks = source(L"device", drives);
    std::vector<std::wstring> driveNames = devicePanel->getDrives();
    std::sort(driveNames.begin(), driveNames.end());
    std::vector<boost::shared_ptr<Playlist>> drivePlaylists;
    for (const std::wstring& name : driveNames)
        drivePlaylists.push_back(boost::make_shared<Playlist>(name, false));
    addPlaylistPlaybacks(drivePlaybacks, drivePlaylists);

    const auto messages = source(L"serviceMessage", serviceMessage);
    for (const auto& track : servicePanel->collectTracks()) messages->add(track);
    const auto records = source(L"microphone", microphone);
    for (const auto& record : microphonePanel->loadRecords()) records->add(record);

    schedulerPanel->setPlaybacks({music, radioStations, drivePlaybacks, messages, records});
    schedulerPanel->resetControls();
}

// ---- zone management -----------------------------------------------------------------------

wxCommandEvent MainFrame::allZonesEvent() const {
    wxCommandEvent event(wxEVT_TOGGLEBUTTON, allZones->GetId());
    event.SetEventObject(allZones);
    event.SetClientObject(allZones->GetClientObject());
    event.SetInt(allZones->GetValue() ? 1 : 0);
    return event;
}

void MainFrame::zoneManagementOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::zoneManagementOnButtonClick");
    showZoneManagement(!zoneManagementPanel->IsShown());
}

void MainFrame::actionOnRadioBox(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::actionOnRadioBox");
    const int chosen = action->GetSelection();
    execute->SetLabel(action->GetString(chosen));
    zoneName->Enable(chosen != kDeleteZone);
}

void MainFrame::executeOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::executeOnButtonClick");
    const std::wstring name = zoneName->GetValue().ToStdWstring();
    std::vector<ZoneElement::Ptr> selected;
    for (const ZoneElement::Ptr& zone : root->getZones())
        if (zone != newDevicesZone && zone->isSelected()) selected.push_back(zone);

    switch (action->GetSelection()) {
    case kAddZone:
        if (name.empty()) {
            tell(L"Введите название зоны");
            break;
        }
        root->addElement(
            ZoneElement::createZone(zoneList, wxCommandEventHandler(MainFrame::zoneOnButtonClick), name));
        zoneName->ChangeValue(wxEmptyString);
        break;
    case kRenameZone:
        if (name.empty())
            tell(L"Введите название зоны");
        else if (selected.size() != 1)
            tell(L"Необходимо выделить одну зона для переименования");
        else if (selected.front()->getName() != kNewDevicesZone)
            selected.front()->setName(name);
        break;
    case kDeleteZone:
        if (selected.empty())
            tell(L"Выделите зону для удаления");
        else
            deleteSelectedZones(selected);
        break;
    default:
        break;
    }
    itemDataMap->refreshSnapshot();
    setLastActivity(nowMicroseconds());
}

void MainFrame::deleteSelectedZones(const std::vector<ZoneElement::Ptr>& zones) {
    std::wstring names;
    for (const ZoneElement::Ptr& zone : zones) names += L"\n'" + zone->getName() + L"'";
    const wxString question = wxString::Format(L"Зоны.\nКоличество: %i шт.\nНазвания:%s\nУдалить?",
                                               static_cast<int>(zones.size()), wxString(names));
    if (!ui::askYesNo(question, kMessageCaption, wxCENTRE)) return;

    // Every device below the zones goes to "Новые усилители", sub-zones
    // included: a device left only in a removed sub-zone would vanish from
    // the tree and from zone_collection.xml.
    std::vector<DevicePtr> devices;
    const std::function<void(const ZoneElement::Ptr&)> collect = [&](const ZoneElement::Ptr& zone) {
        for (const DevicePtr& device : zone->getDevices())
            if (std::find(devices.begin(), devices.end(), device) == devices.end()) devices.push_back(device);
        for (const ZoneElement::Ptr& child : zone->getZones()) collect(child);
    };
    for (const ZoneElement::Ptr& zone : zones) collect(zone);
    const std::vector<DevicePtr>& filed = newDevicesZone->getDevices();
    for (const DevicePtr& device : devices)
        if (std::find(filed.begin(), filed.end(), device) == filed.end()) newDevicesZone->addElement(device);
    if (!devices.empty()) newDevicesZone->setShown(true);

    for (const ZoneElement::Ptr& zone : zones) root->removeElement(zone, true);
    // The zones shown are gone: the page shows all zones, "Все зоны"
    // pressed, and the name field no longer names a deleted zone.
    wxCommandEvent event = allZonesEvent();
    zoneOnButtonClick(event);
}

// ---- gong and alarm ------------------------------------------------------------------------

std::wstring MainFrame::gongPath() const {
    std::wstring folder = pref::getString("place.pathDirGong");
    if (folder.empty()) folder = dataFolder + L"/gong";
    return folder + L"/" + pref::getString("place.pathFileGong") + L".mp3";
}

void MainFrame::playGongOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::playGongOnButtonClick");
    setLastActivity(nowMicroseconds());
    if (playGong->GetLabel() != kGongLabel) {
        playByAlarmChannel(kStopAction);
        return;
    }
    switch (askPassword("security.playbackAlarm")) {
    case PasswordAnswer::kRight:
        LOG_INFO(L"Пароль введён верный. Доступ к тревожным оповещениям");
        playByAlarmChannel(kGongAction);
        break;
    case PasswordAnswer::kWrong:
        LOG_NOTICE(L"Допущена ошибка при вводе пароля. Нет доступа к тревожным оповещениям");
        break;
    case PasswordAnswer::kCancelled:
        break;
    }
}

void MainFrame::playAlarmOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::playAlarmOnButtonClick");
    setLastActivity(nowMicroseconds());
    if (playAlarm->GetLabel() != kAlarmLabel) {
        playByAlarmChannel(kStopAction);
        return;
    }
    switch (askPassword("security.playbackAlarm")) {
    case PasswordAnswer::kRight:
        LOG_INFO(L"Пароль введён верный. Доступ к тревожным оповещениям");
        playByAlarmChannel(kAlarmAction);
        break;
    case PasswordAnswer::kWrong:
        LOG_NOTICE(L"Допущена ошибка при вводе пароля. Нет доступа к тревожным оповещениям");
        break;
    case PasswordAnswer::kCancelled:
        break;
    }
}

void MainFrame::playByAlarmChannel(int actionNumber) {
    FRM_ASSERT_GUI_THREAD();
    setLastActivity(nowMicroseconds());
    LOG_TRACE(L"Main: playByAlarmChannel %1%", actionNumber);
    if (actionNumber == kGongAction || actionNumber == kAlarmAction) {
        const DeviceSet selected = itemDataMap->getSelectedDevices();
        if (selected.empty()) {
            tell(L"Нет выделенных устройств");
            return;
        }
        ActionArg0<bool, device::OrvelInfo, bool (device::DeviceBase::*)() const> answering(
            &device::DeviceBase::isOnlineAndAnswered);
        if (!combineActionResults(applyActionToDeviceSet(selected, answering), true)) {
            tell(L"Нет активных устройств");
            return;
        }
    }
    // The launches and the stop talk to the loudspeakers: the channel's
    // request thread runs them in the order given, and the window shows
    // each at once and a refusal when it comes. A later action decides the
    // buttons over an earlier one's outcome.
    AlarmChannel* channel = AlarmChannel::instance();
    switch (actionNumber) {
    case kGongAction: {
        const std::wstring gong = gongPath();
        boost::system::error_code error;
        if (!boost::filesystem::is_regular_file(base::toUtf8(gong), error)) {
            LOG_ERROR(L"Установите в настройках файл 'Гонг'");
            return;
        }
        if (channel == nullptr) {
            showAlarmState(L"");
            return;
        }
        const unsigned action = ++alarmActions;
        playGong->SetLabel(kStopLabel);
        showAlarmState(L"Подготовка..");
        const AlarmChannel::Callback notices = [this](int notice) { onPlaybackNotice(notice); };
        channel->hand([this, action, gong, notices] {
            if (!AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag{}, kButtonPriority, L"Гонг", L"", gong,
                                                          kButtonVolume, notices))
                GuiThreadInvoker::add([this, action] { alarmRefused(action); });
        });
        break;
    }
    case kAlarmAction: {
        if (channel == nullptr) {
            showAlarmState(L"");
            return;
        }
        const unsigned action = ++alarmActions;
        playGong->Disable();
        playGong->SetLabel(kGongLabel);
        playAlarm->SetLabel(kStopLabel);
        showAlarmState(L"Вещание");
        // The microphone's source: the capture device of record.deviceName.
        channel->hand([this, action] {
            if (!AlarmChannel::launchSelected(AlarmChannel::Tag{}, kButtonPriority, L"Тревога", L"", L"",
                                              kButtonVolume, AlarmChannel::Callback()))
                GuiThreadInvoker::add([this, action] { alarmRefused(action); });
        });
        break;
    }
    case kStopAction: {
        showAlarmState(L"Окончание..");
        playGong->Disable();
        playAlarm->Disable();
        if (channel == nullptr) {
            playByAlarmChannel(kStoppedAction);
            break;
        }
        const unsigned action = ++alarmActions;
        channel->hand([this, action] {
            // The stop reports 5 on this thread, so the stopped state
            // (action 3) reaches the window before the relabelling below.
            if (AlarmChannel* stopping = AlarmChannel::instance())
                stopping->stop([this](int notice) { onPlaybackNotice(notice); });
            GuiThreadInvoker::add([this, action] {
                if (shutdownDone || action != alarmActions) return;
                playAlarm->SetLabel(kAlarmLabel);
                playGong->SetLabel(kGongLabel);
            });
        });
        break;
    }
    case kStoppedAction:
        showAlarmState(L"");
        playGong->Enable();
        playAlarm->Enable();
        playGong->SetLabel(kGongLabel);
        playAlarm->SetLabel(kAlarmLabel);
        break;
    default:
        LOG_ERROR(L"Internal error. Unknown alarm channel action");
        break;
    }
}

void MainFrame::alarmRefused(unsigned action) {
    if (shutdownDone || action != alarmActions) return;
    playByAlarmChannel(kStoppedAction);
}

void MainFrame::onPlaybackNotice(int notice) {
    if (!GuiThreadInvoker::exists()) return;
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([this, notice] { onPlaybackNotice(notice); });
        return;
    }
    // A notice queued before the shutdown may run after it.
    if (shutdownDone) return;
    LOG_TRACE(L"Main: Playback callback with notice %1%", notice);
    switch (notice) {
    case AlarmChannel::kGongStarted:
    case AlarmChannel::kMessageStarted:
        showAlarmState(L"Проигрывание");
        break;
    case AlarmChannel::kGongEnded:
        showAlarmState(L"Завершено");
        break;
    case AlarmChannel::kMessageEnded:
        playByAlarmChannel(kStopAction);
        break;
    case AlarmChannel::kStopped:
        playByAlarmChannel(kStoppedAction);
        break;
    default:  // replaced (4) and anything unknown
        break;
    }
}

void MainFrame::showAlarmState(const std::wstring& text) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"alarm state: %1%", text.empty() ? std::wstring(L"[empty, hide message]") : text);
    alarmText->SetLabelText(text);
    alarmPanel->Show(!text.empty());
    alarmPanel->Layout();
    topPanel->Layout();
}

// ---- passwords, administrator mode and the lock ------------------------------------------------

MainFrame::PasswordAnswer MainFrame::askPassword(const char* key) {
    wxString typed;
    if (!ui::askText(L"Введите пароль для разблокировки", L"Окно ввода пароля", typed, true, this))
        return PasswordAnswer::kCancelled;
    return typed.ToStdWstring() == storedPassword(key) ? PasswordAnswer::kRight : PasswordAnswer::kWrong;
}

void MainFrame::lockAdminOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::lockAdminOnButtonClick");
    if (administratorMode) {
        enableAdministratorMode(false);
        LOG_INFO(L"Выход из режима администратора");
        return;
    }
    switch (askPassword("security.administrator")) {
    case PasswordAnswer::kRight:
        enableAdministratorMode(true);
        LOG_INFO(L"Пароль введен верный. Доступ к режиму администратора");
        break;
    case PasswordAnswer::kWrong:
        LOG_NOTICE(L"Допущена ошибка при вводе пароля. Нет доступа к режиму администратора");
        break;
    case PasswordAnswer::kCancelled:
        break;
    }
}

void MainFrame::enableAdministratorMode(bool on) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::enableAdministratorMode");
    zoneElementPanel->enableAdministratorMode(on);
    zoneControlPanel->Show(on);
    zoneElementPanel->lockAdmin->SetLabel(on ? L"Выход из настроек" : L"Настройки");
    zoneElementPanel->generalProperty->Show(on);
    zoneElementPanel->deviceProperty->Show(on);
    administratorMode = on;
    updateTitle();
    Layout();
    topPanel->Layout();
    zonePanel->Layout();
    zoneElementPanel->Layout();
    setLastActivity(nowMicroseconds());
}

void MainFrame::lockInterfaceOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::lockInterfaceOnButtonClick");
    lockInterface();
}

void MainFrame::lockInterface() {
    if (!GuiThreadInvoker::exists()) return;
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([this] { lockInterface(); });
        return;
    }
    // A request queued while the dialog is up (the button, an idle pass
    // queued before the timer stopped) would open a second dialog inside the
    // first one's modal loop.
    if (shutdownDone || lockDialogShown) return;
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::lockInterface");
    stopLockTimer();

    LockDialog dialog(this, wxEmptyString, wxDefaultPosition, wxSize(410, 240));
    dialog.CentreOnParent(wxBOTH);
    lockDialogShown = true;
    const int result = ui::showModal(dialog);
    lockDialogShown = false;
    // Only the right password ends the dialog with OK; a stop request ends
    // it otherwise, and the shutdown follows.
    if (result != wxID_OK || shutdownDone) return;
    setLastActivity(nowMicroseconds());
    startLockTimer();
}

void MainFrame::setIdleLockTiming(const IdleLock::Timing& timing) { idleLockTiming = timing; }

void MainFrame::saveStateFiles() {
    saveDeviceCollection(dataFile(L"device_collection.xml"));
    musicPlaylists->save(dataFile(L"list_of_playlist_music.xml"));
    radioPlaylists->save(dataFile(L"list_of_playlist_radio.xml"));
    servicePanel->save(dataFile(L"service_message.xml"));
    devicePanel->save(dataFile(L"device_playback.xml"));
    alarmMessagePanel->save(dataFile(L"alarm_message.xml"));
    schedulerPanel->saveToFile(dataFile(L"scheduler.xml"));
    saveZoneCollection(dataFile(L"zone_collection.xml"), *root);
}

void MainFrame::offerStateFiles() {
    FRM_ASSERT_GUI_THREAD();
    if (shutdownDone || !stateSaver) return;
    // The owners build their trees here, on the GUI thread that owns the
    // state; rendering, comparing and writing happen on the saver's worker.
    const auto begin = std::chrono::steady_clock::now();
    {
        storage::SaveCapture capture;
        saveStateFiles();
        for (auto& [path, tree] : capture.saved) stateSaver->offer(path, std::move(tree));
    }
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
    const int pause = static_cast<int>(spent.count()) * kStateFilesShare;
    stateTimer.StartOnce(std::max(kStateFilesMilliseconds, pause));
}

void MainFrame::startLockTimer() {
    stopLockTimer();
    lockTimer = boost::thread([this] { lockTimerThread(); });
}

void MainFrame::stopLockTimer() {
    if (!lockTimer.joinable()) return;
    lockTimer.interrupt();
    lockTimer.join();  // its wait ends at once
}

void MainFrame::lockTimerThread() {
    std::wostringstream id;
    id << boost::this_thread::get_id();
    LOG_TRACE2(L"thread lockTimerThread(): %1%", id.str());
    IdleLock::Sources sources;
    sources.lastActivity = [this] { return getLastActivity(); };
    sources.timeoutMinutes = [] { return pref::getInt("security.interfaceTimeout", 10); };
    sources.requestLock = [this] { lockInterface(); };
    IdleLock(std::move(sources), idleLockTiming).run();
}

// ---- other actions ---------------------------------------------------------------------------

void MainFrame::devicePropertyOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::devicePropertyOnButtonClick");
    ActionArg0<DevicePtr, device::DeviceBase, DevicePtr (device::DeviceBase::*)() const> self(
        &device::DeviceBase::getThisBasePtr);
    ItemDataMap::DevicePtrSet devices = itemDataMap->mapSelectedDevices(self);
    devices.erase(DevicePtr());  // objects that are going away
    if (devices.size() != 1) {
        LOG_NOTICE(L"Выберите одно устройство");
        return;
    }
    displayMainView(propertyPanel);
    propertyPanel->imbueDevice(*devices.begin());
    propertyPanel->updateData();
}

void MainFrame::showSettings(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::showSettings");
    setLastActivity(nowMicroseconds());
    SettingsDialog dialog(this, administratorMode, debugMode);
    ui::showModal(dialog);
}

void MainFrame::logoVarkoOnLeftUp(wxMouseEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::MainFrame::logoVarkoOnLeftUp");
    setLastActivity(nowMicroseconds());
    AboutDialog dialog(this, os::getApplicationDirectory());
    ui::showModal(dialog);
}

}  // namespace frm
