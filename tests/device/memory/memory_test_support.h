#pragma once
// Helpers of the audio-memory tests: fragment bytes, a planted image, a
// wire that reaches a simulator store in-process (no socket), and a device
// object that has nothing but its memory.
#include <memory>
#include <random>
#include <string>

#include <boost/make_shared.hpp>

#include "base/exception.h"
#include "device/memory/audio_memory.h"
#include "device/memory/memory_image.h"
#include "device/memory/memory_wire.h"
#include "tests/device/device_test_support.h"
#include "tools/simulator/audio_memory_store.h"

namespace memory_test {

/// Reproducible bytes standing for an MP3 file.
inline std::string bytesOf(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

/// An image of `fragments` fragments (ids 10, 11, ...) and one scenario
/// playing the last after the first.
inline std::string plantedImage(std::uint16_t layout, unsigned fragments, std::size_t size) {
    using namespace device::memory;
    std::vector<FragmentRecord> records;
    std::vector<std::shared_ptr<const std::string>> data;
    for (unsigned i = 0; i < fragments; ++i) {
        FragmentRecord record;
        record.id = static_cast<std::uint16_t>(10 + i);
        record.title = L"Фрагмент " + std::to_wstring(i + 1);
        records.push_back(record);
        data.push_back(std::make_shared<const std::string>(bytesOf(size + i, 100 + i)));
    }
    std::vector<ScenarioInfo> scenarios;
    if (fragments > 0) {
        ScenarioInfo scenario;
        scenario.id = 5;
        scenario.number = 1;
        scenario.title = L"Эвакуация";
        scenario.gongId = 10;
        scenario.messageId = static_cast<std::uint16_t>(10 + fragments - 1);
        scenario.period = 30;
        scenarios.push_back(scenario);
    }
    return encodeImage(layout, records, scenarios, data);
}

/// The device's memory without a network: requests go straight to the store.
class LocalWire : public device::memory::IMemoryWire {
public:
    explicit LocalWire(std::shared_ptr<device::sim::AudioMemoryStore> store) : m_store(std::move(store)) {}
    std::string transfer(const std::string& request) override {
        if (request.rfind("mem ", 0) != 0) throw exception::InternalError(L"not a memory request");
        const auto reply = m_store->answer(request.substr(4));
        if (!reply) throw exception::Offline();
        if (reply->rfind("ERR", 0) == 0) throw exception::UnexpectedResponseOfDevice(*reply);
        return *reply;
    }
    bool isOnlineAndAnswered() override { return online; }
    bool hasInternalPlaying() override { return playing; }

    bool online = true;
    bool playing = false;

private:
    std::shared_ptr<device::sim::AudioMemoryStore> m_store;
};

/// A loudspeaker of the Orvel-611 family reduced to its audio memory.
class MemoryDevice : public device_test::StubDevice {
public:
    using StubDevice::StubDevice;

    std::atomic<bool> playing{false};
    std::atomic<bool> allowOverwrite{false};
    std::atomic<std::int64_t> skew{0};  // microseconds added to the clock
    device_test::LockedList<device::memory::Playing> states;

    bool hasInternalPlaying() override { return playing; }

protected:
    std::int64_t now() const override { return DeviceBase::now() + skew; }
    boost::shared_ptr<device::memory::IAudioControl> createAudioControl(bool overwrite) override {
        // The callback holds the device weakly, as the models must.
        boost::weak_ptr<DeviceBase> weak = getThisBasePtr();
        auto callback = [weak](device::memory::Playing state) {
            if (auto self = boost::static_pointer_cast<MemoryDevice>(weak.lock())) self->states.add(state);
        };
        return boost::make_shared<device::o611::memory::AudioMemory>(getTransport(), getThisBasePtr(), callback,
                                                                     overwrite || allowOverwrite);
    }
};

}  // namespace memory_test
