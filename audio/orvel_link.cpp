#include "audio/orvel_link.h"

namespace frm {

namespace {

/// The last generation of the Orvel-510, whose audio memory plays unseen.
constexpr int kLastOrvel510Index = 8;

}  // namespace

OrvelLink::OrvelLink(std::function<bool()> running) : m_running(std::move(running)) {}

bool OrvelLink::online(const Loudspeaker& speaker) { return speaker->isOnline(); }

bool OrvelLink::answered(const Loudspeaker& speaker) { return speaker->isOnlineAndAnswered(); }

LoudspeakerLink::Known OrvelLink::known(const Loudspeaker& speaker) {
    Known known;
    const device::AudioChannel channel = speaker->getCachedChannel();
    if (channel != device::CHANNEL_UNKNOWN) known.channel = channel;
    known.enabled = speaker->isVolumeEnabled();
    if (!known.enabled) {
        known.volume = speaker->getVolumeBeforeMute();
    } else {
        const std::int32_t volume = speaker->getCachedVolume();
        if (volume != device::DeviceBase::kUnknownVolume) known.volume = volume;
    }
    return known;
}

bool OrvelLink::checksMemory(const Loudspeaker& speaker) {
    return speaker->getVersionIndex() <= kLastOrvel510Index;
}

bool OrvelLink::running() { return !m_running || m_running(); }

void OrvelLink::internalPlaying(const Loudspeaker& speaker, PlayingDone done) {
    speaker->internalPlayingAsync(std::move(done));
}

void OrvelLink::switchChannel(const Loudspeaker& speaker, device::AudioChannel channel, Done done) {
    speaker->switchChannelAsync(channel, std::move(done));
}

void OrvelLink::setVolume(const Loudspeaker& speaker, int percent, bool enabled, Done done) {
    speaker->setVolumeAsync(static_cast<std::uint32_t>(percent), enabled, std::move(done));
}

void OrvelLink::readVolume(const Loudspeaker& speaker, VolumeDone done) {
    speaker->readVolumeAsync(std::move(done));
}

}  // namespace frm
