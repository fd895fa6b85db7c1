#pragma once

#include <wx/bmpbuttn.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the playlist page (built twice, music and internet radio): the
/// list of playlists beside the entries of the open one, the previous, play,
/// stop and next buttons and "Список", whose left click is a handler and
/// whose right click opens the playlist menu of nine items. Both lists route
/// the same eight events to the same handlers; the event's object tells
/// which list it came from. frm::SourcePlaylistPanel implements the
/// handlers. GUI thread only.
class SourcePlaylistPanel : public wxPanel {
public:
    SourcePlaylistPanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                        const wxSize& size = wxSize(700, 500), long style = wxTAB_TRAVERSAL,
                        const wxString& name = wxEmptyString);
    ~SourcePlaylistPanel() override;

    /// Shows the playlist menu over "Список" where the right button went down.
    void controlPlaylistsOnContextMenu(wxMouseEvent& event);

protected:
    wxListCtrl* playlistList;
    wxListCtrl* trackList;
    wxPanel* controlPanel;
    wxBitmapButton* prev;
    wxBitmapButton* play;
    wxBitmapButton* stop;
    wxBitmapButton* next;
    wxBitmapButton* controlPlaylists;
    wxMenu* playlistMenu;
    wxMenuItem* addFiles;
    wxMenuItem* captureAudioWithDevice;
    wxMenuItem* addDir;
    wxMenuItem* addUrl;
    wxMenuItem* editUrl;
    wxMenuItem* rename;
    wxMenuItem* clearPlayList;
    wxMenuItem* addPlaylist;
    wxMenuItem* deleteSelected;

    virtual void listCtrlKeyUp(wxKeyEvent& event) = 0;
    virtual void listCtrlLeftDoubleClick(wxMouseEvent& event) = 0;
    virtual void listCtrlLeftDown(wxMouseEvent& event) = 0;
    virtual void listCtrlOnListColRightClick(wxListEvent& event) = 0;
    virtual void listCtrlOnListItemDeselected(wxListEvent& event) = 0;
    virtual void listCtrlOnListItemSelected(wxListEvent& event) = 0;
    virtual void listCtrlMotion(wxMouseEvent& event) = 0;
    virtual void listCtrlOnRightDown(wxMouseEvent& event) = 0;
    virtual void buttonPrev(wxCommandEvent& event) = 0;
    virtual void buttonPlay(wxCommandEvent& event) = 0;
    virtual void buttonStop(wxCommandEvent& event) = 0;
    virtual void buttonNext(wxCommandEvent& event) = 0;
    virtual void controlPlaylistsOnButtonClick(wxCommandEvent& event) = 0;
    virtual void addFilesOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void captureAudioWithDeviceOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void addDirOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void addUrlOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void editUrlOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void renameOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void clearPlayListOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void addPlaylistOnMenuSelection(wxCommandEvent& event) = 0;
    virtual void deleteSelectedOnMenuSelection(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor
    /// (the menu's own bindings go with the menu).
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
