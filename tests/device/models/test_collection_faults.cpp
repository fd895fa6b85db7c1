// ctest-labels: net
// The device collection while devices fail: a loudspeaker that goes silent
// goes offline when the 7-second window has passed and is back with its next
// packet, on the real clock; corrupted state packets and replies from a
// neighbour change nothing of that; two loudspeakers that claim one hardware
// address share one object that follows whichever spoke last.
#include <atomic>
#include <chrono>
#include <thread>

#include "base/clock.h"
#include "device/models/orvel_info.h"
#include "tests/device/device_test_support.h"
#include "tests/device/fault_test_support.h"
#include "tests/device/models/collection_fixture.h"
#include "tools/simulator/fault_model.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;
using device::DeviceBase;
using device::DeviceCollection;
using device::sim::FaultModel;
using device::sim::SimulatedDevice;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint16_t kBasePort = 21990;
constexpr auto kTick = 100ms;
constexpr auto kPacketPeriod = 150ms;
constexpr auto kPacketGap = 600ms;

std::string deviceIp(unsigned n) { return "127.9.1." + std::to_string(n); }

class CollectionFaults : public CollectionFixture {
protected:
    void SetUp() override {
        fault_test::watchForEscapedExceptions();
        CollectionFixture::SetUp();
        device::CollectionTiming timing;
        timing.startDelay = 50ms;
        timing.tick = kTick;
        timing.packetGap = kPacketGap;
        collection = DeviceCollection::create(transport, kBasePort, timing);
        collection->setStateChangedHandler([this](boost::shared_ptr<DeviceBase> device) {
            if (device->getHardwareAddress() != watched) return;
            std::int64_t none = 0;
            if (!device->isOnline())
                offlineNotifiedAt.compare_exchange_strong(none, nowMicroseconds());
            else if (offlineNotifiedAt != 0)
                backNotified = true;
        });
        collection->setNewDeviceHandler(
            [this](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return nextId++; });
    }
    void TearDown() override {
        collection->stop();
        transport->stop();
        simulator.stop();
        EXPECT_EQ(fault_test::linesOfEscapedExceptions([this](const char* text) { return loggedCount(text); }), 0);
        CollectionFixture::TearDown();
    }

    /// A loudspeaker at deviceIp(n) with hardware address `hardware`, behind
    /// a fault model, sending its state packets.
    FaultModel& addOrvel(unsigned n, unsigned hardware, unsigned seed) {
        return add(n, std::make_unique<device::sim::OrvelModel>(device::sim::Simulator::hardwareAddress(hardware),
                                                                device::sim::kDefaultOrvelVersion),
                   seed, kPacketPeriod);
    }
    FaultModel& add(unsigned n, std::unique_ptr<device::sim::Model> inner, unsigned seed,
                    std::chrono::milliseconds period) {
        auto faulty = std::make_unique<FaultModel>(std::move(inner), seed);
        FaultModel& model = *faulty;
        SimulatedDevice& device = simulator.add(deviceIp(n), kBasePort, std::move(faulty));
        model.attach(device, server());
        device.startStatePackets(server(), period);
        return model;
    }

    net::HardwareAddress watched{hw(1)};
    std::atomic<std::int64_t> offlineNotifiedAt{0};  // when the watched device was announced offline
    std::atomic<bool> backNotified{false};           // and announced online after that
    std::atomic<std::uint32_t> nextId{100};
};

}  // namespace

TEST_F(CollectionFaults, SilentLoudspeakerIsOfflineAfterTheWindowAndBackWithItsNextPacket) {
    FaultModel& quiet = addOrvel(1, 1, 1);
    FaultModel& noisy = addOrvel(2, 2, 2);
    ASSERT_TRUE(device_test::waitUntil([&] { return collection->getOrvelList(true).size() == 2; }, 5000ms));
    const auto speaker = collection->searchForOrvel(hw(1));
    const auto neighbour = collection->searchForOrvel(hw(2));
    ASSERT_TRUE(speaker && neighbour);

    // While the one is silent, the other's packets and replies come back
    // corrupted now and then.
    noisy.setPacketCorruption(0.3);
    noisy.setRates({0, 0, 0, 0, 0.3});
    quiet.silence();
    const std::int64_t silencedAt = nowMicroseconds();

    bool neighbourAlwaysOnline = true;
    ASSERT_TRUE(device_test::waitUntil(
        [&] {
            neighbourAlwaysOnline = neighbourAlwaysOnline && neighbour->isOnline();
            return offlineNotifiedAt != 0 && speaker->getState().caseState == 2u;
        },
        9000ms))
        << "announced offline, and the control thread dropped its state";
    const std::int64_t lastContact = speaker->getLastContactTime();
    EXPECT_LE(lastContact, silencedAt + 50000) << "nothing was heard after the silence began";
    // The control thread notices on its first tick after the window ends.
    const std::int64_t silentFor = offlineNotifiedAt - lastContact;
    EXPECT_GE(silentFor, DeviceBase::kOnlineWindow);
    EXPECT_LE(silentFor, DeviceBase::kOnlineWindow + 500000) << "within a few ticks of the window";
    EXPECT_EQ(collection->getOrvelList(true).size(), 1u);
    EXPECT_TRUE(neighbourAlwaysOnline) << "corrupted packets and replies don't cost the neighbour its state";

    const auto spoke = Clock::now();
    quiet.speak();
    ASSERT_TRUE(device_test::waitUntil([&] { return speaker->isOnline(); }, 2000ms));
    EXPECT_LE(Clock::now() - spoke, kPacketPeriod + 500ms) << "online again with the next packet";
    EXPECT_TRUE(device_test::waitUntil([&] { return speaker->getState().caseState == 1u; }, 1000ms))
        << "its state read again from the packets";
    EXPECT_TRUE(device_test::waitUntil([&] { return backNotified.load(); }, 1000ms))
        << "the return is announced";
    EXPECT_TRUE(device_test::waitUntil([&] { return collection->getOrvelList(true).size() == 2; }, 3000ms))
        << "asked again and answered";
    EXPECT_GT(noisy.count(device::sim::Fault::Flip) + noisy.count(device::sim::Fault::Truncate) +
                  noisy.count(device::sim::Fault::Garbage),
              0u);
}

// A loudspeaker that restarts within the offline window, and one that moves
// to another address, is counted back once each, with the packet gap the
// collection was given; what it may have lost is forgotten.
TEST_F(CollectionFaults, ALoudspeakerBackFromARestartOrAMoveIsCountedOnce) {
    const auto orvel610 = [this](unsigned n, unsigned seed) -> FaultModel& {
        return add(n, std::make_unique<device::sim::OrvelBandModel>(device::sim::Simulator::hardwareAddress(1), 18),
                   seed, kPacketPeriod);
    };
    FaultModel& first = orvel610(1, 5);
    ASSERT_TRUE(device_test::waitUntil([&] { return collection->getOrvelList(true).size() == 1; }, 5000ms));
    const auto speaker = collection->searchForOrvel(hw(1));
    ASSERT_TRUE(speaker);
    ASSERT_TRUE(speaker->switchChannel(6));
    std::this_thread::sleep_for(3 * kPacketPeriod);
    EXPECT_EQ(speaker->returnCount(), 0u);

    first.silence();
    std::this_thread::sleep_for(kPacketGap + 4 * kPacketPeriod);
    ASSERT_TRUE(speaker->isOnline()) << "well within the offline window";
    first.speak();
    ASSERT_TRUE(device_test::waitUntil([&] { return speaker->returnCount() == 1; }, 2000ms));
    EXPECT_EQ(speaker->getCachedChannel(), device::CHANNEL_UNKNOWN);
    EXPECT_EQ(loggedCount("вернулся: перезагрузка (перерыв в статусных пакетах)"), 1);

    // The same loudspeaker from another address.
    first.silence();
    orvel610(2, 6);
    ASSERT_TRUE(device_test::waitUntil([&] { return speaker->returnCount() == 2; }, 2000ms));
    EXPECT_EQ(speaker->getIp(), net::IpAndPort(deviceIp(2), kBasePort));
    EXPECT_EQ(loggedCount("вернулся: сменился сетевой адрес"), 1);
    std::this_thread::sleep_for(kPacketGap);
    EXPECT_EQ(speaker->returnCount(), 2u) << "its steady packets count nothing";
    EXPECT_EQ(loggedCount("вернулся"), 2);
}

TEST_F(CollectionFaults, TwoLoudspeakersClaimingOneHardwareAddressShareOneObject) {
    addOrvel(10, 10, 3);
    addOrvel(11, 10, 4);
    ASSERT_TRUE(device_test::waitUntil([&] { return loggedCount("changed device address") >= 4; }, 5000ms))
        << "the object follows each packet's source and says so";
    ASSERT_EQ(collection->getDevices().size(), 1u);
    const auto speaker = collection->searchForOrvel(hw(10));
    ASSERT_TRUE(speaker);
    const net::IpAndPort at = speaker->getIp();
    EXPECT_TRUE(at == net::IpAndPort(deviceIp(10), kBasePort) || at == net::IpAndPort(deviceIp(11), kBasePort))
        << at.getText();
    EXPECT_TRUE(speaker->isOnline());
}

// Every firmware band's packets, and a console's, bit-flipped, cut short or
// replaced by noise at a high rate: the packets that still parse keep the
// devices current, the rest are refused, and once the noise stops every
// device is online and answering.
TEST_F(CollectionFaults, CorruptedPacketsOfEveryBandAreRefusedAndTheDevicesStayKnown) {
    std::vector<FaultModel*> models;
    unsigned n = 20;
    for (const auto& band : device::sim::orvelBands()) {
        models.push_back(&add(n, std::make_unique<device::sim::OrvelBandModel>(
                                     device::sim::Simulator::hardwareAddress(n), band.index, band.orvel611),
                              n, 10ms));
        ++n;
    }
    models.push_back(&add(n, std::make_unique<device::sim::TovikModel>(device::sim::Simulator::hardwareAddress(n),
                                                                         device::sim::kDefaultTovikVersion),
                          n, 10ms));
    const std::size_t orvels = models.size() - 1;
    ASSERT_TRUE(device_test::waitUntil(
        [&] { return collection->getOrvelList(true).size() == orvels && collection->getTovikList(true).size() == 1; },
        5000ms));

    for (FaultModel* model : models) {
        model->setPacketCorruption(0.5);
        model->setRates({0, 0, 0, 0, 0.3});
    }
    const auto corrupted = [&] {
        unsigned count = 0;
        for (FaultModel* model : models)
            count += model->count(device::sim::Fault::Flip) + model->count(device::sim::Fault::Truncate) +
                     model->count(device::sim::Fault::Garbage);
        return count;
    };
    // A second and a half of noise, and enough of it however slowly a
    // loaded machine sends.
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(device_test::waitUntil([&] { return corrupted() > 500u; }, 20000ms)) << corrupted();
    for (FaultModel* model : models) {
        model->setPacketCorruption(0);
        model->setRates({});
    }
    EXPECT_TRUE(device_test::waitUntil(
        [&] {
            for (unsigned i = 20; i <= n; ++i) {
                const auto device = collection->searchFor(hw(i));
                if (!device || !device->isOnline() || device->getIp() != net::IpAndPort(deviceIp(i), kBasePort))
                    return false;
            }
            return true;
        },
        3000ms))
        << "every genuine device is known, online and at its own address";
}
