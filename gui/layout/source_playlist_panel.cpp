#include "gui/layout/source_playlist_panel.h"

#include <wx/sizer.h>

namespace frm {
namespace fb {

namespace {

/// A player button as every page makes it: the empty image until the window
/// class sets the real one, and a tooltip.
wxBitmapButton* playerButton(wxWindow* parent, const wxString& tooltip) {
    auto* button =
        new wxBitmapButton(parent, wxID_ANY, wxNullBitmap, wxDefaultPosition, wxDefaultSize, wxBU_AUTODRAW);
    button->SetBitmap(wxNullBitmap);
    button->SetToolTip(tooltip);
    return button;
}

wxMenuItem* appendItem(wxMenu* menu, const wxString& label) {
    auto* item = new wxMenuItem(menu, wxID_ANY, label, wxEmptyString, wxITEM_NORMAL);
    menu->Append(item);
    return item;
}

}  // namespace

SourcePlaylistPanel::SourcePlaylistPanel(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                         const wxSize& size, long style, const wxString& name)
    : wxPanel(parent, id, pos, size, style, name) {
    SetMinSize(wxSize(320, 240));
    auto* topSizer = new wxBoxSizer(wxVERTICAL);

    auto* lists = new wxBoxSizer(wxHORIZONTAL);
    playlistList = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
    lists->Add(playlistList, 2, wxEXPAND, 5);
    trackList = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
    lists->Add(trackList, 3, wxEXPAND | wxLEFT, 5);
    topSizer->Add(lists, 1, wxEXPAND, 5);

    controlPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    prev = playerButton(controlPanel, L"Предыдущий элемент");
    prev->SetBitmapDisabled(wxNullBitmap);
    buttons->Add(prev, 0, wxALIGN_CENTER_VERTICAL, 5);
    play = playerButton(controlPanel, L"Играть");
    buttons->Add(play, 0, wxALIGN_CENTER_VERTICAL, 5);
    stop = playerButton(controlPanel, L"Стоп");
    buttons->Add(stop, 0, wxALIGN_CENTER_VERTICAL, 5);
    next = playerButton(controlPanel, L"Следующий элемент");
    buttons->Add(next, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
    controlPlaylists = playerButton(controlPanel, L"Список");

    playlistMenu = new wxMenu();
    addFiles = appendItem(playlistMenu, L"Добавить &файлы...");
    captureAudioWithDevice = appendItem(playlistMenu, L"&Захватить аудио с устройства...");
    addDir = appendItem(playlistMenu, L"Добавить &каталог...");
    addUrl = appendItem(playlistMenu, L"Добавить интернет-&радиостанцию...");
    editUrl = appendItem(playlistMenu, L"Р&едактировать...");
    rename = appendItem(playlistMenu, L"&Переименовать...");
    clearPlayList = appendItem(playlistMenu, L"&Очистить список");
    addPlaylist = appendItem(playlistMenu, L"Добавить &список...");
    deleteSelected = appendItem(playlistMenu, L"&Удалить выделенное");
    m_connections.connect(controlPlaylists, wxEVT_RIGHT_DOWN,
                          &SourcePlaylistPanel::controlPlaylistsOnContextMenu, this);

    buttons->Add(controlPlaylists, 0, wxALIGN_CENTER_VERTICAL, 5);
    controlPanel->SetSizer(buttons);
    controlPanel->Layout();
    buttons->Fit(controlPanel);
    topSizer->Add(controlPanel, 0, wxEXPAND | wxTOP, 5);

    SetSizer(topSizer);
    Layout();

    EventConnections& c = m_connections;
    for (wxListCtrl* list : {playlistList, trackList}) {
        c.connect(list, wxEVT_KEY_UP, &SourcePlaylistPanel::listCtrlKeyUp, this);
        c.connect(list, wxEVT_LEFT_DCLICK, &SourcePlaylistPanel::listCtrlLeftDoubleClick, this);
        c.connect(list, wxEVT_LEFT_DOWN, &SourcePlaylistPanel::listCtrlLeftDown, this);
        c.connect(list, wxEVT_LIST_COL_RIGHT_CLICK, &SourcePlaylistPanel::listCtrlOnListColRightClick, this);
        c.connect(list, wxEVT_LIST_ITEM_DESELECTED, &SourcePlaylistPanel::listCtrlOnListItemDeselected, this);
        c.connect(list, wxEVT_LIST_ITEM_SELECTED, &SourcePlaylistPanel::listCtrlOnListItemSelected, this);
        c.connect(list, wxEVT_MOTION, &SourcePlaylistPanel::listCtrlMotion, this);
        c.connect(list, wxEVT_RIGHT_DOWN, &SourcePlaylistPanel::listCtrlOnRightDown, this);
    }
    c.connect(prev, wxEVT_BUTTON, &SourcePlaylistPanel::buttonPrev, this);
    c.connect(play, wxEVT_BUTTON, &SourcePlaylistPanel::buttonPlay, this);
    c.connect(stop, wxEVT_BUTTON, &SourcePlaylistPanel::buttonStop, this);
    c.connect(next, wxEVT_BUTTON, &SourcePlaylistPanel::buttonNext, this);
    c.connect(controlPlaylists, wxEVT_BUTTON, &SourcePlaylistPanel::controlPlaylistsOnButtonClick, this);

    // The items by id, on the menu, which takes its bindings along when it
    // is deleted.
    const auto bind = [this](wxMenuItem* item, void (SourcePlaylistPanel::*handler)(wxCommandEvent&)) {
        playlistMenu->Bind(wxEVT_MENU, handler, this, item->GetId());
    };
    bind(addFiles, &SourcePlaylistPanel::addFilesOnMenuSelection);
    bind(captureAudioWithDevice, &SourcePlaylistPanel::captureAudioWithDeviceOnMenuSelection);
    bind(addDir, &SourcePlaylistPanel::addDirOnMenuSelection);
    bind(addUrl, &SourcePlaylistPanel::addUrlOnMenuSelection);
    bind(editUrl, &SourcePlaylistPanel::editUrlOnMenuSelection);
    bind(rename, &SourcePlaylistPanel::renameOnMenuSelection);
    bind(clearPlayList, &SourcePlaylistPanel::clearPlayListOnMenuSelection);
    bind(addPlaylist, &SourcePlaylistPanel::addPlaylistOnMenuSelection);
    bind(deleteSelected, &SourcePlaylistPanel::deleteSelectedOnMenuSelection);
}

SourcePlaylistPanel::~SourcePlaylistPanel() {
    m_connections.disconnectAll();
    delete playlistMenu;
}

void SourcePlaylistPanel::controlPlaylistsOnContextMenu(wxMouseEvent& event) {
    controlPlaylists->PopupMenu(playlistMenu, event.GetPosition());
}

}  // namespace fb
}  // namespace frm
