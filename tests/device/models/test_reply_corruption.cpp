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

class CorruptedReplies : public fault_test::FaultFixture {
protected:
    void releaseDevices() override {
        m_orvel.reset();
        m_tovik.reset();
    }

    /// A loudspeaker of index 17 that keeps its settings, equalizer and line
    /// control, and a console that keeps its settings and keys, each behind
    /// a fault model; their objects have taken one state packet.
    void open() {
        const std::string speaker = device::sim::Simulator::hardwareAddress(20);
        auto orvel = std::make_unique<device::sim::OrvelConfigModel>(speaker, 17);
        device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(17), *orvel);
        device::sim::LineControlStore::install(std::make_shared<device::sim::LineControlStore>(), *orvel);
        net::IpAndPort at;
        std::string packet = orvel->statePacket();
        m_speaker = add("127.0.3.20", std::move(orvel), 11, at);
        m_orvel = device::OrvelInfo::create(20, device::kTypeOrvel610, net::HardwareAddress(speaker), at, L"",
                                            m_transport, {});
        EXPECT_TRUE(m_orvel->parsePing(packet, at));

        const std::string console = device::sim::Simulator::hardwareAddress(21);
        auto tovik = std::make_unique<device::sim::TovikConfigModel>(console);
        packet = tovik->statePacket();
        m_console = add("127.0.3.21", std::move(tovik), 12, at);
        m_tovik = device::TovikInfo::create(21, net::HardwareAddress(console), at, L"", m_transport, {});
        EXPECT_TRUE(m_tovik->parsePing(packet, at));
    }
    FaultModel* add(const std::string& address, std::unique_ptr<device::sim::Model> inner, unsigned seed,
                    net::IpAndPort& endpoint) {
        auto faulty = std::make_unique<FaultModel>(std::move(inner), seed);
        FaultModel* model = faulty.get();
        endpoint = device_test::endpointOf(m_simulator.add(address, 0, std::move(faulty)));
        return model;
    }

    FaultModel* m_speaker = nullptr;
    FaultModel* m_console = nullptr;
    boost::shared_ptr<device::OrvelInfo> m_orvel;
    boost::shared_ptr<device::TovikInfo> m_tovik;
};

}  // namespace

TEST_F(CorruptedReplies, EndAsOurExceptionsNeverForeignOnes) {
    open();
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
        for (FaultModel* model : {m_speaker, m_console}) model->setRates(FaultRates{0, 0, 0, 0, rate});
        for (int round = 0; round < 40; ++round)
            for (const auto& operation : operations) endsWithOurExceptionsOnly(operation.first, operation.second);
    }
    for (const char* name : {"orvel getVolume", "orvel getConfig", "tovik getConfig", "tovik listPasskeys"})
        EXPECT_EQ(succeeded[name], 1) << name << " fails even without faults";
    EXPECT_GT(m_speaker->count(Fault::Garbage) + m_speaker->count(Fault::Flip) + m_speaker->count(Fault::Truncate), 100u);
    EXPECT_GT(m_console->count(Fault::Garbage), 20u);
}
