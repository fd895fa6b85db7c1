#include "gui/source_playlist_panel.h"

#include <wx/dir.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include <algorithm>
#include <boost/make_shared.hpp>

#include "audio/engine_player.h"
#include "audio/list_of_playlist.h"
#include "audio/player.h"
#include "audio/player_engine.h"
#include "base/check.h"
#include "base/dbg.h"
#include "base/files.h"
#include "base/log.h"
#include "base/wx/gui_guards.h"
#include "base/wx/gui_thread_invoker.h"
#include "gui/capture_device_dialog.h"
#include "gui/channel_gui.h"
#include "gui/gui_thread.h"
#include "gui/icons.h"
#include "gui/list_columns.h"
#include "gui/scheduler_control.h"
#include "gui/ui.h"
#include "gui/url_dialog.h"
#include "os/data_directory.h"
#include "os/network_probe.h"

namespace frm {

const wxColour SourcePlaylistPanel::kPlayingColour(0, 160, 33);

namespace {

const wxColour kBlack(0, 0, 0);
/// fillAhead: rows per share (some tens of milliseconds) and the pause
/// between shares, in which the GUI thread answers the operator.
constexpr std::size_t kFillAheadRows = 250;
constexpr int kFillAheadMilliseconds = 20;
const wchar_t* const kMessageCaption = L"Сообщение";

/// Headers of the list of playlists, then of the track list's path column.
const wchar_t* const kPlaylistColumns[2][2] = {{L"Список плейлистов", L"Количество композиций"},
                                               {L"Список радио станций", L"Количество станций"}};
const wchar_t* const kPathColumn[2] = {L"Путь", L"Адрес интернет-радиостанции"};

Player* player() { return Player::instance(); }

bool playerPlaying() {
    Player* p = player();
    return p != nullptr && p->state() == EnginePlayer::k_state_playing;
}

boost::shared_ptr<Playlist> playerPlaylist() {
    Player* p = player();
    return p != nullptr ? p->playlist() : boost::shared_ptr<Playlist>();
}

/// The path of the playlist's current item; empty when its position is past
/// the end (items and position are read apart).
std::wstring currentPath(Playlist& playlist) {
    const std::vector<Playlist::Item> items = playlist.getItems();
    const std::uint32_t position = playlist.getCurrentPosition();
    return position < items.size() ? items[position].path : std::wstring();
}

wxString countText(std::size_t count) { return wxString::Format(L"%u", static_cast<unsigned>(count)); }

/// A row inserted with its text and the black of an unplayed row in one
/// call: the list measures its text on every change of a row, colour included.
long insertBlackRow(wxListCtrl* list, long at, const wxString& text) {
    wxListItem row;
    row.SetId(at);
    row.SetText(text);
    row.SetTextColour(kBlack);
    return list->InsertItem(row);
}

/// Every row black again; rows that are black already are left alone (see
/// insertBlackRow).
void paintBlack(wxListCtrl* list) {
    for (long row = 0; row < list->GetItemCount(); ++row)
        if (list->GetItemTextColour(row) != kBlack) list->SetItemTextColour(row, kBlack);
}

}  // namespace

SourcePlaylistPanel::Outside SourcePlaylistPanel::Outside::system() {
    Outside outside;
    outside.hasInternet = [] { return os::hasInternet(); };
    outside.captureDevices = [] { return os::getAudioCaptureDeviceList(); };
    outside.fileFilter = [](bool masksOnly) {
        error::terminateIfNull(g_player_engine, "frm::SourcePlaylistPanel::fileFilter");
        return g_player_engine->getFileFilter(masksOnly);
    };
    outside.dataFolder = os::getUserDataDirectory();
    return outside;
}

SourcePlaylistPanel::SourcePlaylistPanel(wxWindow* parent, ISchedulerControl* scheduler, bool radio,
                                         Outside outside)
    : fb::SourcePlaylistPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(700, 500), wxTAB_TRAVERSAL),
      m_radio(radio),
      m_scheduler(scheduler),
      m_outside(std::move(outside)),
      m_alive(std::make_shared<SourcePlaylistPanel*>(this)) {
    prev->SetBitmap(loadSvgBitmap(0));
    play->SetBitmap(loadSvgBitmap(1));
    stop->SetBitmap(loadSvgBitmap(3));
    next->SetBitmap(loadSvgBitmap(4));
    controlPlaylists->SetBitmap(loadSvgBitmap(5));
    controlPanel->Layout();
    controlPanel->GetSizer()->Fit(controlPanel);
    Layout();
    m_fillAhead.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { fillAheadStep(); }, m_fillAhead.GetId());
}

SourcePlaylistPanel::~SourcePlaylistPanel() {
    // The items out of the menu belong to nobody: back in, the layout's
    // deletion of the menu takes them all.
    for (wxMenuItem* item : {addFiles, captureAudioWithDevice, addDir, addUrl, editUrl, rename, clearPlayList,
                             addPlaylist, deleteSelected})
        if (playlistMenu->FindChildItem(item->GetId()) == nullptr) playlistMenu->Append(item);
    m_fillAhead.Stop();
    m_listOfPlaylist.reset();
    m_currentPlaylist.reset();
    LOG_TRACE3(L"%1%", L"frm::SourcePlaylistPanel::~SourcePlaylistPanel");
}

void SourcePlaylistPanel::setListOfPlaylist(boost::shared_ptr<ListOfPlaylist> playlists) {
    FRM_ASSERT_GUI_THREAD();
    m_listOfPlaylist = std::move(playlists);
    redrawGuiElements(true, true, true, true);
}

void SourcePlaylistPanel::redrawGuiElements(bool listOfPlaylist, bool playlist, bool menuItems,
                                            bool buttons) {
    FRM_ASSERT_GUI_THREAD();
    const auto flag = [](bool on) { return on ? L"true" : L"false"; };
    LOG_TRACE(L"redrawGuiElements: listOfPlaylist=%1%, playlist=%2%, menuItems=%3%, buttons=%4%",
              flag(listOfPlaylist), flag(playlist), flag(menuItems), flag(buttons));
    if (listOfPlaylist) showList();
    if (playlist) showPlaylist();
    if (menuItems) updateMenuItems();
    if (buttons) updateButtons();
    highlightPlaying(listOfPlaylist, playlist);
}

// ---- the two lists -------------------------------------------------------------

void SourcePlaylistPanel::showList() {
    FRM_ASSERT_GUI_THREAD();
    error::terminateIfNull(m_listOfPlaylist, "frm::SourcePlaylistPanel::showList");
    GuiFreezer freeze(playlistList);
    const std::vector<boost::shared_ptr<Playlist>> playlists = m_listOfPlaylist->getAll();
    const long shown = shownPrefix(playlists);
    if (shown < 0) {
        playlistList->ClearAll();
        playlistList->InsertColumn(0, kPlaylistColumns[m_radio][0]);
        playlistList->InsertColumn(1, kPlaylistColumns[m_radio][1]);
    } else {
        // Rows that show these playlists already stay (a music list may hold
        // many thousand, filled ahead or shown before): only their selection
        // and counts are brought up to date.
        for (long row = playlistList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
             row = playlistList->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
            playlistList->SetItemState(row, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        updateListSize();
    }
    appendRows(playlists, static_cast<std::size_t>(std::max(shown, 0L)), playlists.size());
    m_fillAhead.Stop();
    // None of the rows is selected.
    m_listOfPlaylist->setSelection({});
    std::vector<std::wstring> names;
    names.reserve(playlists.size());
    for (const boost::shared_ptr<Playlist>& playlist : playlists) names.push_back(playlist->getName());
    setColumnWidth(playlistList, 0, columnWidth(names, 25, 200));
    setColumnWidth(playlistList, 1, 200);
}

long SourcePlaylistPanel::shownPrefix(const std::vector<boost::shared_ptr<Playlist>>& playlists) const {
    const long rows = playlistList->GetItemCount();
    if (playlistList->GetColumnCount() != 2 || rows > static_cast<long>(playlists.size())) return -1;
    for (long row = 0; row < rows; ++row)
        if (playlistList->GetItemText(row, 0) != playlists[static_cast<std::size_t>(row)]->getName()) return -1;
    return rows;
}

void SourcePlaylistPanel::appendRows(const std::vector<boost::shared_ptr<Playlist>>& playlists, std::size_t from,
                                     std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        const long row = insertBlackRow(playlistList, static_cast<long>(i), playlists[i]->getName());
        playlistList->SetItem(row, 1, countText(playlists[i]->getItems().size()));
    }
}

void SourcePlaylistPanel::fillAhead(boost::shared_ptr<ListOfPlaylist> playlists) {
    FRM_ASSERT_GUI_THREAD();
    m_listOfPlaylist = std::move(playlists);
    m_fillAhead.StartOnce(kFillAheadMilliseconds);
}

void SourcePlaylistPanel::fillAheadStep() {
    FRM_ASSERT_GUI_THREAD();
    if (!m_listOfPlaylist) return;
    const std::vector<boost::shared_ptr<Playlist>> playlists = m_listOfPlaylist->getAll();
    if (playlistList->GetColumnCount() == 0) {
        playlistList->InsertColumn(0, kPlaylistColumns[m_radio][0]);
        playlistList->InsertColumn(1, kPlaylistColumns[m_radio][1]);
    }
    // Rows of something else: the page's showing fills it anew.
    const long shown = shownPrefix(playlists);
    if (shown < 0) return;
    const std::size_t to = std::min(playlists.size(), static_cast<std::size_t>(shown) + kFillAheadRows);
    {
        GuiFreezer freeze(playlistList);
        appendRows(playlists, static_cast<std::size_t>(shown), to);
    }
    if (to < playlists.size()) m_fillAhead.StartOnce(kFillAheadMilliseconds);
}

void SourcePlaylistPanel::showPlaylist() {
    FRM_ASSERT_GUI_THREAD();
    error::terminateIfNull(m_listOfPlaylist, "frm::SourcePlaylistPanel::showPlaylist");
    {
        GuiFreezer freeze(trackList);
        trackList->ClearAll();
        trackList->InsertColumn(0, L"Название");
        trackList->InsertColumn(1, kPathColumn[m_radio]);
        std::vector<std::wstring> titles, paths;
        if (m_currentPlaylist) {
            const std::vector<Playlist::Item> items = m_currentPlaylist->getItems();
            titles.reserve(items.size());
            paths.reserve(items.size());
            for (std::size_t i = 0; i < items.size(); ++i) {
                const long row = insertBlackRow(trackList, static_cast<long>(i), items[i].title);
                trackList->SetItem(row, 1, items[i].path);
                titles.push_back(items[i].title);
                paths.push_back(items[i].path);
            }
            m_currentPlaylist->setSelection({});
        }
        setColumnWidth(trackList, 0, columnWidth(titles, 15, 120));
        setColumnWidth(trackList, 1, columnWidth(paths, 25, 200));
    }
    updateListSize();
}

void SourcePlaylistPanel::updateListSize() {
    FRM_ASSERT_GUI_THREAD();
    const std::vector<boost::shared_ptr<Playlist>> playlists = m_listOfPlaylist->getAll();
    const std::size_t rows =
        std::min(playlists.size(), static_cast<std::size_t>(playlistList->GetItemCount()));
    // Only the counts that changed: each cell set costs the list a text
    // measure, and a music list may hold many thousand playlists.
    for (std::size_t i = 0; i < rows; ++i) {
        const wxString count = countText(playlists[i]->getItems().size());
        if (playlistList->GetItemText(static_cast<long>(i), 1) != count)
            playlistList->SetItem(static_cast<long>(i), 1, count);
    }
}

void SourcePlaylistPanel::updateMenuItems() {
    FRM_ASSERT_GUI_THREAD();
    wxMenuItem* const items[] = {addFiles, captureAudioWithDevice, addDir,      addUrl,        editUrl,
                                 rename,   clearPlayList,          addPlaylist, deleteSelected};
    for (wxMenuItem* item : items)
        if (playlistMenu->FindChildItem(item->GetId()) != nullptr) playlistMenu->Remove(item);
    const PointerOver where = pointerOver();
    wxListCtrl* under = where == PointerOver::kPlaylists ? playlistList
                        : where == PointerOver::kTracks  ? trackList
                                                         : nullptr;
    const bool selected = under != nullptr && under->GetSelectedItemCount() > 0;
    for (const PlaylistMenuItem item : playlistMenuItems(where, bool(m_currentPlaylist), selected, m_radio))
        playlistMenu->Append(items[static_cast<int>(item)]);
}

void SourcePlaylistPanel::updateButtons() {
    FRM_ASSERT_GUI_THREAD();
    const boost::shared_ptr<Playlist> played = playerPlaylist();
    const bool enable = playerPlaying() || (played && !played->isEmpty()) ||
                        (m_currentPlaylist && !m_currentPlaylist->isEmpty());
    for (wxBitmapButton* button : {prev, play, stop, next}) button->Enable(enable);
    controlPanel->Update();
}

void SourcePlaylistPanel::highlightPlaying(bool listOfPlaylist, bool playlist) {
    if (!GuiThreadInvoker::isActive()) return;
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add(
            [alive = std::weak_ptr<SourcePlaylistPanel*>(m_alive), listOfPlaylist, playlist] {
                if (const auto panel = alive.lock()) (*panel)->highlightPlaying(listOfPlaylist, playlist);
            });
        return;
    }
    if (listOfPlaylist) paintBlack(playlistList);
    if (playlist) paintBlack(trackList);

    const bool playing = playerPlaying();
    const boost::shared_ptr<Playlist> played = playing ? playerPlaylist() : boost::shared_ptr<Playlist>();
    if (listOfPlaylist && m_listOfPlaylist) {
        const std::vector<boost::shared_ptr<Playlist>> playlists = m_listOfPlaylist->getAll();
        bool painted = false;
        for (std::size_t i = 0; i < playlists.size(); ++i) {
            // Every playlist reports here, also those after the played one.
            playlists[i]->setCallbackPlaying(playingObserver());
            if (painted || !played || playlists[i] != played) continue;
            if (static_cast<long>(i) < playlistList->GetItemCount())
                playlistList->SetItemTextColour(static_cast<long>(i), kPlayingColour);
            painted = true;
        }
    }
    if (playlist && played && played == m_currentPlaylist) {
        const std::uint32_t position = m_currentPlaylist->getCurrentPosition();
        const int rows = trackList->GetItemCount();
        if (position < static_cast<std::uint32_t>(rows))
            trackList->SetItemTextColour(static_cast<long>(position), kPlayingColour);
        else
            LOG_WARN(L"Internal error. Discrepancy playlist and control (%1% / %2%)", position, rows);
    }
}

boost::function<void(bool)> SourcePlaylistPanel::playingObserver() const {
    return [alive = std::weak_ptr<SourcePlaylistPanel*>(m_alive)](bool) {
        // From a dispatcher job: only the invoker may reach the page.
        GuiThreadInvoker::add([alive] {
            if (const auto panel = alive.lock()) (*panel)->highlightPlaying(true, true);
        });
    };
}

bool SourcePlaylistPanel::playingCurrent() const {
    return m_currentPlaylist && playerPlaying() && playerPlaylist() == m_currentPlaylist;
}

// ---- helpers of the list events ----------------------------------------------------

wxListCtrl* SourcePlaylistPanel::eventList(wxEvent& event) {
    auto* window = dynamic_cast<wxWindow*>(event.GetEventObject());
    // The list's inner window stands for the list.
    if (window != nullptr && window != playlistList && window != trackList) window = window->GetParent();
    if (window == playlistList) return playlistList;
    if (window == trackList) return trackList;
    error::terminateIfNull(static_cast<wxListCtrl*>(nullptr), "frm::SourcePlaylistPanel::eventList");
    return nullptr;
}

BaseControlList& SourcePlaylistPanel::getControl(wxListCtrl* list) {
    if (list == playlistList && m_listOfPlaylist) return *m_listOfPlaylist;
    if (list == trackList && m_currentPlaylist) return *m_currentPlaylist;
    error::terminateIfNull(static_cast<BaseControlList*>(nullptr), "frm::SourcePlaylistPanel::getControl");
    return *m_currentPlaylist;
}

PointerOver SourcePlaylistPanel::pointerOver() const {
    const wxPoint at = wxGetMousePosition();
    if (playlistList->IsShownOnScreen() && playlistList->GetScreenRect().Contains(at))
        return PointerOver::kPlaylists;
    if (trackList->IsShownOnScreen() && trackList->GetScreenRect().Contains(at)) return PointerOver::kTracks;
    return PointerOver::kElsewhere;
}

int SourcePlaylistPanel::rowAt(wxListCtrl* list, const wxPoint& point) const {
    int flags = 0;
    const long row = list->HitTest(point, flags);
    return row != wxNOT_FOUND && (flags & wxLIST_HITTEST_ONITEMLABEL) != 0 ? static_cast<int>(row) : -1;
}

std::vector<unsigned> SourcePlaylistPanel::getSelectedPositions(wxListCtrl* list) {
    std::vector<unsigned> rows;
    for (long row = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
         row = list->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
        rows.push_back(static_cast<unsigned>(row));
    return rows;
}

void SourcePlaylistPanel::selectOnly(wxListCtrl* list, int row) {
    for (long i = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
         i != -1; i = list->GetNextItem(i, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED))
        list->SetItemState(i, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    if (row >= 0 && row < list->GetItemCount())
        list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

// ---- mouse and keys ------------------------------------------------------------

void SourcePlaylistPanel::pressRow(wxMouseEvent& event) {
    wxListCtrl* list = eventList(event);
    m_lastList = list;
    m_pressedRow = rowAt(list, event.GetPosition());
    if (list == playlistList) {
        m_currentPlaylist = m_pressedRow >= 0 && m_listOfPlaylist
                                ? m_listOfPlaylist->getOne(static_cast<unsigned>(m_pressedRow))
                                : boost::shared_ptr<Playlist>();
        showPlaylist();
    }
    updateMenuItems();
    updateButtons();
    highlightPlaying(false, list == playlistList);
}

void SourcePlaylistPanel::listCtrlLeftDown(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlLeftDown");
    FRM_ASSERT_GUI_THREAD();
    pressRow(event);
    event.Skip();
}

void SourcePlaylistPanel::listCtrlOnRightDown(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlOnRightDown");
    FRM_ASSERT_GUI_THREAD();
    pressRow(event);
    // After the list has handled the click itself.
    GuiThreadInvoker::add([alive = std::weak_ptr<SourcePlaylistPanel*>(m_alive)] {
        if (const auto panel = alive.lock()) (*panel)->popupMenuWithDelay();
    });
    event.Skip();
}

void SourcePlaylistPanel::popupMenuWithDelay() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"%1%", L"show playlist menu");
    updateMenuItems();
    PopupMenu(playlistMenu);
}

void SourcePlaylistPanel::listCtrlOnListColRightClick(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlOnListColRightClick");
    FRM_ASSERT_GUI_THREAD();
    updateMenuItems();
    PopupMenu(playlistMenu);
    event.Skip();
}

void SourcePlaylistPanel::controlPlaylistsOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::controlPlaylistsOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    updateMenuItems();
    PopupMenu(playlistMenu);
}

void SourcePlaylistPanel::listCtrlMotion(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlMotion");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    if (!event.LeftIsDown()) {
        m_pressedRow = -1;
        return;
    }
    wxListCtrl* list = eventList(event);
    if (m_pressedRow < 0 || list != m_lastList) return;
    const int over = rowAt(list, event.GetPosition());
    if (over < 0 || over == m_pressedRow) return;
    m_pressedRow =
        getControl(list).moveItem(static_cast<unsigned>(m_pressedRow), static_cast<unsigned>(over));
    LOG_TRACE(L"%1%", L"listCtrlMotion, call redrawGuiElements");
    if (list == playlistList) {
        showList();
        highlightPlaying(true, false);
    } else {
        showPlaylist();
        highlightPlaying(false, true);
    }
    selectOnly(list, m_pressedRow);
}

void SourcePlaylistPanel::listCtrlLeftDoubleClick(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlLeftDoubleClick");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    if (m_pressedRow < 0) return;
    const bool track = eventList(event) == trackList;
    const auto row = static_cast<unsigned>(m_pressedRow);
    playOnCommonChannel(m_alive, [this, track, row] {
        hasInternetForRadio();
        error::terminateIfNull(m_currentPlaylist, "frm::SourcePlaylistPanel::listCtrlLeftDoubleClick");
        if (track) {
            Player* p = player();
            error::terminateIfNull(p, "frm::SourcePlaylistPanel::listCtrlLeftDoubleClick");
            p->setPlaylist(m_currentPlaylist);
            Player::playAt(row);
        } else {
            Player::play(m_currentPlaylist);
        }
    });
}

void SourcePlaylistPanel::listCtrlKeyUp(wxKeyEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlKeyUp");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    if (m_skipNextKeyUp) {
        m_skipNextKeyUp = false;
        return;
    }
    wxListCtrl* list = eventList(event);
    const int key = event.GetKeyCode();
    if (key == WXK_RETURN && list == trackList) {
        if (m_currentPlaylist) {
            if (Player* p = player()) p->setPlaylist(m_currentPlaylist);
            const std::vector<unsigned> selection = m_currentPlaylist->getSelection();
            if (!selection.empty()) Player::playAt(selection.front());
        }
    } else if (key == WXK_DELETE) {
        deleteSelectedEntries();
    } else if (key == 'A' && event.ControlDown()) {
        m_selectingAll = true;
        for (long row = 0; row < list->GetItemCount(); ++row)
            list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        m_selectingAll = false;
        m_lastList = list;
        if (list == playlistList || m_currentPlaylist)
            getControl(list).setSelection(getSelectedPositions(list));
        redrawGuiElements(false, false, true, true);
    }
}

void SourcePlaylistPanel::listCtrlOnListItemSelected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlOnListItemSelected");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    if (m_selectingAll) return;
    wxListCtrl* list = eventList(event);
    m_lastList = list;
    getControl(list).setSelection(getSelectedPositions(list));
    redrawGuiElements(false, false, true, true);
}

void SourcePlaylistPanel::listCtrlOnListItemDeselected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::listCtrlOnListItemDeselected");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    if (eventList(event) == playlistList) {
        showList();
        highlightPlaying(true, false);
        return;
    }
    // A track taken out of the selection is no longer one that Delete or
    // the menu acts on.
    if (m_currentPlaylist) m_currentPlaylist->setSelection(getSelectedPositions(trackList));
    updateMenuItems();
    updateButtons();
}

// ---- player buttons ----------------------------------------------------------------

void SourcePlaylistPanel::buttonPrev(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::buttonPrev");
    FRM_ASSERT_GUI_THREAD();
    if (!m_currentPlaylist) return;
    // Stepping needs a playlist in the player; without one there is no
    // step to take, only the page's playlist to play.
    if (playerPlaylist()) Player::previous();
    Player::play(m_currentPlaylist);
}

void SourcePlaylistPanel::buttonNext(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::buttonNext");
    FRM_ASSERT_GUI_THREAD();
    if (!m_currentPlaylist) return;
    if (Player* p = player(); p != nullptr && p->playlist()) p->next();
    Player::play(m_currentPlaylist);
}

void SourcePlaylistPanel::buttonPlay(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::buttonPlay");
    FRM_ASSERT_GUI_THREAD();
    playOnCommonChannel(m_alive, [this] {
        hasInternetForRadio();
        if (m_currentPlaylist) {
            Player::play(m_currentPlaylist);
            return;
        }
        if (Player* p = player(); p != nullptr && p->playlist()) p->playItem();
    });
}

void SourcePlaylistPanel::buttonStop(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::buttonStop");
    FRM_ASSERT_GUI_THREAD();
    if (Player* p = player()) p->stop(true);
}

void SourcePlaylistPanel::hasInternetForRadio() {
    if (!m_radio) return;
    const boost::shared_ptr<Playlist> playlist = m_currentPlaylist ? m_currentPlaylist : playerPlaylist();
    if (!playlist || playlist->isEmpty()) return;
    std::wstring url;
    if (pointerOver() == PointerOver::kTracks) {
        const std::vector<Playlist::Item> items = playlist->getItems();
        if (m_pressedRow >= 0 && static_cast<std::size_t>(m_pressedRow) < items.size())
            url = items[static_cast<std::size_t>(m_pressedRow)].path;
    } else {
        url = currentPath(*playlist);
    }
    if (url.find(L"adev://") != std::wstring::npos || url.find(L"sine://") != std::wstring::npos) return;
    if (!m_outside.hasInternet()) LOG_NOTICE(L"Проверьте настройки соединения с интернетом");
}

// ---- menu ----------------------------------------------------------------------------

void SourcePlaylistPanel::addFilesOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::addFilesOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    wxArrayString paths;
    if (!ui::chooseFiles(this, L"Добавить файл", wxEmptyString, m_outside.fileFilter(false), paths)) return;
    std::vector<Playlist::Item> items;
    for (const wxString& chosen : paths) {
        Playlist::Item item;
        item.path = chosen.ToStdWstring();
        item.title = getFileName(item.path, true);
        if (item.title.empty() || item.path.empty())
            LOG_WARN(L"Internal error. Title or path is empty, title is '%1%', path is '%2%'", item.title,
                     item.path);
        items.push_back(item);
    }
    if (!m_currentPlaylist) {
        LOG_WARN(L"Internal error. don't set current playlist");
        return;
    }
    m_currentPlaylist->add(items);
    redrawGuiElements(false, true, true, true);
}

void SourcePlaylistPanel::addDirOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::addDirOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    const wxString folder = ui::chooseDirectory(this, L"Добавить каталог", wxEmptyString);
    if (folder.empty() || !wxDirExists(folder)) return;
    error::terminateIfNull(m_currentPlaylist, "frm::SourcePlaylistPanel::addDirOnMenuSelection");
    std::vector<Playlist::Item> items;
    for (const std::wstring& file : getFilesByMask(true, folder.ToStdWstring(), m_outside.fileFilter(true))) {
        Playlist::Item item;
        item.title = getFileName(file, true);
        item.path = file;
        items.push_back(std::move(item));
    }
    m_currentPlaylist->add(items);
    redrawGuiElements(false, true, true, true);
}

void SourcePlaylistPanel::captureAudioWithDeviceOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::captureAudioWithDeviceOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    CaptureDeviceDialog dialog(this, m_outside.captureDevices());
    if (ui::showModal(dialog) != wxID_OK) return;
    const std::wstring name = dialog.selectedName();
    if (name.empty()) return;
    error::terminateIfNull(m_currentPlaylist,
                           "frm::SourcePlaylistPanel::captureAudioWithDeviceOnMenuSelection");
    m_currentPlaylist->add(L"Захватить сигнал с устройства: " + name, L"adev://" + name);
    redrawGuiElements(false, true, true, true);
}

void SourcePlaylistPanel::addUrlOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::addUrlOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    std::wstring url, name;
    UrlDialog dialog(this, L"Добавить URL", url, name, m_outside.dataFolder + L"/UrlDialog.history");
    if (ui::showModal(dialog) != wxID_OK) return;
    error::terminateIfNull(m_currentPlaylist, "frm::SourcePlaylistPanel::addUrlOnMenuSelection");
    m_currentPlaylist->add(name, url);
    redrawGuiElements(false, true, true, true);
}

void SourcePlaylistPanel::editUrlOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::editUrlOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    Playlist::Item item = getRightItem();
    std::wstring url = item.path, name = item.title;
    UrlDialog dialog(this, L"Редактировать", url, name, m_outside.dataFolder + L"/UrlDialog.history");
    if (ui::showModal(dialog) != wxID_OK) return;
    item.title = name;
    item.path = url;
    m_currentPlaylist->edit(item);
    redrawGuiElements(false, true, true, true);
}

void SourcePlaylistPanel::renameOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::renameOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    error::terminateIfNull(m_currentPlaylist, "frm::SourcePlaylistPanel::renameOnMenuSelection");
    if (m_currentPlaylist->getSelection().empty()) {
        const std::wstring old = m_currentPlaylist->getName();
        wxString name = old;
        if (ui::askText(L"Введите новое название", old, name, false, this) && !name.empty()) {
            if (m_scheduler != nullptr) m_scheduler->renamePlaylist(old, name.ToStdWstring());
            m_currentPlaylist->setName(name.ToStdWstring());
            redrawGuiElements(true, true, true, true);
        }
    } else {
        Playlist::Item item = getRightItem();
        wxString title = item.title;
        if (ui::askText(L"Введите новое название", item.title, title, false, this) && !title.empty()) {
            item.title = title.ToStdWstring();
            m_currentPlaylist->edit(item);
            redrawGuiElements(true, true, true, true);
        }
    }
    // The Enter that closed the prompt comes up over the list afterwards.
    m_skipNextKeyUp = true;
}

void SourcePlaylistPanel::clearPlayListOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::clearPlayListOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    if (playingCurrent()) {
        LOG_NOTICE(L"Остановите воспроизведение перед очисткой плейлиста");
        return;
    }
    if (ui::messageBox(L"Очистить текущий плейлист ?\t", L"Очистка плейлиста",
                       wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION, this) != wxID_YES)
        return;
    LOG_TRACE(L"%1%", L"Clear selected playlist");
    error::terminateIfNull(m_currentPlaylist, "frm::SourcePlaylistPanel::clearPlayListOnMenuSelection");
    m_currentPlaylist->clear();
    redrawGuiElements(false, true, true, true);
}

void SourcePlaylistPanel::addPlaylistOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::addPlaylistOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    error::terminateIfNull(m_listOfPlaylist, "frm::SourcePlaylistPanel::addPlaylistOnMenuSelection");
    wxString answer;
    if (!ui::askText(L"Введите название:", L"Добавление списка воспроизведения", answer, false, this)) return;
    const std::wstring name = answer.ToStdWstring();
    std::vector<std::wstring> names;
    for (const auto& playlist : m_listOfPlaylist->getAll()) names.push_back(playlist->getName());
    switch (checkNewPlaylistName(name, names)) {
        case NameCheck::kEmpty:
            return;
        case NameCheck::kTooLong:
            ui::messageBox(L"Превышено максимальное количество символов", kMessageCaption, wxOK, this);
            return;
        case NameCheck::kTaken:
            ui::messageBox(L"С таким названием плейлист существует", L"Внимание", wxOK, this);
            return;
        case NameCheck::kAccepted:
            break;
    }
    auto playlist = boost::make_shared<Playlist>(name, true);
    playlist->setCallbackPlaying(playingObserver());
    m_listOfPlaylist->add(playlist);
    showList();
}

void SourcePlaylistPanel::deleteSelectedOnMenuSelection(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourcePlaylistPanel::deleteSelectedOnMenuSelection");
    FRM_ASSERT_GUI_THREAD();
    deleteSelectedEntries();
}

void SourcePlaylistPanel::deleteSelectedEntries() {
    FRM_ASSERT_GUI_THREAD();
    if (playingCurrent()) {
        LOG_NOTICE(L"Остановите воспроизведение перед удалением плейлиста");
        return;
    }
    if (!ui::askYesNo(L"Удалить выделенное?", L"Удаление", wxICON_QUESTION, this)) return;
    if (m_lastList == nullptr) return;
    // Playback may have started while the question was open.
    if (playingCurrent()) {
        const std::vector<unsigned> selected = getControl(m_lastList).getSelection();
        if (std::find(selected.begin(), selected.end(), m_currentPlaylist->getCurrentPosition()) !=
            selected.end()) {
            ui::messageBox(L"Нельзя удалять трек, который воспроизводится в данный момент", L"Внимание", wxOK,
                           this);
            return;
        }
    }
    if (m_lastList == playlistList) {
        error::terminateIfNull(m_listOfPlaylist, "frm::SourcePlaylistPanel::deleteSelected");
        m_currentPlaylist.reset();
        const std::vector<boost::shared_ptr<Playlist>> playlists = m_listOfPlaylist->getAll();
        for (const unsigned index : m_listOfPlaylist->getSelection()) {
            bool refused = false;
            if (index >= playlists.size()) {
                LOG_ERROR(L"It is incorrect index of list");
                refused = true;
            } else if (m_scheduler != nullptr && m_scheduler->existPlaylist(playlists[index]->getName())) {
                ui::messageBox(L"Один из выбранных плейлистов входит в задание", L"Удаление", wxOK, this);
                refused = true;
            }
            if (refused) {
                // Without a current playlist the tracks of the old one must
                // not stay on show: a click on one would find no playlist.
                redrawGuiElements(true, true, true, true);
                return;
            }
        }
    }
    getControl(m_lastList).deleteSelected();
    redrawGuiElements(true, true, true, true);
}

Playlist::Item SourcePlaylistPanel::getRightItem() {
    error::terminateIfNull(m_currentPlaylist, "frm::SourcePlaylistPanel::getRightItem");
    const std::vector<unsigned> selection = m_currentPlaylist->getSelection();
    if (selection.empty()) dbg_abort("selected items are zero", "frm::SourcePlaylistPanel::getRightItem");
    const std::vector<Playlist::Item> items = m_currentPlaylist->getItems();
    if (selection.front() >= items.size())
        dbg_abort("incorrect selected items", "frm::SourcePlaylistPanel::getRightItem");
    return items[selection.front()];
}

}  // namespace frm
