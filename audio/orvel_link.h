#pragma once

#include <functional>

#include "audio/loudspeaker_ledger.h"

namespace frm {

/// The ledger's requests as the loudspeakers' own, without waiting: each
/// goes through the transport's asynchronous path.
class OrvelLink : public LoudspeakerLink {
public:
    /// `running`: whether the transport still runs (empty: always).
    explicit OrvelLink(std::function<bool()> running = std::function<bool()>());

    bool online(const Loudspeaker& speaker) override;
    bool answered(const Loudspeaker& speaker) override;
    Known known(const Loudspeaker& speaker) override;
    bool checksMemory(const Loudspeaker& speaker) override;
    std::optional<device::VolumeLevel> levelOf(const Loudspeaker& speaker, int percent) override;
    std::uint64_t returns(const Loudspeaker& speaker) override;
    bool running() override;
    device::ReplyTimes replyTimes(const Loudspeaker& speaker) override;

    void internalPlaying(const Loudspeaker& speaker, PlayingDone done) override;
    void switchChannel(const Loudspeaker& speaker, device::AudioChannel channel, Done done) override;
    void setVolume(const Loudspeaker& speaker, const device::VolumeLevel& level, bool enabled,
                   Done done) override;
    void readVolume(const Loudspeaker& speaker, VolumeDone done) override;

private:
    const std::function<bool()> m_running;
};

}  // namespace frm
