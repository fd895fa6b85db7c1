#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The playlist pages' decisions that need no window: which items the popup
// menu offers, which names a new playlist may take and how wide the list
// columns are. Pure functions; any thread.
namespace frm {

/// The items of the playlist menu, in the layout's order.
enum class PlaylistMenuItem {
    kAddFiles,
    kCaptureAudio,
    kAddDir,
    kAddUrl,
    kEditUrl,
    kRename,
    kClearPlayList,
    kAddPlaylist,
    kDeleteSelected
};

/// Where the mouse pointer is when the menu is made.
enum class PointerOver { kPlaylists, kTracks, kElsewhere };

/// The menu's items in the order they are shown. `selectedRow`: a row of the
/// list under the pointer is selected. Over the track list without a current
/// playlist the menu is that of "elsewhere".
std::vector<PlaylistMenuItem> playlistMenuItems(PointerOver where, bool currentPlaylist, bool selectedRow,
                                                bool radio);

enum class NameCheck { kAccepted, kEmpty, kTooLong, kTaken };

/// Longest name a new playlist may have, in characters.
constexpr std::size_t kMaxPlaylistName = 70;

/// A new playlist's name: empty, then too long, then taken; taken only by an equal
/// name (letter case counts).
NameCheck checkNewPlaylistName(const std::wstring& name, const std::vector<std::wstring>& existing);

/// The list control's automatic width (wxLIST_AUTOSIZE).
constexpr int kAutoWidth = -1;

/// `fixed` unless one of the texts is longer than `longest` characters,
/// then kAutoWidth.
int columnWidth(const std::vector<std::wstring>& texts, std::size_t longest, int fixed);

}  // namespace frm
