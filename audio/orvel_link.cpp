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
    known.volume = known.enabled ? speaker->getCachedVolumeLevel() : speaker->getVolumeLevelBeforeMute();
    return known;
}

bool OrvelLink::checksMemory(const Loudspeaker& speaker) {
    return speaker->getVersionIndex() <= kLastOrvel510Index;
}

std::optional<device::VolumeLevel> OrvelLink::levelOf(const Loudspeaker& speaker, int percent) {
    if (percent < 0) return std::nullopt;
    return device::VolumeLevel::ofPercent(speaker->getVersionIndex(), static_cast<std::uint32_t>(percent));
}

std::uint64_t OrvelLink::returns(const Loudspeaker& speaker) { return speaker->returnCount(); }

bool OrvelLink::running() { return !m_running || m_running(); }

device::ReplyTimes OrvelLink::replyTimes(const Loudspeaker& speaker) { return speaker->replyTimes(); }

void OrvelLink::internalPlaying(const Loudspeaker& speaker, PlayingDone done) {
    speaker->internalPlayingAsync(std::move(done));
}

void OrvelLink::switchChannel(const Loudspeaker& speaker, device::AudioChannel channel, Done done) {
    speaker->switchChannelAsync(channel, std::move(done));
}

void OrvelLink::setVolume(const Loudspeaker& speaker, const device::VolumeLevel& level, bool enabled,
                          Done done) {
    speaker->setVolumeLevelAsync(level, enabled, std::move(done));
}

void OrvelLink::readVolume(const Loudspeaker& speaker, VolumeDone done) {
    speaker->readVolumeLevelAsync(std::move(done));
}

}  // namespace frm
