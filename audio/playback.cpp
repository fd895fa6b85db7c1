#include "audio/playback.h"

#include <atomic>
#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include "audio/place_folders.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/check.h"
#include "base/dbg.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"

namespace frm {

namespace {

std::atomic<PlaybackChannels*> s_channels{nullptr};

PlaybackChannels* channelsOrWarn() {
    PlaybackChannels* channels = PlaybackChannels::get();
    if (channels == nullptr) LOG_WARN(L"No playback channels: nothing is played");
    return channels;
}

}  // namespace

void PlaybackChannels::set(PlaybackChannels* channels) {
    s_channels.store(channels, std::memory_order_release);
}

PlaybackChannels* PlaybackChannels::get() { return s_channels.load(std::memory_order_acquire); }

boost::shared_ptr<PlaybackCollection> BasePlayback::getCollection() {
    if (m_heldCollection) return m_heldCollection;
    boost::shared_ptr<PlaybackCollection> collection = m_collection.lock();
    error::terminateIfNull(collection, "frm::BasePlayback::getCollection");
    return collection;
}

void BasePlayback::holdCollection() {
    if (!m_heldCollection) m_heldCollection = m_collection.lock();
}

bool isFolderPlaylistName(const std::wstring& name) {
    if (name.empty() || name.front() != L'/') return false;
    boost::system::error_code ec;
    return boost::filesystem::is_directory(base::toUtf8(name), ec);
}

void refreshFolderPlaylist(Playlist& playlist) {
    error::terminateIfNull(g_player_engine, "frm::refreshFolderPlaylist");
    const std::wstring patterns = g_player_engine->getFileFilter(true);
    const std::vector<std::wstring> files = getFilesByMask(false, playlist.getName(), patterns);
    playlist.clear();
    for (const std::wstring& file : files) playlist.add(getFileName(file), file);
}

PlaybackPlaylist::PlaybackPlaylist(const std::wstring& name, boost::shared_ptr<Playlist> playlist)
    : m_playlist(std::move(playlist)) {
    m_name = name;
}

void PlaybackPlaylist::execute() {
    if (!m_playlist) {
        LOG_WARN(L"Action is not executed. Playback for Playlist not set.");
        return;
    }
    if (isFolderPlaylistName(m_playlist->getName())) refreshFolderPlaylist(*m_playlist);
    dbg_puts(DEBUG, "Playback action. Name playlist '%ls', size %u", m_playlist->getName().c_str(),
             static_cast<unsigned>(m_playlist->getItems().size()));
    if (PlaybackChannels* channels = channelsOrWarn())
        channels->playOnPlayerChannel(m_playlist, m_devices, PlaybackTrack::k_keep_volume);
}

boost::shared_ptr<IPlayback> PlaybackPlaylist::clone() {
    auto copy = boost::make_shared<PlaybackPlaylist>(*this);
    copy->holdCollection();
    return copy;
}

PlaybackTrack::PlaybackTrack(const std::wstring& name, std::uint32_t kind, bool alarm)
    : m_alarm(alarm), m_kind(kind) {
    m_name = name;
}

void PlaybackTrack::setMessage(const std::wstring& name, const std::wstring& path) {
    m_messageName = name;
    m_messagePath = path;
}

void PlaybackTrack::setGong(const std::wstring& name, const std::wstring& path) {
    m_gongName = name;
    m_gongPath = path;
}

std::wstring PlaybackTrack::messageDir() {
    // Where the message pages look for a moved file: their own folder, then
    // the recordings'.
    std::wstring path = m_messagePath;
    if (!makeAbsolutePath(path, placeFolder(m_alarm ? PlaceFolder::kAlarmMessage : PlaceFolder::kServiceMessage)))
        makeAbsolutePath(path, placeFolder(PlaceFolder::kRecordedMessage));
    return path;
}

void PlaybackTrack::execute() {
    dbg_puts(TRACE, "Playback track action. Channel '%s', message '%ls', gong '%ls'",
             m_alarm ? "alarm" : "player", m_messagePath.c_str(), m_gongPath.c_str());
    if (m_alarm) {
        const int volume = m_kind == k_service_message ? pref::getInt("volume.microphone2", 90) : 100;
        if (PlaybackChannels* channels = channelsOrWarn())
            channels->launchOnAlarmChannel(L"Расписание", m_devices, m_messagePath, m_gongPath, volume,
                                           boost::function<void(int)>());
        return;
    }
    auto playlist = boost::make_shared<Playlist>(
        m_kind == k_service_message ? L"Служебное оповещение" : L"Тревожное оповещение", false);
    if (!m_gongPath.empty()) playlist->add(m_gongName, m_gongPath);
    playlist->add(m_messageName, m_messagePath);
    int volume = k_keep_volume;
    if (m_kind == k_service_message)
        volume = pref::getInt("volume.microphone2", 90);
    else if (m_kind == k_alarm_message)
        volume = pref::getInt("volume.serviceMessage2", 90);
    if (PlaybackChannels* channels = channelsOrWarn())
        channels->playOnPlayerChannel(playlist, m_devices, volume);
}

boost::shared_ptr<IPlayback> PlaybackTrack::clone() {
    auto copy = boost::make_shared<PlaybackTrack>(*this);
    copy->holdCollection();
    return copy;
}

PlaybackCollection::PlaybackCollection(std::wstring key, std::wstring title)
    : m_key(std::move(key)), m_title(std::move(title)) {}

void PlaybackCollection::add(boost::shared_ptr<IPlayback> playback) {
    error::terminateIfNull(playback, "frm::PlaybackCollection::add");
    if (auto base = boost::dynamic_pointer_cast<BasePlayback>(playback)) {
        base->m_collection = weak_from_this();
        base->m_heldCollection.reset();  // the group holds it now: no cycle
    }
    m_playbacks.push_back(std::move(playback));
}

void addPlaylistPlaybacks(const boost::shared_ptr<PlaybackCollection>& collection,
                          const std::vector<boost::shared_ptr<Playlist>>& playlists) {
    for (const auto& playlist : playlists)
        collection->add(boost::make_shared<PlaybackPlaylist>(playlist->getName(), playlist));
}

}  // namespace frm
