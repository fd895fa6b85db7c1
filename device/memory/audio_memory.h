#pragma once

#include <boost/shared_ptr.hpp>

#include "device/memory/audio_memory_base.h"

namespace device {
class DeviceBase;
class TransferProtocol;
}  // namespace device

// The audio memory of each model: the engine with the model's record layout
// and limits. Every class reads the device when it is made (see
// AudioMemoryBase); the constructor with a wire serves tools and tests.

namespace device::memory {

/// A loudspeaker's memory of one record layout: up to 64 scenarios.
template <std::uint16_t layout>
class LoudspeakerMemory : public AudioMemoryBase {
public:
    LoudspeakerMemory(boost::shared_ptr<TransferProtocol> transport, const boost::shared_ptr<DeviceBase>& device,
                      PlayingCallback playing, bool allowOverwrite);
    LoudspeakerMemory(boost::shared_ptr<IMemoryWire> wire, PlayingCallback playing, bool allowOverwrite);
};

extern template class LoudspeakerMemory<kLayout510>;
extern template class LoudspeakerMemory<kLayout610>;
extern template class LoudspeakerMemory<kLayout611>;

}  // namespace device::memory

namespace device::o510::memory {
class AudioMemory : public device::memory::LoudspeakerMemory<device::memory::kLayout510> {
public:
    using LoudspeakerMemory::LoudspeakerMemory;
};
}  // namespace device::o510::memory

namespace device::o610::memory {
class AudioMemory : public device::memory::LoudspeakerMemory<device::memory::kLayout610> {
public:
    using LoudspeakerMemory::LoudspeakerMemory;
};
}  // namespace device::o610::memory

namespace device::o611::memory {
class AudioMemory : public device::memory::LoudspeakerMemory<device::memory::kLayout611> {
public:
    using LoudspeakerMemory::LoudspeakerMemory;
};
}  // namespace device::o611::memory

namespace device::tovik::memory {

/// The console's memory: the Orvel-611 record layout, gongs and messages
/// only. Its memory is never replaced when it can't be read, and it reports
/// no playback state.
class AudioMemory : public device::memory::AudioMemoryBase {
public:
    AudioMemory(boost::shared_ptr<TransferProtocol> transport, const boost::shared_ptr<DeviceBase>& device);
    explicit AudioMemory(boost::shared_ptr<device::memory::IMemoryWire> wire);

    /// The console keeps no scenarios: logs and adds nothing.
    void addScenario(std::uint16_t gongId, std::uint16_t messageId, std::uint16_t periodSeconds,
                     const std::wstring& title) override;
};

}  // namespace device::tovik::memory
