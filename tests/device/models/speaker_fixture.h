#pragma once

// A loudspeaker object over real UDP against one simulated loudspeaker of a
// firmware generation, online and answered, with the simulator's ordered
// request log. Tests that use it open sockets (label net).
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "device/models/orvel_info.h"
#include "tests/device/device_test_support.h"
#include "tools/simulator/orvel_band_model.h"

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
        const std::string hardware = device::sim::Simulator::hardwareAddress(3);
        auto model = std::make_unique<device::sim::OrvelBandModel>(hardware, index);
        if (dress) dress(*model);
        m_speaker = &m_simulator.add("127.0.0." + std::to_string(2 + m_opened++), 0, std::move(model));
        m_endpoint = device_test::endpointOf(*m_speaker);
        m_device = device::OrvelInfo::create(3, device::kTypeOrvel610, net::HardwareAddress(hardware), m_endpoint,
                                             L"Зал", m_transport, {});
        ASSERT_TRUE(sendStatePacket());
        ASSERT_EQ(m_device->getVersionIndex(), index);
        ASSERT_TRUE(m_device->probeVolume());
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

    device::sim::SimulatedDevice* m_speaker = nullptr;
    net::IpAndPort m_endpoint;
    boost::shared_ptr<device::OrvelInfo> m_device;
    int m_opened = 0;
};
