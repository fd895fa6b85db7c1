#pragma once

#include <string>
#include <vector>

#include <boost/core/noncopyable.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "audio/base_control_list.h"

class Playlist;

/// An ordered list of playlists shown in one playlist panel (the music list
/// and the radio list), kept in an XML file of the data folder: loaded at
/// start-up, saved at shutdown. The playlist the player was playing when the
/// list was saved plays again when it is loaded.
///
/// Threads: the GUI thread edits the list; the lock guards the vector, each
/// playlist has its own. load and save run on the start-up and shutdown path.
class ListOfPlaylist final : public BaseControlList, private boost::noncopyable {
public:
    ListOfPlaylist() = default;

    /// A null playlist stops the program.
    void add(boost::shared_ptr<Playlist> playlist);
    std::vector<boost::shared_ptr<Playlist>> getAll();
    /// An index past the end stops the program.
    boost::shared_ptr<Playlist> getOne(unsigned index);

    void deleteSelected() override;
    int moveItem(unsigned from, unsigned to) override;

    void save(const std::wstring& path);
    /// Appends the playlists of the file. A missing or unreadable radio file
    /// gives the default radio playlist; a damaged file, or one without the
    /// element "list", is set aside as storage::load does. A track the file
    /// does not describe completely is left out alone (its playlist keeps
    /// the others), a playlist without its name or its list of tracks is left
    /// out whole. A track whose folder or file is not there (a drive
    /// unplugged, a share not mounted) is left out too, logged alone; its
    /// playlist stays, empty if need be. Then, since the next save writes
    /// only what loaded, the file as it was is copied aside once
    /// (storage::keepCopy for the damage, storage::keepCopyOfMissing for
    /// what is not there), and the operator is warned once for each: the
    /// damage by playlist, the folders and the files not there each with
    /// their count and the first few.
    void load(const std::wstring& path);
    /// What load does once the file is read: appends the playlists of the
    /// tree (`path` only names the file in the log) and returns the one the
    /// file marks as playing, which load then plays (the last one marked when
    /// several are). When given, `damage` receives what was left out in the
    /// operator's words (empty when nothing) and `skipped` how many entries,
    /// tracks and playlists; `missing` one text per cause of tracks whose
    /// folder or file is not there (folders, files), with the count and the
    /// first few, in the operator's words. No player needed.
    boost::shared_ptr<Playlist> take(const boost::property_tree::wptree& tree, const std::wstring& path,
                                     std::wstring* damage = nullptr, int* skipped = nullptr,
                                     std::vector<std::wstring>* missing = nullptr);

private:
    boost::recursive_mutex m_lock;
    std::vector<boost::shared_ptr<Playlist>> m_playlists;
};
