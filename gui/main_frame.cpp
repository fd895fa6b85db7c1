#include "gui/main_frame.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <boost/make_shared.hpp>
#include <wx/app.h>
#include <wx/sizer.h>

#include "audio/list_of_playlist.h"
#include "audio/player.h"
#include "audio/player_engine.h"
#include "base/clock.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_guards.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "gui/device_list_store.h"
#include "gui/gui_clock.h"
#include "gui/gui_thread.h"
#include "gui/item_data_map.h"
#include "gui/property_device_panel.h"
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
    stopRetry.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { stopFromOutside(); });

    const bool alarmButtons = pref::getBool("mainWindow.alarmButtons", false);
    playGong->Show(alarmButtons);
    playAlarm->Show(alarmButtons);
    // The logo and the icon come with the icon set.
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
        contentPanel, [this](const std::wstring& text) { showAlarmState(text); }, itemDataMap.get());
    radioPanel = new SourcePlaylistPanel(contentPanel, true);
    alarmMessagePanel = new SourceServicePanel(contentPanel, true);
    musicPanel = new SourcePlaylistPanel(contentPanel, false);
    zoneElementPanel->setIsUsedDevice(
        [this](const DevicePtr& device) { return schedulerPanel != nullptr && schedulerPanel->isUsedDevice(device); });
    servicePanel = new SourceServicePanel(contentPanel, false);

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
        if (lockTimer.joinable()) {
            lockTimer.interrupt();
            lockTimer.join();
        }
        deviceCollection->stop();
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
    lockTimer = boost::thread([this] { lockTimerThread(); });

    dbg_puts(TRACE, "MainFrame::Startup(). init button click events");
    wxCommandEvent allZonesEvent(wxEVT_TOGGLEBUTTON, allZones->GetId());
    allZonesEvent.SetEventObject(allZones);
    allZonesEvent.SetClientObject(allZones->GetClientObject());
    allZonesEvent.SetInt(allZones->GetValue() ? 1 : 0);
    zoneOnButtonClick(allZonesEvent);

    dbg_puts(TRACE, "MainFrame::Startup(). run transfer protocol");
    transport->run();
    dbg_puts(TRACE, "MainFrame::Startup(). startup end");
}

void MainFrame::Shutdown() {
    FRM_ASSERT_GUI_THREAD();
    if (shutdownDone.exchange(true)) return;
    dbg_puts(TRACE3, "main frame: shutdown begin");

    propertyPanel->killFocus();
    GuiClock::destroyInstance();
    if (g_pref != nullptr) pref::save(g_pref);

    displayMainView(nullptr);
    topPanel->Disable();
    bodyPanel->Hide();
    wxTheApp->Yield(true);

    transport->stop();
    if (lockTimer.joinable()) {
        lockTimer.interrupt();
        lockTimer.join();
    }
    if (base::ThreadDispatcher* dispatcher = base::ThreadDispatcher::instance()) dispatcher->shutdown();
    GuiThreadInvoker::stop();

    if (!fullScreen) saveGeometry();
    saveDeviceCollection(dataFile(L"device_collection.xml"));

    LOG_TRACE(L"%1%", L"main frame: save settings from panels...");
    musicPlaylists->save(dataFile(L"list_of_playlist_music.xml"));
    radioPlaylists->save(dataFile(L"list_of_playlist_radio.xml"));
    servicePanel->save(dataFile(L"service_message.xml"));
    devicePanel->save(dataFile(L"device_playback.xml"));
    alarmMessagePanel->save(dataFile(L"alarm_message.xml"));
    schedulerPanel->saveToFile(dataFile(L"scheduler.xml"));
    saveZoneCollection(dataFile(L"zone_collection.xml"), *root);

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
        LOG_IMPOR(L"%1%", L"force shutdown...");
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

    zoneElementPanel->refreshList();
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
        LOG_WARN(L"%1%", L"internal error. Device Update GUI");
        return;
    }
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([this, device] { updateGui(device); });
        return;
    }
    // A task queued before the shutdown may run after the panels are gone.
    if (shutdownDone) return;

    const unsigned count = itemDataMap->countDeviceItems(device, 0);
    LOG_TRACE2(L"wxThread: updateGui, count=%1%", count);
    if (count > 0) {
        zoneElementPanel->refreshDevices(device);
        propertyPanel->refreshZonePage();
        return;
    }
    // A zone that kept this device's address while it was unknown takes it
    // back; only a device nobody claims is new.
    if (!root->claimPendingDevice(device)) {
        newDevicesZone->setShown(true);
        newDevicesZone->addElement(device);
    }
    zoneElementPanel->updateCurrentZone();
    itemDataMap->refreshSnapshot();
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

// ---- filled by the next stages ------------------------------------------------------

void MainFrame::enableAdministratorMode(bool) {}
void MainFrame::updateSchedulerSources() {}
void MainFrame::showAlarmState(const std::wstring&) {}
void MainFrame::onPlaybackNotice(int) {}
void MainFrame::playByAlarmChannel(int) {}
void MainFrame::lockTimerThread() {}
void MainFrame::showSettings(wxCommandEvent&) {}
void MainFrame::devicePropertyOnButtonClick(wxCommandEvent&) {}
void MainFrame::lockInterfaceOnButtonClick(wxCommandEvent&) {}
void MainFrame::lockAdminOnButtonClick(wxCommandEvent&) {}
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
void MainFrame::actionOnRadioBox(wxCommandEvent&) {}
void MainFrame::executeOnButtonClick(wxCommandEvent&) {}
void MainFrame::zoneManagementOnButtonClick(wxCommandEvent&) {}

}  // namespace frm
