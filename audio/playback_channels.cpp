#include "audio/alarm_channel.h"
#include "audio/channel_host.h"
#include "audio/player_channel.h"

namespace frm {

namespace {

/// The playbacks' view of the two singletons; a channel that is gone plays
/// nothing.
class SingletonChannels : public PlaybackChannels {
public:
    void playOnPlayerChannel(boost::shared_ptr<Playlist> playlist, const DeviceSet& devices, int volume) override {
        if (PlayerChannel* channel = PlayerChannel::instance()) channel->play(std::move(playlist), devices, volume);
    }
    bool launchOnAlarmChannel(const std::wstring& description, const DeviceSet& devices, const std::wstring& message,
                              const std::wstring& gong, int volume, boost::function<void(int)> callback) override {
        return AlarmChannel::launchWithCallback(AlarmChannel::Tag(), description, devices, message, gong, volume,
                                                std::move(callback));
    }
};

SingletonChannels s_channels;

}  // namespace

void registerPlaybackChannels() { PlaybackChannels::set(&s_channels); }

void unregisterPlaybackChannels() { PlaybackChannels::set(nullptr); }

}  // namespace frm
