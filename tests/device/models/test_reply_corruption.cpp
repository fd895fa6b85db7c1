// ctest-labels: net
// Loudspeaker and console objects against simulated devices whose replies
// come back corrupted (a bit flipped, cut short, replaced by random bytes):
// every operation ends with a result or an exception of our family, never a
// std or boost exception, and nothing leaves a thread.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/models/equalizer.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "tests/device/device_test_support.h"
#include "tests/device/fault_test_support.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/fault_model.h"
#include "tools/simulator/line_control_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/tovik_config_model.h"

using device::sim::Fault;
using device::sim::FaultModel;
using device::sim::FaultRates;
using fault_test::endsWithOurExceptionsOnly;

namespace {

class CorruptedReplies : public device_test::UdpFixture {
protected:
    void SetUp() override {
        fault_test::watchForEscapedExceptions();
        UdpFixture::SetUp();
    }
    void TearDown() override {
        releaseDevices();
        m_transport->stop();
        m_simulator.stop();
        EXPECT_EQ(fault_test::linesOfEscapedExceptions([this](const char* text) { return loggedCount(text); }), 0);
        UdpFixture::TearDown();
    }
    void releaseDevices() override {
        m_orvel.reset();
        m_tovik.reset();
    }

    /// A loudspeaker of index 17 that keeps its settings, equalizer and line
    /// control, behind a fault model; its object has taken one state packet.
    FaultModel& openOrvel(unsigned seed) {
        const std::string hardware = device::sim::Simulator::hardwareAddress(20);
        auto inner = std::make_unique<device::sim::OrvelConfigModel>(hardware, 17);
        device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(17), *inner);
        device::sim::LineControlStore::install(std::make_shared<device::sim::LineControlStore>(), *inner);
        const std::string packet = inner->statePacket();
        auto faulty = std::make_unique<FaultModel>(std::move(inner), seed);
        FaultModel& model = *faulty;
        auto& device = m_simulator.add("127.0.3.20", 0, std::move(faulty));
        const net::IpAndPort endpoint = device_test::endpointOf(device);
        m_orvel = device::OrvelInfo::create(20, device::kTypeOrvel610, net::HardwareAddress(hardware), endpoint, L"",
                                            m_transport, {});
        EXPECT_TRUE(m_orvel->parsePing(packet, endpoint));
        return model;
    }
    FaultModel& openTovik(unsigned seed) {
        const std::string hardware = device::sim::Simulator::hardwareAddress(21);
        auto inner = std::make_unique<device::sim::TovikConfigModel>(hardware);
        const std::string packet = inner->statePacket();
        auto faulty = std::make_unique<FaultModel>(std::move(inner), seed);
        FaultModel& model = *faulty;
        auto& device = m_simulator.add("127.0.3.21", 0, std::move(faulty));
        const net::IpAndPort endpoint = device_test::endpointOf(device);
        m_tovik = device::TovikInfo::create(21, net::HardwareAddress(hardware), endpoint, L"", m_transport, {});
        EXPECT_TRUE(m_tovik->parsePing(packet, endpoint));
        return model;
    }

    boost::shared_ptr<device::OrvelInfo> m_orvel;
    boost::shared_ptr<device::TovikInfo> m_tovik;
};

}  // namespace

TEST_F(CorruptedReplies, EndAsOurExceptionsNeverForeignOnes) {
    FaultModel& speaker = openOrvel(11);
    FaultModel& console = openTovik(12);
    std::vector<std::pair<std::string, std::function<void()>>> operations = {
        {"orvel getVolume", [&] { m_orvel->getVolume(); }},
        {"orvel probeVolume", [&] { m_orvel->probeVolume(); }},
        {"orvel setVolume", [&] { m_orvel->setVolume(40); }},
        {"orvel getChannel", [&] { m_orvel->getChannel(); }},
        {"orvel switchChannel", [&] { m_orvel->switchChannel(device::CHANNEL_NOTICE_HIGH); }},
        {"orvel setLine", [&] { m_orvel->setLine(); }},
        {"orvel getConfig", [&] { m_orvel->getConfig(true); }},
        {"orvel readConfig", [&] { m_orvel->readConfig(true); }},
        {"orvel getEqualizer", [&] { m_orvel->resetCache(); m_orvel->getEqualizer(); }},
        {"orvel getLineControl", [&] { m_orvel->getLineControl(); }},
        {"orvel getDebugInfo", [&] { m_orvel->getDebugInfo(); }},
        {"orvel hasInternalPlaying", [&] { m_orvel->hasInternalPlaying(); }},
        {"tovik getVolume", [&] { m_tovik->getVolume(); }},
        {"tovik getConfig", [&] { m_tovik->getConfig(true); }},
        {"tovik readConfig", [&] { m_tovik->readConfig(true); }},
        {"tovik listPasskeys", [&] { m_tovik->resetCache(); m_tovik->listPasskeys(); }},
        {"tovik isPasskeyListening", [&] { m_tovik->isPasskeyListening(); }},
        {"tovik getDebugInfo", [&] { m_tovik->getDebugInfo(); }},
    };
    // First clean, to be sure the operations can succeed at all; then with
    // every reply corrupted, each corruption in turn and in a mix.
    std::map<std::string, int> succeeded;
    for (const auto& operation : operations)
        succeeded[operation.first] += endsWithOurExceptionsOnly(operation.first, operation.second);
    for (const double rate : {1.0, 0.5}) {
        for (FaultModel* model : {&speaker, &console}) model->setRates(FaultRates{0, 0, 0, 0, rate});
        for (int round = 0; round < 40; ++round)
            for (const auto& operation : operations) endsWithOurExceptionsOnly(operation.first, operation.second);
    }
    for (const char* name : {"orvel getVolume", "orvel getConfig", "tovik getConfig", "tovik listPasskeys"})
        EXPECT_EQ(succeeded[name], 1) << name << " fails even without faults";
    EXPECT_GT(speaker.count(Fault::Garbage) + speaker.count(Fault::Flip) + speaker.count(Fault::Truncate), 100u);
    EXPECT_GT(console.count(Fault::Garbage), 20u);
}
