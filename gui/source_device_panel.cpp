#include "gui/source_device_panel.h"

#include <wx/filefn.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <boost/property_tree/ptree.hpp>

#include "audio/engine_player.h"
#include "audio/player.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/check.h"
#include "base/files.h"
#include "base/log.h"
#include "base/storage.h"
#include "base/wx/gui_guards.h"
#include "base/wx/gui_thread_invoker.h"
#include "gui/channel_gui.h"
#include "gui/device_playback_store.h"
#include "gui/gui_thread.h"
#include "gui/icons.h"
#include "gui/list_columns.h"
#include "gui/ui.h"

namespace frm {

const wxColour SourceDevicePanel::kPlayingColour(0, 160, 33);

namespace {

const wxColour kBlack(0, 0, 0);

bool playerPlaying() {
    Player* player = Player::instance();
    return player != nullptr && player->state() == EnginePlayer::k_state_playing;
}

boost::shared_ptr<Playlist> playerPlaylist() {
    Player* player = Player::instance();
    return player != nullptr ? player->playlist() : boost::shared_ptr<Playlist>();
}

}  // namespace

SourceDevicePanel::SourceDevicePanel(wxWindow* parent) : SourceDevicePanel(parent, Options()) {}

SourceDevicePanel::SourceDevicePanel(wxWindow* parent, Options options)
    : fb::SourceDevicePanel(parent, wxID_ANY, wxDefaultPosition, wxSize(700, 500), wxTAB_TRAVERSAL),
      m_options(std::move(options)),
      m_media(std::make_shared<os::RemovableMedia>(m_options.procRoot, m_options.sysRoot)),
      m_watcher(m_media, &MediumWatcher::playerPath, &MediumWatcher::stopPlayer, m_options.watchTick),
      m_alive(std::make_shared<SourceDevicePanel*>(this)) {
    trackList->InsertColumn(0, L"Название", wxLIST_FORMAT_LEFT, 200);
    trackList->InsertColumn(1, L"Путь", wxLIST_FORMAT_LEFT, 200);
    m_watcher.start();
    prev->SetBitmap(loadSvgBitmap(0));
    play->SetBitmap(loadSvgBitmap(1));
    stop->SetBitmap(loadSvgBitmap(3));
    next->SetBitmap(loadSvgBitmap(4));
    controlPanel->Layout();
    controlPanel->GetSizer()->Fit(controlPanel);
    showPlayerButtons();
}

SourceDevicePanel::~SourceDevicePanel() {
    LOG_TRACE(L"%1%", L"frm::SourceDevicePanel::~SourceDevicePanel");
    stopThread();
    m_playlist.reset();
}

void SourceDevicePanel::stopThread() {
    LOG_TRACE(L"%1%(..)", L"frm::SourceDevicePanel::stopThread");
    m_watcher.stopThread();
}

std::vector<std::wstring> SourceDevicePanel::getDrives(int kind) {
    return m_media->drives(kind == 1 ? os::DriveKind::kOptical : os::DriveKind::kRemovable);
}

std::vector<std::wstring> SourceDevicePanel::getDrives() {
    std::vector<std::wstring> drives = getDrives(0);
    for (std::wstring& optical : getDrives(1)) drives.push_back(std::move(optical));
    return drives;
}

// ---- drives ----------------------------------------------------------------------

void SourceDevicePanel::refreshDrives() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::SourceDevicePanel::refreshDrives");
    for (wxBitmapButton* button : m_driveButtons)
        button->Unbind(wxEVT_BUTTON, &SourceDevicePanel::driveOnButtonClick, this);
    m_driveButtons.clear();
    driveSizer->Clear(true);

    const std::vector<std::wstring> removable = getDrives(0);
    const std::vector<std::wstring> optical = getDrives(1);
    for (const std::wstring& root : removable) addDriveButton(0, root);
    for (const std::wstring& root : optical) addDriveButton(1, root);

    if (m_playlist) {
        // An fstab mount point stays behind as an empty folder: the medium
        // is there only while it is still one of the drives.
        const std::wstring name = m_playlist->getName();
        const bool mounted = std::find(removable.begin(), removable.end(), name) != removable.end() ||
                             std::find(optical.begin(), optical.end(), name) != optical.end();
        if (!mounted || !wxDirExists(name)) {
            trackList->DeleteAllItems();
            setPlaylist(boost::make_shared<Playlist>(name, true));
        }
    }
    showPlayerButtons();
}

void SourceDevicePanel::addDriveButton(int kind, const std::wstring& root) {
    auto* button = new wxBitmapButton(this, wxID_ANY, loadSvgBitmap(kind == 1 ? 22 : 23));
    button->SetToolTip(root);
    button->Bind(wxEVT_BUTTON, &SourceDevicePanel::driveOnButtonClick, this);
    driveSizer->Add(button, 0, wxLEFT | wxRIGHT, 5);
    driveSizer->Add(new wxStaticText(this, wxID_ANY, root), 0, wxLEFT | wxRIGHT, 5);
    m_driveButtons.push_back(button);
    Layout();
}

void SourceDevicePanel::driveOnButtonClick(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceDevicePanel::driveOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    auto* button = dynamic_cast<wxBitmapButton*>(event.GetEventObject());
    if (button == nullptr ||
        std::find(m_driveButtons.begin(), m_driveButtons.end(), button) == m_driveButtons.end()) {
        LOG_WARN(L"Internal error. Don't action for a window");
    } else {
        if (trackList->GetItemCount() > 0 &&
            !ui::askYesNo(L"Составить список воспроизведения заново?\n(предыдущий будет удалён)",
                          L"Сообщение", 0, this))
            return;
        buildPlaylist(button->GetToolTipText().ToStdWstring());
    }
    showPlayerButtons();
}

void SourceDevicePanel::buildPlaylist(const std::wstring& root) {
    FRM_ASSERT_GUI_THREAD();
    std::wstring masks;
    if (m_options.fileMasks) {
        masks = m_options.fileMasks();
    } else {
        error::terminateIfNull(g_player_engine, "frm::SourceDevicePanel::buildPlaylist");
        masks = g_player_engine->getFileFilter(true);
    }
    const std::vector<std::wstring> files = getFilesByMask(true, root, masks);

    GuiFreezer freeze(trackList);
    trackList->DeleteAllItems();
    setPlaylist(boost::make_shared<Playlist>(root, true));
    for (const std::wstring& file : files) {
        const std::wstring title = getFileName(file, true);
        // A row only for an item the playlist took, so rows and items match.
        if (!m_playlist->add(title, file)) continue;
        const long row = trackList->InsertItem(trackList->GetItemCount(), title);
        trackList->SetItem(row, 1, file);
    }
    m_playlist->setCallbackPlaying([alive = std::weak_ptr<SourceDevicePanel*>(m_alive)](bool) {
        GuiThreadInvoker::add([alive] {
            if (const auto panel = alive.lock()) (*panel)->highlightPlaying();
        });
    });
    const int width = files.empty() ? 200 : wxLIST_AUTOSIZE;
    setColumnWidth(trackList, 0, width);
    setColumnWidth(trackList, 1, width);
}

void SourceDevicePanel::showPlayerButtons() {
    FRM_ASSERT_GUI_THREAD();
    controlPanel->Show(m_playlist && !m_playlist->isEmpty());
    Layout();
}

void SourceDevicePanel::setPlaylist(boost::shared_ptr<Playlist> playlist) {
    m_playlist = std::move(playlist);
}

void SourceDevicePanel::highlightPlaying() {
    if (!GuiThreadInvoker::isActive()) return;
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([alive = std::weak_ptr<SourceDevicePanel*>(m_alive)] {
            if (const auto panel = alive.lock()) (*panel)->highlightPlaying();
        });
        return;
    }
    const int rows = trackList->GetItemCount();
    for (long row = 0; row < rows; ++row) trackList->SetItemTextColour(row, kBlack);
    if (!m_playlist || !playerPlaying() || playerPlaylist() != m_playlist) return;
    const std::uint32_t position = m_playlist->getCurrentPosition();
    if (position < static_cast<std::uint32_t>(rows))
        trackList->SetItemTextColour(static_cast<long>(position), kPlayingColour);
    else
        LOG_WARN(L"Internal error. Discrepancy playlist (%1% / %2%)", position, rows);
}

// ---- player ----------------------------------------------------------------------

void SourceDevicePanel::buttonPrev(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceDevicePanel::buttonPrev");
    FRM_ASSERT_GUI_THREAD();
    if (playerPlaying())
        Player::previous();
    else if (m_playlist)
        Player::play(m_playlist);
}

void SourceDevicePanel::buttonPlay(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceDevicePanel::buttonPlay");
    FRM_ASSERT_GUI_THREAD();
    playOnCommonChannel(m_alive, [this] {
        if (m_playlist) Player::play(m_playlist);
    });
}

void SourceDevicePanel::buttonStop(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceDevicePanel::buttonStop");
    FRM_ASSERT_GUI_THREAD();
    if (Player* player = Player::instance()) player->stop(true);
}

void SourceDevicePanel::buttonNext(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceDevicePanel::buttonNext");
    FRM_ASSERT_GUI_THREAD();
    Player* player = Player::instance();
    if (player != nullptr && playerPlaying())
        player->next();
    else if (m_playlist)
        Player::play(m_playlist);
}

void SourceDevicePanel::listCtrlLeftDoubleClick(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceDevicePanel::listCtrlLeftDoubleClick");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    int flags = 0;
    const long row = trackList->HitTest(event.GetPosition(), flags);
    if (row == wxNOT_FOUND || (flags & wxLIST_HITTEST_ONITEMLABEL) == 0 || !m_playlist) return;
    Player* player = Player::instance();
    error::terminateIfNull(player, "frm::SourceDevicePanel::listCtrlLeftDoubleClick");
    player->setPlaylist(m_playlist);
    Player::playAt(static_cast<unsigned>(row));
}

// ---- state file -------------------------------------------------------------------

void SourceDevicePanel::save(const std::wstring& path) {
    DevicePlayback state;
    if (m_playlist) {
        state.disk = m_playlist->getName();
        if (m_playlist->isPlayable()) {
            const std::vector<Playlist::Item> items = m_playlist->getItems();
            const std::uint32_t position = m_playlist->getCurrentPosition();
            if (position < items.size()) state.current = items[position].path;
        }
        state.playback = playerPlaying() && playerPlaylist() == m_playlist;
    }
    storage::save(path, devicePlaybackTree(state));
}

void SourceDevicePanel::load(const std::wstring& path) {
    FRM_ASSERT_GUI_THREAD();
    DevicePlayback state;
    if (!readDevicePlayback(path, state) || state.disk.empty()) return;
    const std::vector<std::wstring> drives = getDrives();
    if (std::find(drives.begin(), drives.end(), state.disk) != drives.end()) {
        buildPlaylist(state.disk);
    } else {
        // Its medium has gone (or the name is no drive at all): nothing of
        // it is listed, let alone a whole file system.
        trackList->DeleteAllItems();
        setPlaylist(boost::make_shared<Playlist>(state.disk, true));
    }
    showPlayerButtons();
    if (!state.playback) return;
    const std::vector<Playlist::Item> items = m_playlist->getItems();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].path == state.current) {
            m_playlist->setCurrent(static_cast<unsigned>(i));
            break;
        }
    if (!m_playlist->isEmpty()) Player::play(m_playlist);
}

}  // namespace frm
