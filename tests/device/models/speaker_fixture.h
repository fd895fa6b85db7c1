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

#include "base/thread_dispatcher.h"
#include "device/models/orvel_info.h"
#include "device/transfer_protocol.h"
#include "tests/support/counting_log_fixture.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/simulator.h"

class SpeakerFixture : public CountingLogFixture {
protected:
    typedef std::vector<std::string> Requests;
    typedef std::function<void(device::sim::OrvelBandModel&)> Dress;

    static void SetUpTestSuite() { base::ThreadDispatcher::create(); }
    static void TearDownTestSuite() { base::ThreadDispatcher::destroy(); }

    void SetUp() override {
        startLog(base::Log::TRACE3);
        m_transport = boost::make_shared<device::TransferProtocol>(0, "");
        m_transport->run();
        m_simulator.start();
    }
    void TearDown() override {
        m_device.reset();
        m_transport->stop();
        m_simulator.stop();
        LogFixture::TearDown();
    }

    /// A new simulated loudspeaker of the index at an address of its own,
    /// dressed (stores installed, fields set) before it starts, and the
    /// object for it after its first state packet and an answered request;
    /// the request log then starts empty.
    void open(int index, const Dress& dress = {}) {
        const std::string hardware = device::sim::Simulator::hardwareAddress(3);
        auto model = std::make_unique<device::sim::OrvelBandModel>(hardware, index);
        if (dress) dress(*model);
        m_speaker = &m_simulator.add("127.0.0." + std::to_string(2 + m_opened++), 0, std::move(model));
        m_endpoint = net::IpAndPort(m_speaker->endpoint().address().to_string(), m_speaker->endpoint().port());
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
    Requests requests() const {
        Requests texts;
        for (const auto& d : m_speaker->received()) {
            std::string text = d.text;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            if (text != "get vol") texts.push_back(text);
        }
        return texts;
    }

    device::sim::Simulator m_simulator;
    boost::shared_ptr<device::TransferProtocol> m_transport;
    device::sim::SimulatedDevice* m_speaker = nullptr;
    net::IpAndPort m_endpoint;
    boost::shared_ptr<device::OrvelInfo> m_device;
    int m_opened = 0;
};
