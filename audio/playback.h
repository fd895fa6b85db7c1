#pragma once

#include <boost/enable_shared_from_this.hpp>
#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

class Playlist;

namespace device {
class OrvelInfo;
}

namespace frm {

class PlaybackCollection;

/// The loudspeakers a playback plays on, ordered by pointer.
using DeviceSet = std::set<boost::shared_ptr<device::OrvelInfo>>;

/// Where playbacks send their work: the player channel (a playlist on the
/// common stream) and the alarm channel (a message with its gong on the
/// notification stream). The channels register themselves when start-up
/// creates them and withdraw at exit; a playback executed while none is
/// registered is logged and plays nothing.
class PlaybackChannels {
public:
    virtual ~PlaybackChannels() = default;
    virtual void playOnPlayerChannel(boost::shared_ptr<Playlist> playlist, const DeviceSet& devices,
                                     int volume) = 0;
    virtual bool launchOnAlarmChannel(const std::wstring& description, const DeviceSet& devices,
                                      const std::wstring& message, const std::wstring& gong, int volume,
                                      boost::function<void(int)> callback) = 0;

    static void set(PlaybackChannels* channels);
    static PlaybackChannels* get();
};

/// A stored, named request to play on chosen loudspeakers. execute runs on
/// the caller's thread (GUI thread for buttons, scheduler thread for tasks);
/// the channels queue their own work. No lock: a playback is edited as a
/// clone and replaced whole.
class IPlayback {
public:
    virtual void execute() = 0;
    virtual std::wstring getName() = 0;
    virtual void setName(const std::wstring& name) = 0;
    virtual boost::shared_ptr<PlaybackCollection> getCollection() = 0;
    virtual void setDevices(const DeviceSet& devices) = 0;
    virtual DeviceSet getDevices() = 0;
    virtual boost::shared_ptr<IPlayback> clone() = 0;
    virtual ~IPlayback() = default;
};

class BasePlayback : public IPlayback {
public:
    std::wstring getName() override { return m_name; }
    void setName(const std::wstring& name) override { m_name = name; }
    /// A playback never added to a collection stops the program here.
    boost::shared_ptr<PlaybackCollection> getCollection() override;
    void setDevices(const DeviceSet& devices) override { m_devices = devices; }
    DeviceSet getDevices() override { return m_devices; }

protected:
    /// Called by clone on the copy: a copy (a scheduled task's playback)
    /// keeps its group alive, since the main window rebuilds the groups
    /// while tasks still name theirs.
    void holdCollection();

    std::wstring m_name;
    // Weak: the collection owns its playbacks, and a strong pointer back
    // would keep both alive for ever.
    boost::weak_ptr<PlaybackCollection> m_collection;
    // Set only in clones, which no collection holds; add() clears it.
    boost::shared_ptr<PlaybackCollection> m_heldCollection;
    DeviceSet m_devices;

    friend class PlaybackCollection;
};

/// A whole playlist on the player channel. A playlist named by an absolute
/// path of an existing folder (a removable medium) is rebuilt from that
/// folder on every execution.
class PlaybackPlaylist : public BasePlayback {
public:
    PlaybackPlaylist(const std::wstring& name, boost::shared_ptr<Playlist> playlist);
    void execute() override;
    /// Shares the same playlist and holds the group.
    boost::shared_ptr<IPlayback> clone() override;

private:
    boost::shared_ptr<Playlist> m_playlist;
};

/// One message file with an optional gong before it, on the alarm channel
/// or the player channel.
class PlaybackTrack : public BasePlayback {
public:
    /// Kinds the player channel tells apart by volume.
    static constexpr std::uint32_t k_service_message = 3;
    static constexpr std::uint32_t k_alarm_message = 4;
    static constexpr int k_keep_volume = 2147483647;

    PlaybackTrack(const std::wstring& name, std::uint32_t kind, bool alarm);
    void setMessage(const std::wstring& name, const std::wstring& path);
    void setGong(const std::wstring& name, const std::wstring& path);
    /// The message path, pointed into the track's message folder, else the
    /// recordings' folder, when the file is found there rather than where
    /// the path says (place_folders.h).
    std::wstring messageDir();
    std::wstring getMessageName() const { return m_messageName; }
    std::wstring getMessagePath() const { return m_messagePath; }
    std::wstring getGongName() const { return m_gongName; }
    std::wstring getGongPath() const { return m_gongPath; }
    /// True: the message plays on the alarm channel.
    bool isAlarm() const { return m_alarm; }
    void execute() override;
    /// Holds the group, like a playlist's clone.
    boost::shared_ptr<IPlayback> clone() override;

private:
    bool m_alarm;
    std::uint32_t m_kind;
    std::wstring m_messageName;
    std::wstring m_messagePath;
    std::wstring m_gongName;
    std::wstring m_gongPath;
};

/// The playbacks of one source in insertion order; owned by a shared
/// pointer. The key names the source where the scheduler stores its tasks
/// ("playlist", "radio", "device", "serviceMessage", "microphone"); the
/// title is what the operator reads.
class PlaybackCollection : public boost::enable_shared_from_this<PlaybackCollection> {
public:
    PlaybackCollection(std::wstring key, std::wstring title);
    const std::wstring& getKey() const { return m_key; }
    const std::wstring& getTitle() const { return m_title; }
    /// A null playback stops the program.
    void add(boost::shared_ptr<IPlayback> playback);
    std::vector<boost::shared_ptr<IPlayback>> getAll() const { return m_playbacks; }

private:
    const std::wstring m_key;
    const std::wstring m_title;
    std::vector<boost::shared_ptr<IPlayback>> m_playbacks;
};

/// One playlist playback per playlist, named after it, without devices.
void addPlaylistPlaybacks(const boost::shared_ptr<PlaybackCollection>& collection,
                          const std::vector<boost::shared_ptr<Playlist>>& playlists);

/// Rebuilds a folder playlist from the files the plug-ins can play.
void refreshFolderPlaylist(Playlist& playlist);

/// The folder-playlist rule: the name is an absolute path of an existing folder.
bool isFolderPlaylistName(const std::wstring& name);

}  // namespace frm
