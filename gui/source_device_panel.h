#pragma once

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/layout/source_device_panel.h"
#include "gui/medium_watcher.h"
#include "os/removable_media.h"

class Playlist;

namespace frm {

/// The removable-medium page: one button per mounted removable disk or
/// optical drive; a click lists every playable file of that medium as a
/// playlist named after its mount point, which the program's player plays
/// on the common channel. The medium watcher (medium_watcher.h) stops the
/// player when the medium is pulled out. The page's state is kept in
/// device_playback.xml (device_playback_store.h).
///
/// Threads: the GUI thread, except the watcher's thread, which touches no
/// window, and the playlist's playing observer, which the player calls from
/// dispatcher jobs and which hands highlightPlaying to the GUI thread through
/// the GUI-thread invoker, holding the page weakly.
class SourceDevicePanel : public fb::SourceDevicePanel {
public:
    struct Options {
        /// Where the media layer reads mountinfo and sysfs.
        std::string procRoot = "/proc/self";
        std::string sysRoot = "/sys";
        std::chrono::milliseconds watchTick{1000};
        /// The player engine's ";"-separated masks; empty: the program's engine.
        std::function<std::wstring()> fileMasks;
    };

    /// Starts the watcher; the system's media and the program's engine.
    explicit SourceDevicePanel(wxWindow* parent);
    SourceDevicePanel(wxWindow* parent, Options options);
    ~SourceDevicePanel() override;

    void load(const std::wstring& path);
    void save(const std::wstring& path);
    /// Stops and joins the watcher; the main window's shutdown and the
    /// destructor call it.
    void stopThread();
    /// Rebuilds the drive buttons; a playlist whose medium has gone is
    /// replaced by an empty one of the same name. Each time the page is shown.
    void refreshDrives();
    /// The mount points of the drives of one kind (0 removable, 1 optical).
    std::vector<std::wstring> getDrives(int kind);
    /// Removable drives, then optical ones.
    std::vector<std::wstring> getDrives();

    boost::shared_ptr<Playlist> getPlaylist() const { return m_playlist; }

    /// Played rows are this green; every other row black.
    static const wxColour kPlayingColour;

protected:
    void listCtrlLeftDoubleClick(wxMouseEvent& event) override;
    void buttonPrev(wxCommandEvent& event) override;
    void buttonPlay(wxCommandEvent& event) override;
    void buttonStop(wxCommandEvent& event) override;
    void buttonNext(wxCommandEvent& event) override;

    void driveOnButtonClick(wxCommandEvent& event);
    /// Any thread: the played row green, every other row black; off the GUI
    /// thread it queues itself there.
    void highlightPlaying();

    std::vector<wxBitmapButton*> m_driveButtons;

private:
    void addDriveButton(int kind, const std::wstring& root);
    void buildPlaylist(const std::wstring& root);
    void showPlayerButtons();
    void setPlaylist(boost::shared_ptr<Playlist> playlist);

    const Options m_options;
    const std::shared_ptr<os::RemovableMedia> m_media;
    boost::shared_ptr<Playlist> m_playlist;
    MediumWatcher m_watcher;
    std::shared_ptr<SourceDevicePanel*> m_alive;
};

}  // namespace frm
