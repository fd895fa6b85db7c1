#pragma once
// The console over UDP for the configuration and passkey tests: a simulated
// console that keeps its settings and keys, the object for it (online and
// answered), an optional stand-in audio memory, and the ordered request log.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "device/models/tovik_info.h"
#include "tests/device/device_test_support.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/tovik_config_model.h"

namespace tovik_test {

using namespace std::chrono_literals;
using device_test::Requests;
typedef std::map<std::string, std::string> Settings;

using device_test::FakeMemory;

/// A console whose memory may be a stand-in and whose clock a test may move.
class TestTovik : public device::TovikInfo {
public:
    static boost::shared_ptr<TestTovik> make(const net::IpAndPort& endpoint,
                                             boost::shared_ptr<device::TransferProtocol> transport,
                                             boost::shared_ptr<device::memory::IAudioControl> memory) {
        boost::shared_ptr<TestTovik> self(new TestTovik(endpoint, std::move(transport), std::move(memory)));
        self->setThisWeakPtr(self);
        return self;
    }
    std::atomic<std::int64_t> shift{0};
    std::int32_t volume() const { return m_volume; }

protected:
    std::int64_t now() const override { return TovikInfo::now() + shift.load(); }
    boost::shared_ptr<device::memory::IAudioControl> createAudioControl(bool allowOverwrite) override {
        return m_fake ? watchGong(m_fake) : TovikInfo::createAudioControl(allowOverwrite);
    }

private:
    TestTovik(const net::IpAndPort& endpoint, boost::shared_ptr<device::TransferProtocol> transport,
              boost::shared_ptr<device::memory::IAudioControl> memory)
        : TovikInfo(9, net::HardwareAddress(0x025653, 0x31), endpoint, L"Пульт", std::move(transport)),
          m_fake(std::move(memory)) {}
    boost::shared_ptr<device::memory::IAudioControl> m_fake;
};

class ConsoleTest : public device_test::UdpFixture {
protected:
    void releaseDevices() override { m_device.reset(); }

    /// A new simulated console (at an address of its own) and the object for
    /// it, online and answered; the request log starts empty. With a memory,
    /// the memory is made first and the gong job that its making queues has
    /// run before this returns.
    void open(const Settings& settings = {}, boost::shared_ptr<device::memory::IAudioControl> memory = {},
              std::shared_ptr<device::sim::AudioMemoryStore> store = {}) {
        auto model = std::make_unique<device::sim::TovikConfigModel>(device::sim::Simulator::hardwareAddress(3));
        for (const auto& setting : settings) model->values[setting.first] = setting.second;
        if (store) device::sim::AudioMemoryStore::install(store, *model);
        openModel(std::move(model), memory, store != nullptr);
    }
    /// The same for a console model made by the test.
    void openModel(std::unique_ptr<device::sim::TovikConfigModel> model,
                   boost::shared_ptr<device::memory::IAudioControl> memory = {}, bool withStore = false) {
        m_console = &m_simulator.add("127.0.0." + std::to_string(40 + m_opened++), 0, std::move(model));
        const net::IpAndPort endpoint = device_test::endpointOf(*m_console);
        m_device = TestTovik::make(endpoint, m_transport, memory);
        ASSERT_TRUE(m_device->parsePing(packet(), endpoint));
        ASSERT_TRUE(m_device->probeVolume());
        if (memory || withStore) {
            ASSERT_TRUE(m_device->getAudioControl(false, true));
            ASSERT_TRUE(device_test::waitForRequest(*m_console, "get state"));
            ASSERT_TRUE(waitForIdleDispatcher()) << "the gong job has not returned";
        }
        m_console->clearReceived();
    }
    std::string packet() {
        return m_console->withModel<device::sim::TovikConfigModel>(
            [](device::sim::TovikConfigModel& m) { return m.statePacket(); });
    }
    /// The requests the console received without the audio memory's own.
    Requests requests() const { return device_test::requestsOf(*m_console, false, false); }
    template <class F>
    auto model(F f) {
        return m_console->withModel<device::sim::TovikConfigModel>(f);
    }
    std::string setting(const std::string& name) {
        return model([&](device::sim::TovikConfigModel& m) { return m.values[name]; });
    }

    device::sim::SimulatedDevice* m_console = nullptr;
    boost::shared_ptr<TestTovik> m_device;
    int m_opened = 0;
};

}  // namespace tovik_test
