#pragma once

#include <cstdint>
#include <map>

#include "audio/device_action.h"
#include "audio/playback.h"
#include "device/models/orvel_info.h"

// The loudspeaker requests that the player and the alarm channel apply to
// groups: every walk skips the loudspeakers that are not online or did not
// answer their last exchange. Run on the channels' jobs and threads.

namespace frm {

using VolumeMap = std::map<boost::shared_ptr<device::OrvelInfo>, int>;
using VolumeStateMap = std::map<boost::shared_ptr<device::OrvelInfo>, bool>;

class IsOnlineAndAnswered
    : public ActionArg0<bool, device::OrvelInfo, bool (device::OrvelInfo::*)() const> {
public:
    IsOnlineAndAnswered() : ActionArg0(&device::DeviceBase::isOnlineAndAnswered) {}
};

/// False only when some loudspeaker was asked and every one refused.
inline bool switchChannelOfAnswering(const DeviceSet& devices, device::AudioChannel channel) {
    IsOnlineAndAnswered answering;
    ActionArg1<bool, device::OrvelInfo, bool (device::OrvelInfo::*)(device::AudioChannel), device::AudioChannel>
        switchTo(&device::OrvelInfo::switchChannel, channel);
    return applyActionToDevicesIf(devices, answering, switchTo);
}

inline VolumeMap volumesOfAnswering(const DeviceSet& devices) {
    IsOnlineAndAnswered answering;
    ActionArg0<int, device::OrvelInfo, int (device::OrvelInfo::*)()> volume(&device::DeviceBase::getVolume);
    return mapActionToDevicesIf(devices, answering, volume);
}

inline VolumeStateMap volumeStatesOfAnswering(const DeviceSet& devices) {
    IsOnlineAndAnswered answering;
    ActionArg0<bool, device::OrvelInfo, bool (device::OrvelInfo::*)() const> enabled(
        &device::DeviceBase::isVolumeEnabled);
    return mapActionToDevicesIf(devices, answering, enabled);
}

inline void setVolumeOfAnswering(const DeviceSet& devices, int volume) {
    IsOnlineAndAnswered answering;
    ActionArg1<bool, device::OrvelInfo, bool (device::OrvelInfo::*)(std::uint32_t), std::uint32_t> set(
        &device::OrvelInfo::setVolume, static_cast<std::uint32_t>(volume));
    applyActionToDevicesIf(devices, answering, set);
}

inline void enableVolumeOfAnswering(const DeviceSet& devices, bool on) {
    IsOnlineAndAnswered answering;
    ActionArg1<bool, device::OrvelInfo, bool (device::OrvelInfo::*)(bool), bool> enable(
        &device::DeviceBase::enableVolume, on);
    applyActionToDevicesIf(devices, answering, enable);
}

/// Saved volumes, then saved mute states, each on the loudspeakers that
/// answer; true when every call succeeded.
inline bool restoreVolumes(const VolumeMap& volumes, const VolumeStateMap& states) {
    IsOnlineAndAnswered answering;
    const bool volumesSet = applyStoredValues<device::OrvelInfo, int>(
        volumes, answering, [](const boost::shared_ptr<device::OrvelInfo>& d, int v) {
            return d->setVolume(static_cast<std::uint32_t>(v));
        });
    const bool statesSet = applyStoredValues<device::OrvelInfo, bool>(
        states, answering, [](const boost::shared_ptr<device::OrvelInfo>& d, bool on) { return d->enableVolume(on); });
    return volumesSet && statesSet;
}

/// The set without the loudspeakers that are offline or silent.
inline DeviceSet answeringOnly(const DeviceSet& devices) {
    DeviceSet kept;
    for (const auto& d : devices)
        if (d->isOnlineAndAnswered()) kept.insert(d);
    return kept;
}

}  // namespace frm
