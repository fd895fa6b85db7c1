#pragma once

#include <wx/timer.h>

#include <boost/core/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/playlist.h"
#include "gui/layout/source_playlist_panel.h"
#include "gui/playlist_rules.h"
#include "os/capture_devices.h"

class BaseControlList;
class ListOfPlaylist;

namespace frm {

class ISchedulerControl;

/// The music page or, with the radio flag, the internet-radio page: the
/// operator keeps named playlists of files, folders, capture devices and
/// station addresses, and plays them on the common channel through the
/// program's player (previous, play, stop, next, a double click or Enter).
/// The page owns no playlist: the main window hands it its list of playlists
/// each time the page is shown. Renaming or deleting a playlist asks the
/// scheduler page whether a task plays it.
///
/// Threads: the GUI thread only, except the playlists' playing observers,
/// which the player calls from dispatcher jobs: they hand highlightPlaying to
/// the GUI thread through the GUI-thread invoker, holding the page weakly, so
/// a report that comes after the page is gone does nothing. The right-click
/// menu is deferred through the same invoker. Playlists and the list are read
/// as copies taken under their own locks.
class SourcePlaylistPanel : public fb::SourcePlaylistPanel, private boost::noncopyable {
public:
    /// What the page reaches outside the program; tests replace each part.
    struct Outside {
        /// Whether the internet can be reached (the radio page's notice).
        std::function<bool()> hasInternet;
        /// The capture devices the operator can choose from.
        std::function<std::vector<os::AudioCaptureDevice>()> captureDevices;
        /// The player engine's file filter: the chooser's wildcard, or with
        /// true the ";"-separated masks.
        std::function<std::wstring(bool masksOnly)> fileFilter;
        /// Where the station dialog keeps its history ("UrlDialog.history").
        std::wstring dataFolder;

        /// os::hasInternet, the system's capture devices, the program's
        /// engine and data folder.
        static Outside system();
    };

    SourcePlaylistPanel(wxWindow* parent, ISchedulerControl* scheduler, bool radio,
                        Outside outside = Outside::system());
    ~SourcePlaylistPanel() override;

    /// Binds the page to a list of playlists and redraws everything.
    void setListOfPlaylist(boost::shared_ptr<ListOfPlaylist> playlists);
    /// Binds the page to a list of playlists and fills its rows ahead of the
    /// page's first showing, a share at a time from a timer, so that neither
    /// start-up nor the first press of the page button waits for a list of
    /// many thousand playlists. Showing the page adds what is still missing.
    void fillAhead(boost::shared_ptr<ListOfPlaylist> playlists);
    /// Redraws the chosen parts, then the playing rows of the two lists.
    void redrawGuiElements(bool listOfPlaylist, bool playlist, bool menuItems, bool buttons);
    /// Any thread: paints the played playlist and track green, every other
    /// row black; off the GUI thread it queues itself there. Nothing once the
    /// invoker has stopped.
    void highlightPlaying(bool listOfPlaylist, bool playlist);

    /// The playlist whose tracks the page shows; empty without one.
    boost::shared_ptr<Playlist> currentPlaylist() const { return m_currentPlaylist; }

    /// Played rows are this green; every other row black.
    static const wxColour kPlayingColour;

protected:
    void listCtrlKeyUp(wxKeyEvent& event) override;
    void listCtrlLeftDoubleClick(wxMouseEvent& event) override;
    void listCtrlLeftDown(wxMouseEvent& event) override;
    void listCtrlOnListColRightClick(wxListEvent& event) override;
    void listCtrlOnListItemDeselected(wxListEvent& event) override;
    void listCtrlOnListItemSelected(wxListEvent& event) override;
    void listCtrlMotion(wxMouseEvent& event) override;
    void listCtrlOnRightDown(wxMouseEvent& event) override;
    void buttonPrev(wxCommandEvent& event) override;
    void buttonPlay(wxCommandEvent& event) override;
    void buttonStop(wxCommandEvent& event) override;
    void buttonNext(wxCommandEvent& event) override;
    void controlPlaylistsOnButtonClick(wxCommandEvent& event) override;
    void addFilesOnMenuSelection(wxCommandEvent& event) override;
    void captureAudioWithDeviceOnMenuSelection(wxCommandEvent& event) override;
    void addDirOnMenuSelection(wxCommandEvent& event) override;
    void addUrlOnMenuSelection(wxCommandEvent& event) override;
    void editUrlOnMenuSelection(wxCommandEvent& event) override;
    void renameOnMenuSelection(wxCommandEvent& event) override;
    void clearPlayListOnMenuSelection(wxCommandEvent& event) override;
    void addPlaylistOnMenuSelection(wxCommandEvent& event) override;
    void deleteSelectedOnMenuSelection(wxCommandEvent& event) override;

    /// Re-appends the menu items that fit where the pointer is now.
    void updateMenuItems();

private:
    void showList();
    /// How many rows of the list of playlists there are when each shows the
    /// name of the playlist at its index; -1 when one shows another or the
    /// list has no columns yet.
    long shownPrefix(const std::vector<boost::shared_ptr<Playlist>>& playlists) const;
    /// Rows for playlists [from, to) after the `from` rows there are.
    void appendRows(const std::vector<boost::shared_ptr<Playlist>>& playlists, std::size_t from, std::size_t to);
    void fillAheadStep();
    void showPlaylist();
    /// Column 1 of the list of playlists: each playlist's item count.
    void updateListSize();
    void updateButtons();
    /// The left-button logic, shared with the right button.
    void pressRow(wxMouseEvent& event);
    void popupMenuWithDelay();
    void hasInternetForRadio();
    /// Deletes the selected rows of the last list (the Delete key and the menu).
    void deleteSelectedEntries();
    /// The current playlist's item at the first selected row.
    Playlist::Item getRightItem();
    /// The list that sent the event; any other source stops the program.
    wxListCtrl* eventList(wxEvent& event);
    BaseControlList& getControl(wxListCtrl* list);
    PointerOver pointerOver() const;
    /// The row under a point of the list's events, -1 off the rows.
    int rowAt(wxListCtrl* list, const wxPoint& point) const;
    static std::vector<unsigned> getSelectedPositions(wxListCtrl* list);
    void selectOnly(wxListCtrl* list, int row);
    /// The observer that each playlist of the page reports its playing to.
    boost::function<void(bool)> playingObserver() const;
    bool playingCurrent() const;

    int m_pressedRow = -1;
    boost::shared_ptr<ListOfPlaylist> m_listOfPlaylist;
    wxListCtrl* m_lastList = nullptr;
    boost::shared_ptr<Playlist> m_currentPlaylist;
    const bool m_radio;
    ISchedulerControl* const m_scheduler;
    bool m_skipNextKeyUp = false;
    /// While Control+A selects every row: one selection update at the end.
    bool m_selectingAll = false;
    const Outside m_outside;
    /// Held weakly by everything queued for later; gone with the page.
    std::shared_ptr<SourcePlaylistPanel*> m_alive;
    /// The next share of fillAhead.
    wxTimer m_fillAhead;
};

}  // namespace frm
