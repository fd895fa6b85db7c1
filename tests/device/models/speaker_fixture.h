#pragma once

// A loudspeaker object over real UDP against one simulated loudspeaker of a
// firmware generation, online and answered, with the simulator's ordered
// request log. Tests that use it open sockets (label net).
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "device/models/orvel_info.h"
#include "tests/device/device_test_support.h"
#include "tools/simulator/orvel_band_model.h"

/// A loudspeaker whose clock a test may move forward and whose audio memory
/// may be a stand-in, watched as the model watches its own or not at all.
class TestOrvel : public device::OrvelInfo {
public:
    static boost::shared_ptr<TestOrvel> make(const std::string& hardware, const net::IpAndPort& endpoint,
                                             boost::shared_ptr<device::TransferProtocol> transport,
                                             boost::shared_ptr<device::memory::IAudioControl> memory,
                                             std::uint64_t type = device::kTypeOrvel610, std::uint32_t id = 3,
                                             StateChangedHandler handler = {}, bool watched = true) {
        boost::shared_ptr<TestOrvel> self(new TestOrvel(id, hardware, endpoint, std::move(transport)));
        self->m_fake = std::move(memory);
        self->m_watched = watched;
        setUp(self, type, std::move(handler));
        return self;
    }
    std::atomic<std::int64_t> shift{0};
    std::int32_t volume() const { return m_volume; }
    bool answered() const { return m_answered; }
    bool online() const { return m_online; }

protected:
    std::int64_t now() const override { return OrvelInfo::now() + shift.load(); }
    boost::shared_ptr<device::memory::IAudioControl> createAudioControl(bool allowOverwrite) override {
        if (!m_fake) return OrvelInfo::createAudioControl(allowOverwrite);
        return m_watched ? watchScenarios(m_fake) : m_fake;
    }

private:
    TestOrvel(std::uint32_t id, const std::string& hardware, const net::IpAndPort& endpoint,
              boost::shared_ptr<device::TransferProtocol> transport)
        : OrvelInfo(id, net::HardwareAddress(hardware), endpoint, L"Зал", std::move(transport)) {}
    boost::shared_ptr<device::memory::IAudioControl> m_fake;
    bool m_watched = true;
};

class SpeakerFixture : public device_test::UdpFixture {
protected:
    typedef device_test::Requests Requests;
    typedef std::function<void(device::sim::OrvelBandModel&)> Dress;

    void releaseDevices() override { m_device.reset(); }

    /// A new simulated loudspeaker of the index at an address of its own,
    /// dressed (stores installed, fields set) before it starts, and the
    /// object for it after its first state packet and an answered request;
    /// the request log then starts empty.
    void open(int index, const Dress& dress = {}) {
        auto model = std::make_unique<device::sim::OrvelBandModel>(kHardware, index);
        if (dress) dress(*model);
        openModel(index, std::move(model));
    }
    /// The same for a model made by the test. With a stand-in memory, the
    /// memory is made first and the record that its making reads (on a job)
    /// is kept before this returns.
    void openModel(int index, std::unique_ptr<device::sim::OrvelBandModel> model,
                   boost::shared_ptr<device::memory::IAudioControl> memory = {}) {
        m_speaker = &m_simulator.add("127.0.0." + std::to_string(2 + m_opened++), 0, std::move(model));
        m_endpoint = device_test::endpointOf(*m_speaker);
        m_device = TestOrvel::make(kHardware, m_endpoint, m_transport, memory);
        ASSERT_TRUE(sendStatePacket());
        ASSERT_EQ(m_device->getVersionIndex(), index);
        ASSERT_TRUE(m_device->probeVolume());
        if (memory) {
            ASSERT_TRUE(m_device->getAudioControl(false, true));
            ASSERT_TRUE(device_test::waitForRequest(*m_speaker, "get state"));
            ASSERT_TRUE(waitForIdleDispatcher()) << "the job that reads the record has not returned";
        }
        m_speaker->clearReceived();
    }
    /// The simulated loudspeaker's current state packet, parsed by the object.
    bool sendStatePacket(const Dress& change = {}) {
        const std::string packet = m_speaker->withModel<device::sim::OrvelBandModel>([&](device::sim::OrvelBandModel& m) {
            if (change) change(m);
            return m.statePacket();
        });
        return m_device->parsePing(packet, m_endpoint);
    }

    /// The requests received, line ends removed, without the base's
    /// responding checks ("get vol").
    Requests requests() const { return device_test::requestsOf(*m_speaker); }

    const std::string kHardware = device::sim::Simulator::hardwareAddress(3);
    device::sim::SimulatedDevice* m_speaker = nullptr;
    net::IpAndPort m_endpoint;
    boost::shared_ptr<TestOrvel> m_device;
    int m_opened = 0;
};
