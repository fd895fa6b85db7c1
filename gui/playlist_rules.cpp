#include "gui/playlist_rules.h"

#include <algorithm>

namespace frm {

std::vector<PlaylistMenuItem> playlistMenuItems(PointerOver where, bool currentPlaylist, bool selectedRow,
                                                bool radio) {
    using Item = PlaylistMenuItem;
    std::vector<Item> items;
    const auto addSources = [&] {
        if (radio)
            items.insert(items.end(), {Item::kAddUrl, Item::kCaptureAudio});
        else
            items.insert(items.end(), {Item::kAddFiles, Item::kAddDir});
    };
    if (where == PointerOver::kPlaylists) {
        items.push_back(Item::kAddPlaylist);
        if (currentPlaylist && selectedRow) {
            addSources();
            items.insert(items.end(), {Item::kRename, Item::kClearPlayList, Item::kDeleteSelected});
        }
    } else if (where == PointerOver::kTracks && currentPlaylist) {
        if (selectedRow) {
            items.insert(items.end(), {radio ? Item::kEditUrl : Item::kRename, Item::kDeleteSelected});
        } else {
            addSources();
            items.push_back(Item::kClearPlayList);
        }
    } else {
        items.push_back(Item::kAddPlaylist);
    }
    return items;
}

NameCheck checkNewPlaylistName(const std::wstring& name, const std::vector<std::wstring>& existing) {
    if (name.empty()) return NameCheck::kEmpty;
    if (name.size() > kMaxPlaylistName) return NameCheck::kTooLong;
    if (std::find(existing.begin(), existing.end(), name) != existing.end()) return NameCheck::kTaken;
    return NameCheck::kAccepted;
}

int columnWidth(const std::vector<std::wstring>& texts, std::size_t longest, int fixed) {
    for (const std::wstring& text : texts)
        if (text.size() > longest) return kAutoWidth;
    return fixed;
}

}  // namespace frm
