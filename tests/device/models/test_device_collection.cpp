// ctest-labels: net
// The device collection end to end over UDP against simulated loudspeakers
// and consoles on loopback: discovery, lists and lookups, the online state
// kept by the control thread, probes of silent devices, duplicate addresses,
// a missing network interface, and stop under packet load. The control
// thread runs at a test pace (ticks of 100 ms); only the 7-second online
// window of the devices is real time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "device/models/orvel_info.h"
#include "device/state_packet.h"
#include "device/models/tovik_info.h"
#include "tests/device/device_test_support.h"
#include "tests/device/models/collection_fixture.h"
#include "tools/simulator/twin_model.h"

using namespace std::chrono_literals;
using device::DeviceBase;
using device::DeviceCollection;
using device::sim::SimulatedDevice;

namespace {

// Devices listen on the collection's base port at their own loopback address,
// as real ones do on theirs; the server's transport has a port of its own.
constexpr std::uint16_t kBasePort = 21990;

std::string deviceIp(unsigned n) { return "127.9.0." + std::to_string(n); }

template <class P>
bool waitFor(P predicate, std::chrono::milliseconds limit = 5000ms) {
    return device_test::waitUntil(predicate, limit);
}

std::size_t countRequests(const SimulatedDevice& device, const std::string& text,
                          std::chrono::steady_clock::time_point since = {}) {
    std::size_t count = 0;
    for (const auto& datagram : device.received()) {
        std::string request = datagram.text;
        while (!request.empty() && (request.back() == '\n' || request.back() == '\r')) request.pop_back();
        if (request == text && datagram.at >= since) ++count;
    }
    return count;
}

}  // namespace

class DeviceCollectionTest : public CollectionFixture {
protected:
    void makeCollection(const std::string& interfaceIp = "", std::chrono::milliseconds startDelay = 50ms) {
        device::CollectionTiming timing;
        timing.startDelay = startDelay;
        timing.tick = 100ms;
        timing.duplicateCheckEvery = 5;
        collection = DeviceCollection::create(transport, kBasePort, timing);
        collection->setInterfaceIp(interfaceIp);
        collection->setStateChangedHandler([this](boost::shared_ptr<DeviceBase>) { ++stateChanges; });
        collection->setNewDeviceHandler(
            [this](const std::wstring& type, const net::HardwareAddress&, const std::wstring& title) {
                std::lock_guard<std::mutex> lock(mutex);
                newDevices.insert(type + L"|" + title);
                return nextId++;
            });
    }

    SimulatedDevice& addOrvel(unsigned n) {
        return simulator.addOrvel(deviceIp(n), kBasePort, device::sim::Simulator::hardwareAddress(n));
    }
    SimulatedDevice& addTovik(unsigned n) {
        return simulator.addTovik(deviceIp(n), kBasePort, device::sim::Simulator::hardwareAddress(n));
    }
    bool allOnline(std::size_t orvels, std::size_t toviks) {
        return collection->getOrvelList(true).size() == orvels && collection->getTovikList(true).size() == toviks;
    }

    std::atomic<int> stateChanges{0};
    std::mutex mutex;
    std::set<std::wstring> newDevices;
    std::uint32_t nextId = 100;
};

TEST_F(DeviceCollectionTest, DiscoversLoudspeakersAndConsoleOverUdp) {
    makeCollection();
    for (unsigned n = 1; n <= 3; ++n) addOrvel(n).startStatePackets(server(), 150ms);
    SimulatedDevice& console = addTovik(4);
    console.withModel<device::sim::TovikModel>([](device::sim::TovikModel& model) {
        model.fields[11] = model.fields[12] = 0x5;  // two zones bound and connected
        model.fields[8] = 0x04;                      // plays an alarm
        return 0;
    });
    console.startStatePackets(server(), 150ms);

    ASSERT_TRUE(waitFor([&] { return allOnline(3, 1); })) << "all found, online and answered";
    for (unsigned n = 0; n < 4; ++n)
        EXPECT_GE(countRequests(simulator.device(n), "get vol"), 1u) << "each is asked whether it answers";

    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(newDevices.size(), 4u);
        EXPECT_EQ(newDevices.count(L"Tovik-30|Новое устройство " + base::toWide(hw(4).toCharArray())), 1u);
        EXPECT_EQ(newDevices.count(L"Orvel-610|Новое устройство " + base::toWide(hw(1).toCharArray())), 1u);
    }
    const auto devices = collection->getDevices();
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0]->getHardwareAddress(), hw(1)) << "map order";
    EXPECT_EQ(devices[0]->getIp(), net::IpAndPort(deviceIp(1), kBasePort)) << "address taken from the packets";

    // The zone tree resolves loudspeakers and consoles alike.
    const auto tovik = collection->searchFor(hw(4));
    ASSERT_TRUE(tovik);
    EXPECT_TRUE(boost::dynamic_pointer_cast<device::TovikInfo>(tovik));
    EXPECT_FALSE(collection->searchForOrvel(hw(4)));
    EXPECT_TRUE(collection->searchForOrvel(hw(2)));
    EXPECT_FALSE(collection->searchFor(hw(9)));
    const auto state = boost::dynamic_pointer_cast<device::TovikInfo>(tovik)->getState();
    EXPECT_EQ(state.boundZones, 5u);
    EXPECT_TRUE(state.zonesConsistent);
    EXPECT_TRUE(tovik->hasInternalPlaying());
    EXPECT_EQ(tovik->getPlaybackTypeText(), L"alarm");
    EXPECT_GT(stateChanges.load(), 0);
}

TEST_F(DeviceCollectionTest, SilentDevicesGoOfflineAndAConsoleThatReturnsIsAskedAgain) {
    makeCollection();
    SimulatedDevice& quiet = addOrvel(11);
    addOrvel(12).startStatePackets(server(), 200ms);
    SimulatedDevice& console = addTovik(13);
    quiet.startStatePackets(server(), 200ms);
    console.startStatePackets(server(), 200ms);
    ASSERT_TRUE(waitFor([&] { return allOnline(2, 1); }));
    const auto orvel = collection->searchForOrvel(hw(11));
    ASSERT_TRUE(orvel);
    ASSERT_EQ(orvel->getState().caseState, 1u) << "the simulator's closed case";

    device::sim::ReplyPolicy silent;
    silent.silent = true;
    for (SimulatedDevice* device : {&quiet, &console}) {
        device->setReplyPolicy(silent);
        device->startStatePackets(server(), 0ms);
    }
    ASSERT_TRUE(waitFor([&] { return !orvel->isOnline(); }, 9000ms));
    ASSERT_TRUE(waitFor([&] { return orvel->getState().caseState == 2u; }, 1000ms))
        << "the control thread dropped the cached state";
    EXPECT_TRUE(waitFor([&] { return allOnline(1, 0); }, 1000ms));
    EXPECT_EQ(collection->getOrvelList(false).size(), 2u) << "offline devices stay known";

    // The console comes back: it must be asked again, or it stays out of
    // the online list although it sends its packets.
    const auto back = std::chrono::steady_clock::now();
    console.setReplyPolicy(device::sim::ReplyPolicy());
    console.startStatePackets(server(), 200ms);
    EXPECT_TRUE(waitFor([&] { return collection->getTovikList(true).size() == 1; }));
    EXPECT_EQ(countRequests(console, "get vol", back), 1u);
}

TEST_F(DeviceCollectionTest, SavedSilentDeviceIsProbedAtItsAddressAndRediscovered) {
    SimulatedDevice& saved = addOrvel(21);
    // The loudspeaker knows the server but sends nothing until asked: its one
    // packet now reaches a transport without a collection.
    saved.startStatePackets(server(), 0ms);
    ASSERT_TRUE(waitFor([&] { return transport->getStatistics().unmatched >= 1; }));
    saved.clearReceived();

    makeCollection("127.0.0.1");
    const auto device = collection->addDevice(5, L"Orvel-610", hw(21), net::Ip4Address(deviceIp(21)), L"saved");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->getIp(), net::IpAndPort(deviceIp(21), kBasePort));
    ASSERT_TRUE(waitFor([&] { return device->isOnlineAndAnswered(); }));
    EXPECT_EQ(countRequests(saved, ""), 1u) << "one empty probe at the address and base port";
    EXPECT_EQ(device->getTitle(), L"saved");
    EXPECT_EQ(collection->getDevices().size(), 1u);
}

TEST_F(DeviceCollectionTest, SupervisionSurvivesMissingInterfaceAndReportsDuplicates) {
    // Loopback is no interface of the list: the gateway check finds nothing.
    makeCollection("127.0.0.1");
    ASSERT_TRUE(waitFor([&] { return loggedCount("No network interface with ip '127.0.0.1'") == 1; }));

    // Two loudspeakers answer from one address and port.
    simulator
        .add(deviceIp(31), kBasePort,
             std::make_unique<device::sim::TwinOrvelModel>(device::sim::Simulator::hardwareAddress(31),
                                                          device::sim::Simulator::hardwareAddress(32)))
        .startStatePackets(server(), 100ms);
    ASSERT_TRUE(waitFor([&] { return collection->getOrvelList(false).size() == 2; }));
    ASSERT_TRUE(waitFor([&] { return loggedCount("совпадает с другим устройством") >= 2; }))
        << "reported on every check while it lasts: the thread lives on";
    EXPECT_EQ(loggedCount(" FATAL\t"), 0);
    EXPECT_EQ(loggedCount("end thread controlTimeoutThread()"), 0);
    for (const auto& device : collection->getDevices())
        EXPECT_EQ(device->getIp(), net::IpAndPort(deviceIp(31), kBasePort)) << "online duplicates keep it";

    collection->stop();
    EXPECT_EQ(loggedCount("end thread controlTimeoutThread()"), 1);
    EXPECT_TRUE(collection->getDevices().empty());
    collection->stop();
}

TEST_F(DeviceCollectionTest, StopUnderPacketLoad) {
    makeCollection();
    for (unsigned n = 40; n < 60; ++n) addOrvel(n).startStatePackets(server(), 5ms);
    addTovik(60).startStatePackets(server(), 5ms);
    ASSERT_TRUE(waitFor([&] { return collection->getDevices().size() == 21; }));
    std::this_thread::sleep_for(200ms);
    collection->stop();
    EXPECT_TRUE(collection->getDevices().empty());
    // A packet that was still on its way when the collection stopped.
    const std::string late =
        simulator.device(0).withModel<device::sim::Model>([](device::sim::Model& m) { return m.statePacket(); });
    net::HardwareAddress address = hw(0);
    ASSERT_TRUE(device::isStatePacket(late, address));
    collection->handleAllPingsCallback(late, net::IpAndPort(deviceIp(40), kBasePort), address);
    EXPECT_TRUE(collection->getDevices().empty()) << "a stopped collection adds no device";
    // Parse jobs still queued or arriving hold only a weak pointer: once the
    // collection is gone they find nothing to call.
    collection.reset();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(loggedCount(" FATAL\t"), 0);
}

TEST_F(DeviceCollectionTest, RegistryRulesWithoutNetwork) {
    makeCollection();
    const net::HardwareAddress own = hw(70);
    const auto first = collection->addDevice(1, L"Orvel-45", own, net::Ip4Address("127.9.0.70"), L"first");
    ASSERT_TRUE(first);
    EXPECT_EQ(collection->addDevice(2, L"Tovik-30", own, net::Ip4Address("0.0.0.0"), L"second"), first)
        << "a stored address returns the stored object";
    EXPECT_FALSE(collection->addDevice(DeviceCollection::kNoId, L"Orvel-45", hw(71), net::Ip4Address("0.0.0.0"), L""));
    EXPECT_FALSE(collection->addDevice(3, L"Unsupported", hw(72), net::Ip4Address("0.0.0.0"), L""));
    const net::HardwareAddress foreign("00:11:22:33:44:55");
    EXPECT_TRUE(collection->addDevice(4, L"Tovik-30", foreign, net::Ip4Address("0.0.0.0"), L""));
    EXPECT_EQ(loggedCount("Connected device is no the VARKO manufacturing"), 1);
    EXPECT_EQ(collection->getDevices().size(), 2u);
    EXPECT_EQ(collection->getTovikList(false).size(), 1u);
    EXPECT_TRUE(collection->getTovikList(true).empty());

    EXPECT_FALSE(collection->handleAllResponsesCallback("OK", net::IpAndPort("127.9.0.70", kBasePort)));
    collection->remove(foreign);
    collection->remove(foreign);
    EXPECT_EQ(loggedCount("Устройство не было удалено"), 1);
    EXPECT_EQ(collection->getDevices().size(), 1u);
}

// A removed loudspeaker's object may live on (a give-back still talks
// through it), but what it learns is reported no more: the window filed such
// a report as a device beside the object its state packets make anew.
TEST_F(DeviceCollectionTest, ARemovedDeviceReportsNothingMoreAndIsFoundAgainAsANewObject) {
    makeCollection();
    // Owned by the handler: a report may still come on the collection's
    // threads once the test's body has returned.
    struct Reports {
        std::mutex lock;
        std::vector<boost::shared_ptr<DeviceBase>> devices;
    };
    const auto reports = std::make_shared<Reports>();
    collection->setStateChangedHandler([reports](boost::shared_ptr<DeviceBase> device) {
        std::lock_guard<std::mutex> lock(reports->lock);
        reports->devices.push_back(device);
    });
    const auto reported = [reports](const boost::shared_ptr<DeviceBase>& device) {
        std::lock_guard<std::mutex> lock(reports->lock);
        return std::count(reports->devices.begin(), reports->devices.end(), device);
    };
    addOrvel(31).startStatePackets(server(), 150ms);
    addOrvel(32).startStatePackets(server(), 150ms);
    ASSERT_TRUE(waitFor([&] { return allOnline(2, 0); }));
    const auto removed = collection->searchForOrvel(hw(31));
    const auto kept = collection->searchForOrvel(hw(32));

    collection->remove(hw(31));
    const auto before = reported(removed);
    const auto keptBefore = reported(kept);
    // Both volumes change; the kept one's report is queued after the
    // removed one's would be, so once it is in, the other had its turn.
    EXPECT_TRUE(removed->setVolume(40));
    EXPECT_TRUE(kept->setVolume(40));
    ASSERT_TRUE(waitFor([&] { return reported(kept) > keptBefore; }));
    EXPECT_EQ(reported(removed), before);

    ASSERT_TRUE(waitFor([&] {
        const auto again = collection->searchFor(hw(31));
        return again && again != removed && again->isOnlineAndAnswered() && reported(again) > 0;
    })) << "its packets make a new object, which reports";
    EXPECT_EQ(reported(removed), before);
}

TEST_F(DeviceCollectionTest, OfflineDuplicatesLoseTheirAddressAndNothingIsProbedWithoutInterface) {
    makeCollection();  // no interface address: no search at all
    const net::Ip4Address shared("127.9.0.80");
    const auto first = collection->addDevice(1, L"Orvel-610", hw(80), shared, L"");
    const auto second = collection->addDevice(2, L"Orvel-610", hw(81), shared, L"");
    const auto own = collection->addDevice(3, L"Tovik-30", hw(82), net::Ip4Address("127.9.0.82"), L"");
    ASSERT_TRUE(first && second && own);
    ASSERT_TRUE(waitFor([&] { return !second->getIp().isValid(); }))
        << "the later silent device with the same address loses it";
    EXPECT_EQ(first->getIp(), net::IpAndPort("127.9.0.80", kBasePort));
    EXPECT_EQ(own->getIp(), net::IpAndPort("127.9.0.82", kBasePort));
    EXPECT_FALSE(collection->findLostDevices(false));
    EXPECT_FALSE(DeviceCollection::findLostDevice("127.0.0.1", kBasePort, second)) << "no known address";
    EXPECT_EQ(loggedCount("find lost device"), 0);
}

TEST_F(DeviceCollectionTest, PacketOfAnotherModelGoesToTheStoredDeviceAndIsReported) {
    makeCollection();
    const auto saved = collection->addDevice(9, L"Tovik-30", hw(90), net::Ip4Address("0.0.0.0"), L"saved");
    ASSERT_TRUE(saved);
    addOrvel(90).startStatePackets(server(), 100ms);  // a loudspeaker's packets under the console's address
    EXPECT_TRUE(waitFor([&] { return loggedCount("несоответствует типу статусного пакета") >= 2; }));
    EXPECT_GE(loggedCount("Failure to parse tovik ping"), 2) << "the stored console was handed the packets";
    EXPECT_EQ(collection->getDevices().size(), 1u);
    EXPECT_EQ(collection->getDevices().front(), saved) << "the stored object is kept";
    EXPECT_FALSE(saved->isOnline());
}

TEST_F(DeviceCollectionTest, ProbesThatDontGoOutAreToldOncePerCauseNotPerDevice) {
    // The control thread stays in its start-up wait: the test starts the searches.
    makeCollection("127.0.0.1", 10min);
    // No route leads to 192.168.1.0/24 in the test's network.
    for (unsigned n = 1; n <= 200; ++n)
        ASSERT_TRUE(collection->addDevice(n, L"Orvel-610", hw(100 + n),
                                          net::Ip4Address("192.168.1." + std::to_string(n)),
                                          L"Громкоговоритель " + std::to_wstring(n)));
    ASSERT_TRUE(collection->addDevice(301, L"Orvel-610", hw(301), net::Ip4Address("0.1.2.3"), L"zero"));
    ASSERT_TRUE(collection->addDevice(302, L"Orvel-610", hw(302), net::Ip4Address("239.1.2.3"), L"group"));
    ASSERT_TRUE(collection->findLostDevices(false));
    ASSERT_TRUE(waitFor([&] { return loggedCount("Например", "WARN") == 3; }));
    EXPECT_EQ(loggedCount("Пробный пакет не отправлен устройствам (200)", "WARN"), 1);
    EXPECT_EQ(loggedCount("Например: Громкоговоритель 1 (192.168.1.1); Громкоговоритель 2 (192.168.1.2); "
                          "Громкоговоритель 3 (192.168.1.3), …",
                          "WARN"),
              1);
    EXPECT_EQ(loggedCount("Устройства с недопустимым адресом (1): адрес из сети 0.0.0.0/8", "WARN"), 1);
    EXPECT_EQ(loggedCount("Устройства с недопустимым адресом (1): групповой адрес", "WARN"), 1);
    EXPECT_EQ(loggedCount("isn't sent", "EXTERN"), 200) << "each device in the log, below the notices";
    EXPECT_EQ(loggedCount("isn't probed", "EXTERN"), 2);

    // The next search has the same causes and one more: only that one is told.
    ASSERT_TRUE(collection->addDevice(303, L"Orvel-610", hw(303), net::Ip4Address("255.255.255.255"), L"all"));
    ASSERT_TRUE(collection->findLostDevices(false));
    ASSERT_TRUE(waitFor([&] { return loggedCount("зарезервированный или широковещательный адрес", "WARN") == 1; }));
    EXPECT_EQ(loggedCount(" WARN\t") + loggedCount(" ERROR\t"), 4);
    EXPECT_EQ(loggedCount("isn't sent", "EXTERN"), 400);
}
