#include "device/memory/audio_memory.h"

#include <boost/make_shared.hpp>

#include "base/log.h"

namespace device::memory {
namespace {

MemoryLimits limitsOf(std::uint16_t layout, std::size_t maxScenarios) {
    MemoryLimits limits;
    limits.layout = layout;
    limits.maxFragments = 255;
    limits.maxScenarios = maxScenarios;
    return limits;
}

boost::shared_ptr<IMemoryWire> wireOf(boost::shared_ptr<TransferProtocol> transport,
                                      const boost::shared_ptr<DeviceBase>& device) {
    return boost::make_shared<DeviceMemoryWire>(std::move(transport), device);
}

}  // namespace

template <std::uint16_t layout>
LoudspeakerMemory<layout>::LoudspeakerMemory(boost::shared_ptr<TransferProtocol> transport,
                                             const boost::shared_ptr<DeviceBase>& device, PlayingCallback playing,
                                             bool allowOverwrite)
    : LoudspeakerMemory(wireOf(std::move(transport), device), std::move(playing), allowOverwrite) {}

template <std::uint16_t layout>
LoudspeakerMemory<layout>::LoudspeakerMemory(boost::shared_ptr<IMemoryWire> wire, PlayingCallback playing,
                                             bool allowOverwrite)
    : AudioMemoryBase(std::move(wire), limitsOf(layout, 64), std::move(playing), allowOverwrite) {}

template class LoudspeakerMemory<kLayout510>;
template class LoudspeakerMemory<kLayout610>;
template class LoudspeakerMemory<kLayout611>;

}  // namespace device::memory

namespace device::tovik::memory {

using namespace device::memory;

AudioMemory::AudioMemory(boost::shared_ptr<TransferProtocol> transport, const boost::shared_ptr<DeviceBase>& device)
    : AudioMemory(wireOf(std::move(transport), device)) {}

AudioMemory::AudioMemory(boost::shared_ptr<IMemoryWire> wire)
    : AudioMemoryBase(std::move(wire), limitsOf(kLayout611, 0), PlayingCallback(), false) {}

void AudioMemory::addScenario(std::uint16_t, std::uint16_t, std::uint16_t, const std::wstring&) {
    LOG_INFO(L"Skip a scenario for Tovik.");
}

}  // namespace device::tovik::memory
