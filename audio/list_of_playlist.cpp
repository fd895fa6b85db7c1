#include "audio/list_of_playlist.h"

#include <set>

#include <boost/algorithm/string/join.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/make_shared.hpp>

#include "audio/player.h"
#include "audio/playlist.h"
#include "base/check.h"
#include "base/dbg.h"
#include "base/files.h"
#include "base/log.h"
#include "base/storage.h"
#include "base/text.h"
#include "device/models/probe_failures.h"

namespace {

using Lock = boost::lock_guard<boost::recursive_mutex>;
using boost::property_tree::wptree;

const wchar_t* const k_default_station_title = L"Radio Paradise";
const wchar_t* const k_default_station_url = L"http://stream.radioparadise.com/mp3-128";

/// The tree's stand-ins for comments and attributes ("<xmlcomment>",
/// "<xmlattr>") are no elements of the file's shape.
bool isElement(const std::wstring& key) { return key.empty() || key.front() != L'<'; }

struct StoredTrack {
    std::wstring title;
    std::wstring path;
    bool current = false;
};

struct StoredPlaylist {
    std::wstring name;
    bool playing = false;
    std::vector<StoredTrack> tracks;
    /// Tracks left out, each with its reason.
    std::vector<std::wstring> damaged;
};

/// One playlist element; none (with the reason) when it lacks its name or
/// its list of tracks. A track without a title or a path is left out alone:
/// the playlist keeps the others in their order.
boost::optional<StoredPlaylist> readPlaylist(const wptree& element, std::wstring& why) {
    StoredPlaylist stored;
    const auto name = element.get_child_optional(L"name");
    const auto items = element.get_child_optional(L"items");
    if (!name || !items) {
        why = !name ? L"нет названия" : L"нет списка треков";
        return boost::none;
    }
    stored.name = name->data();
    stored.playing = element.get(L"playback", false);
    for (const auto& track : *items) {
        if (!isElement(track.first)) continue;
        const auto title = track.second.get_child_optional(L"title");
        const auto path = track.second.get_child_optional(L"path");
        // Empty texts too: the playlist would refuse them as its own fault.
        if (!title || !path || title->data().empty() || path->data().empty()) {
            stored.damaged.push_back(!title                  ? L"трек без названия"
                                     : !path                 ? L"трек без пути"
                                     : title->data().empty() ? L"пустое название трека"
                                                             : L"пустой путь трека");
            continue;
        }
        stored.tracks.push_back({title->data(), path->data(), track.second.get(L"playback", false)});
    }
    return stored;
}

bool folderOfTrackExists(const std::wstring& path, std::wstring& folder) {
    const boost::filesystem::path whole(base::toUtf8(path));
    folder = base::fromUtf8(whole.parent_path().string());
    boost::system::error_code ec;
    return boost::filesystem::exists(whole.parent_path(), ec);
}

/// What the tracks of one file name that is not there, by cause: the
/// folders missing (each once, however many tracks live there) and the
/// files missing from folders that are there. The operator hears of each
/// cause once for the file, with its count and the first few; the log has
/// every one.
class AbsentTracks {
public:
    void folder(const std::wstring& folder) {
        ++m_tracksInFolders;
        if (m_folders.insert(folder).second) note(m_folderExamples, folder);
    }
    void file(const std::wstring& path) {
        ++m_files;
        note(m_fileExamples, path);
    }

    /// One text per cause, in the operator's words; none when nothing is missing.
    std::vector<std::wstring> causes() const {
        std::vector<std::wstring> texts;
        if (!m_folders.empty())
            texts.push_back(L"не найдены папки треков: " + std::to_wstring(m_folders.size()) +
                            L" (треков в них: " + std::to_wstring(m_tracksInFolders) + L"), например " +
                            device::joinedExamples(m_folderExamples, m_folders.size()));
        if (m_files > 0)
            texts.push_back(L"не найдены файлы треков: " + std::to_wstring(m_files) + L", например " +
                            device::joinedExamples(m_fileExamples, m_files));
        return texts;
    }

private:
    static void note(std::vector<std::wstring>& examples, const std::wstring& path) {
        if (examples.size() < device::ProbeFailures::kExamples) examples.push_back(L"«" + path + L"»");
    }

    std::set<std::wstring> m_folders;
    std::vector<std::wstring> m_folderExamples;
    std::size_t m_tracksInFolders = 0;
    std::vector<std::wstring> m_fileExamples;
    std::size_t m_files = 0;
};

}  // namespace

void ListOfPlaylist::add(boost::shared_ptr<Playlist> playlist) {
    dbg_puts(TRACE2, "%s(..)", "ListOfPlaylist::add");
    Lock lock(m_lock);
    error::terminateIfNull(playlist, "ListOfPlaylist::add");
    m_playlists.push_back(std::move(playlist));
}

std::vector<boost::shared_ptr<Playlist>> ListOfPlaylist::getAll() {
    Lock lock(m_lock);
    return m_playlists;
}

boost::shared_ptr<Playlist> ListOfPlaylist::getOne(unsigned index) {
    Lock lock(m_lock);
    error::terminateIfOutOfRange(m_playlists.size(), index, "ListOfPlaylist::getOne");
    return m_playlists[index];
}

void ListOfPlaylist::deleteSelected() {
    Lock lock(m_lock);
    eraseSelected(m_playlists);
}

int ListOfPlaylist::moveItem(unsigned from, unsigned to) {
    Lock lock(m_lock);
    if (from >= m_playlists.size() || to >= m_playlists.size()) {
        dbg_puts(ERROR, "%s", "Internal error. list index out of bounds");
        return -1;
    }
    boost::shared_ptr<Playlist> moved = m_playlists[from];
    m_playlists.erase(m_playlists.begin() + from);
    m_playlists.insert(m_playlists.begin() + to, std::move(moved));
    return static_cast<int>(to);
}

void ListOfPlaylist::save(const std::wstring& path) {
    Player* player = Player::instance();
    const boost::shared_ptr<Playlist> playing =
        player != nullptr && player->state() == EnginePlayer::k_state_playing ? player->playlist()
                                                                               : boost::shared_ptr<Playlist>();
    wptree tree;
    wptree& list = tree.add_child(L"list", wptree());
    for (const boost::shared_ptr<Playlist>& playlist : getAll()) {
        const std::vector<Playlist::Item> items = playlist->getItems();
        const std::uint32_t position = playlist->getCurrentPosition();
        wptree tracks;
        for (const Playlist::Item& item : items) {
            wptree& track = tracks.add_child(L"track", wptree());
            if (position < items.size() && item == items[position]) track.add(L"playback", L"true");
            track.add(L"title", item.title);
            track.add(L"path", item.path);
        }
        wptree& element = list.add_child(L"playlist", wptree());
        element.add(L"name", playlist->getName());
        element.add_child(L"items", tracks);
        if (playlist == playing) element.add(L"playback", L"true");
    }
    storage::save(path, tree);
}

void ListOfPlaylist::load(const std::wstring& path) {
    wptree tree;
    const bool read = storage::load(path, tree);
    // A file without the list is set aside like a damaged one, since the
    // shutdown save would write an empty list over it.
    if (read && !tree.get_child_optional(L"list")) storage::setAside(path, "no element list");
    if (!read || !tree.get_child_optional(L"list")) {
        // Only the file's own name tells the radio list, not the folders above it.
        if (getFileName(path).find(L"radio") != std::wstring::npos) {
            LOG_EXTERN(L"Set default radio stations");
            auto radio = boost::make_shared<Playlist>(L"Радио", true);
            radio->add(k_default_station_title, k_default_station_url);
            add(radio);
        } else {
            LOG_EXTERN(L"List of Playlist not found");
        }
        return;
    }
    std::wstring damage;
    int skipped = 0;
    std::vector<std::wstring> missing;
    const boost::shared_ptr<Playlist> playing = take(tree, path, &damage, &skipped, &missing);
    // The shutdown save writes only what loaded: the file as it was stays
    // beside it for the operator, one copy whatever was left out (the
    // second call finds the copy the first made).
    if (skipped > 0) storage::keepCopy(path, std::to_string(skipped) + " entries skipped", damage);
    if (!missing.empty()) storage::keepCopyOfMissing(path, missing);
    if (playing) Player::play(playing);
}

boost::shared_ptr<Playlist> ListOfPlaylist::take(const wptree& tree, const std::wstring& path,
                                                 std::wstring* damage, int* skipped,
                                                 std::vector<std::wstring>* missing) {
    boost::shared_ptr<Playlist> playing;
    const auto list = tree.get_child_optional(L"list");
    if (!list) {
        LOG_INFO(L"Нет списка плейлистов в файле '%1%'", path);
        return playing;
    }
    // The operator is told once per file: the playlists with tracks left
    // out, by name, and how many playlists were left out whole.
    std::vector<std::wstring> told;
    AbsentTracks absent;
    int playlistsSkipped = 0;
    int total = 0;
    for (const auto& child : *list) {
        if (!isElement(child.first)) continue;
        std::wstring why;
        const boost::optional<StoredPlaylist> stored = readPlaylist(child.second, why);
        if (!stored) {
            LOG_INFO(L"Плейлист в файле '%1%' пропущен: %2%", path, why);
            ++playlistsSkipped;
            ++total;
            continue;
        }
        for (const std::wstring& reason : stored->damaged)
            LOG_INFO(L"Трек плейлиста '%1%' в файле '%2%' пропущен: %3%", stored->name, path, reason);
        if (!stored->damaged.empty()) {
            told.push_back(L"в плейлисте '" + stored->name + L"' пропущено записей: " +
                           std::to_wstring(stored->damaged.size()));
            total += static_cast<int>(stored->damaged.size());
        }
        auto playlist = boost::make_shared<Playlist>(stored->name, true);
        std::set<std::wstring> reported;
        for (const StoredTrack& track : stored->tracks) {
            // Each folder and file not there is in the log; the operator
            // hears of them once for the file.
            std::wstring folder;
            if (track.path.find(L"://") == std::wstring::npos && !folderOfTrackExists(track.path, folder)) {
                if (reported.insert(folder).second) LOG_INFO(L"Папка плейлиста не существует: '%1%'", folder);
                absent.folder(folder);
                continue;
            }
            if (!Playlist::pathAcceptable(track.path)) {
                LOG_INFO(L"Путь некорректный '%1%'", track.path);
                absent.file(track.path);
                continue;
            }
            // The file's title and path were checked above: a refusal here
            // is a file gone since.
            if (!playlist->add(track.title, track.path))
                absent.file(track.path);
            else if (track.current)
                playlist->setCurrent(static_cast<unsigned>(playlist->getItems().size() - 1));
        }
        if (stored->playing) playing = playlist;
        add(playlist);
    }
    if (playlistsSkipped > 0) told.push_back(L"пропущено плейлистов: " + std::to_wstring(playlistsSkipped));
    if (damage != nullptr) *damage = boost::algorithm::join(told, L"; ");
    if (skipped != nullptr) *skipped = total;
    if (missing != nullptr) *missing = absent.causes();
    return playing;
}
