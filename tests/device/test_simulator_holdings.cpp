// ctest-labels: net
// What a simulated device holds, read from inside it, beside what it says
// over real UDP: a switch whose reply was lost is held, a lost request is
// not; a restart takes back what the device keeps only while running and
// keeps it silent for its down time, back at the volume it powers up with;
// a move keeps what it holds and answers from the new address; a deferred
// switch is made later, only the last one; jittered replies; and the
// listing file that a running simulator keeps.
#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/elapsed.h"
#include "tests/support/temp_dir.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/fault_model.h"
#include "tools/simulator/fault_switches.h"
#include "tools/simulator/holdings_listing.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;
using device::sim::FaultSettings;
using device::sim::Holdings;
using device::sim::OrvelBandModel;
using device::sim::SimulatedDevice;
using device::sim::Simulator;
using testing_support::waitUntil;
using Clock = std::chrono::steady_clock;

namespace {

namespace asio = boost::asio;

/// The server's side: sends requests, collects what arrives.
class Client {
public:
    Client() : m_socket(m_io, {asio::ip::make_address_v4("127.42.0.100"), 0}) { m_socket.non_blocking(true); }

    device::sim::Endpoint endpoint() const { return m_socket.local_endpoint(); }
    /// An empty text goes as the empty datagram of the server's search.
    void send(const SimulatedDevice& device, const std::string& text) { send(device.endpoint(), text); }
    void send(const device::sim::Endpoint& to, const std::string& text) {
        m_socket.send_to(asio::buffer(text.empty() ? text : text + "\n"), to);
    }
    /// The times at which datagrams arrived within `wait`, the first text,
    /// and where each came from.
    std::vector<Clock::time_point> arrivals(std::chrono::milliseconds wait, std::string* first = nullptr,
                                            std::vector<std::string>* sources = nullptr) {
        std::vector<Clock::time_point> times;
        char buffer[2048];
        for (const auto end = Clock::now() + wait; Clock::now() < end;) {
            boost::system::error_code error;
            device::sim::Endpoint from;
            const std::size_t size = m_socket.receive_from(asio::buffer(buffer), from, 0, error);
            if (error) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            if (times.empty() && first) *first = std::string(buffer, size);
            if (sources) sources->push_back(from.address().to_string());
            times.push_back(Clock::now());
        }
        return times;
    }
    /// The reply to one request, "(none)" when none came within `wait`.
    std::string ask(const SimulatedDevice& device, const std::string& text,
                    std::chrono::milliseconds wait = 150ms) {
        return ask(device.endpoint(), text, wait);
    }
    std::string ask(const device::sim::Endpoint& to, const std::string& text,
                    std::chrono::milliseconds wait = 150ms) {
        send(to, text);
        std::string reply = "(none)";
        arrivals(wait, &reply);
        return reply;
    }

private:
    asio::io_context m_io;
    asio::ip::udp::socket m_socket;
};

/// A loudspeaker of index 18 with an audio memory, as the simulator tool makes one.
std::unique_ptr<OrvelBandModel> loudspeaker(unsigned n) {
    auto model = std::make_unique<OrvelBandModel>(Simulator::hardwareAddress(n), 18);
    device::sim::AudioMemoryStore::install(std::make_shared<device::sim::AudioMemoryStore>(2, 4096), *model);
    return model;
}

std::vector<std::string> causes(const SimulatedDevice& device) {
    std::vector<std::string> texts;
    for (const auto& change : device.holdingsHistory()) texts.push_back(change.cause);
    return texts;
}

void setFaults(SimulatedDevice& device, const FaultSettings& settings) {
    device.setFaults(std::make_shared<device::sim::FaultSwitches>(settings));
}

}  // namespace

// A test judges the loudspeaker by what it took, not by what came back: a
// dropped reply leaves the switch made, a request lost on its way in leaves
// the volume as it was, and a wrapper of faults does not hide the model.
TEST(SimulatorHoldings, FollowWhatTheDeviceTookWhateverItsRepliesSaid) {
    Simulator simulator(1);
    auto faulty = std::make_unique<device::sim::FaultModel>(loudspeaker(1), 3);
    faulty->script({device::sim::Fault::Drop}, "set ch");
    SimulatedDevice& device = simulator.add("127.42.0.1", 0, std::move(faulty));
    FaultSettings settings;
    settings.loseRequests = 1;
    settings.loseOn = {"set vol"};
    setFaults(device, settings);
    simulator.start();
    Client client;

    EXPECT_EQ(device::sim::describe(device.holdings()), "channel=0 volume=-15 memory=\"idle\"");
    EXPECT_EQ(client.ask(device, "set ch 1"), "(none)") << "the reply was dropped";
    EXPECT_EQ(device.holdings().channel, 1u) << "yet the loudspeaker switched";
    EXPECT_EQ(client.ask(device, "set vol -3"), "(none)") << "the request was lost";
    EXPECT_EQ(device.holdings().volume, std::string("-15")) << "so the volume stayed";
    EXPECT_EQ(client.ask(device, "mem play fragment 3"), "OK");
    EXPECT_EQ(device.holdings().memory, std::string("fragment 3"));
    EXPECT_EQ(client.ask(device, "get ch"), "1");
    device.withModel<device::sim::FaultModel>(
        [](device::sim::FaultModel& m) { m.inner<OrvelBandModel>().volume = "-9"; });
    EXPECT_EQ(causes(device), (std::vector<std::string>{"", "set ch 1", "mem play fragment 3", "by hand"}));
    EXPECT_EQ(device.holdingsHistory().back().holdings.volume, std::string("-9"));

    device.clearReceived();
    EXPECT_EQ(causes(device), std::vector<std::string>{""}) << "the history starts again from now";
    simulator.stop();
}

// A restart takes the channel, the volume and the memory's playback back to
// their power-on state at once and keeps the settings; for the down time
// nothing answers and no state packet leaves, nor a reply still owed; then
// the device announces itself at once and keeps its period.
TEST(SimulatorHoldings, ARestartTakesBackWhatTheDeviceHeldOnlyWhileRunning) {
    Simulator simulator(1);
    SimulatedDevice& device = simulator.add("127.42.0.2", 0, loudspeaker(2));
    simulator.start();
    Client client;
    Client server;
    device.startStatePackets(server.endpoint(), 50ms);

    for (const char* request : {"set ch 1", "set vol -3", "mem play fragment 2", "set igmpReport 30"})
        ASSERT_EQ(client.ask(device, request), "OK") << request;
    device::sim::ReplyPolicy late;
    late.delay = 150ms;
    device.setReplyPolicy(late);
    client.send(device, "get ch");  // its reply is owed when the power goes
    std::this_thread::sleep_for(30ms);
    device.restart(800ms);
    ASSERT_TRUE(waitUntil([&] { return device.holdings().down; }, 1000ms));
    const auto restarted = Clock::now();
    EXPECT_EQ(device::sim::describe(device.holdings()), "channel=0 volume=-15 memory=\"idle\" down");
    server.arrivals(60ms);  // a packet may have been on its way

    device.setReplyPolicy({});
    client.send(device, "get ch");
    client.send(device, "");  // a search
    EXPECT_TRUE(client.arrivals(200ms).empty()) << "no reply, the owed one neither";
    EXPECT_TRUE(server.arrivals(100ms).empty()) << "no state packet";
    const auto packets = server.arrivals(800ms);
    ASSERT_GE(packets.size(), 3u) << "up again, every 50 ms";
    const auto firstUp = std::chrono::duration_cast<std::chrono::milliseconds>(packets[0] - restarted);
    EXPECT_GE(firstUp.count(), 730) << "not before the down time";
    EXPECT_LE(firstUp.count(), 1000) << "announced at once";
    EXPECT_EQ(client.ask(device, "get ch"), "0");
    EXPECT_EQ(device.withModel<OrvelBandModel>([](OrvelBandModel& m) { return m.settings.at("igmpReport"); }),
              "30")
        << "settings survive";
    const std::vector<std::string> all = causes(device);
    EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()),
              (std::vector<std::string>{"restart", "up"}));
    simulator.stop();
}

// A move: the old address is dead at once, the device is silent for the
// silence, then it announces itself and answers from the new address, the
// port kept, holding what it held; the listing names the new address.
TEST(SimulatorHoldings, AMovedDeviceAnswersFromItsNewAddressWithWhatItHeld) {
    Simulator simulator(1);
    SimulatedDevice& device = simulator.add("127.42.0.10", 0, loudspeaker(10));
    simulator.start();
    Client client;
    Client server;
    device.startStatePackets(server.endpoint(), 50ms);
    ASSERT_EQ(client.ask(device, "set ch 1"), "OK");
    ASSERT_EQ(client.ask(device, "set vol -3"), "OK");
    const device::sim::Endpoint before = device.endpoint();

    const auto moved = Clock::now();
    device.moveTo("127.42.0.11", 400ms);
    ASSERT_TRUE(waitUntil([&] { return device.holdings().down; }, 1000ms));
    EXPECT_EQ(device.endpoint(),
              device::sim::Endpoint(asio::ip::make_address_v4("127.42.0.11"), before.port()));
    EXPECT_EQ(device::sim::HoldingsListing::text(simulator),
              "1 127.42.0.11 channel=1 volume=-3 memory=\"idle\" down\n");
    server.arrivals(60ms);  // a packet may have been on its way
    EXPECT_EQ(client.ask(before, "get ch", 100ms), "(none)") << "the old address is dead";
    EXPECT_EQ(client.ask(device, "get ch", 100ms), "(none)") << "silent yet";
    EXPECT_TRUE(server.arrivals(50ms).empty()) << "no state packet while silent";

    std::vector<std::string> sources;
    const auto packets = server.arrivals(600ms, nullptr, &sources);
    ASSERT_GE(packets.size(), 3u);
    EXPECT_GE(packets[0] - moved, 380ms) << "not before the silence ends";
    EXPECT_EQ(sources, std::vector<std::string>(sources.size(), "127.42.0.11"))
        << "announced from the new address";
    EXPECT_EQ(client.ask(device, "get ch"), "1");
    EXPECT_EQ(client.ask(device, "get vol"), "-3");
    const std::vector<std::string> all = causes(device);
    EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()),
              (std::vector<std::string>{"move to 127.42.0.11", "up"}));
    EXPECT_THROW(device.moveTo("10.1.1.1"), std::invalid_argument);
    simulator.stop();
}

// Timed by the faults: a move with a restart at the same moment keeps the
// device down for its down time and brings it back at the new address, on
// the common channel at the volume it powers up with; a move to an address
// that is taken leaves the device where it was.
TEST(SimulatorHoldings, ATimedMoveWaitsOutARestartAndOneThatCannotBindStaysPut) {
    Simulator simulator(1);
    // One port, as on a site: the second device can't take the first one's address.
    SimulatedDevice& device = simulator.add("127.42.0.12", 14990, loudspeaker(12));
    SimulatedDevice& blocked = simulator.add("127.42.0.14", 14990, loudspeaker(14));
    simulator.start();
    Client client;
    Client server;
    device.startStatePackets(server.endpoint(), 50ms);
    device.withModel<OrvelBandModel>([](OrvelBandModel& m) { m.setPowerOnVolume("-40"); });
    ASSERT_EQ(client.ask(device, "set ch 1"), "OK");
    ASSERT_EQ(client.ask(device, "set vol -3"), "OK");

    FaultSettings both;
    both.move.after = 100ms;
    both.move.to = "127.42.0.13";
    both.reboot.after = 100ms;
    both.reboot.down = 400ms;
    FaultSettings taken;
    taken.move.after = 50ms;
    taken.move.to = "127.42.0.12";  // the first device's until it moves
    const auto armed = Clock::now();
    setFaults(device, both);
    setFaults(blocked, taken);

    std::vector<std::string> sources;
    std::string first;
    const auto packets = server.arrivals(900ms, &first, &sources);
    ASSERT_FALSE(packets.empty());
    EXPECT_GE(packets.back() - armed, 800ms) << "sending on";
    std::size_t up = 0;
    while (up < sources.size() && sources[up] == "127.42.0.12") ++up;
    ASSERT_LT(up, packets.size());
    EXPECT_GE(packets[up] - armed, 480ms) << "down for the restart's time, not the move's second";
    EXPECT_EQ(sources.back(), "127.42.0.13");
    EXPECT_EQ(device::sim::describe(device.holdings()), "channel=0 volume=-40 memory=\"idle\"");

    ASSERT_TRUE(waitUntil([&] { return !blocked.holdings().down; }, 2000ms));
    EXPECT_EQ(blocked.endpoint().address().to_string(), "127.42.0.14");
    EXPECT_EQ(client.ask(blocked, "get ch"), "0");
    const std::vector<std::string> tried = causes(blocked);
    ASSERT_EQ(tried.size(), 3u);
    EXPECT_EQ(tried[1].rfind("move to 127.42.0.12 failed: ", 0), 0u) << tried[1];
    EXPECT_EQ(tried[2], "up");
    simulator.stop();
}

// The volume a loudspeaker powers up with has the form its model's firmware
// reports: decibels, or an Orvel-510's two hex levels.
TEST(SimulatorHoldings, APowerOnVolumeHasTheFormOfItsModel) {
    OrvelBandModel orvel610(Simulator::hardwareAddress(20), 18);
    OrvelBandModel orvel611(Simulator::hardwareAddress(21), 18, true);
    OrvelBandModel orvel45(Simulator::hardwareAddress(22), 20);
    OrvelBandModel orvel510(Simulator::hardwareAddress(23), 5);
    for (OrvelBandModel* decibels : {&orvel610, &orvel611, &orvel45}) {
        for (const char* good : {"-4", "-40", "-96", "0"})
            EXPECT_EQ(device::sim::volumeFormError(decibels->versionText(), good), "") << good;
        for (const char* bad : {"-97", "1", "-04", "-0", "+4", "-4 ", "19:19", ""})
            EXPECT_NE(device::sim::volumeFormError(decibels->versionText(), bad), "") << bad;
    }
    for (const char* good : {"19:19", "FE:FE", "00:3C", "3C:FE"})
        EXPECT_EQ(device::sim::volumeFormError(orvel510.versionText(), good), "") << good;
    for (const char* bad : {"3D:3D", "1e:1e", "FF:FF", "19:1", "19;19", "-4", " 19:19"})
        EXPECT_NE(device::sim::volumeFormError(orvel510.versionText(), bad), "") << bad;

    try {
        orvel510.setPowerOnVolume("-4");
        ADD_FAILURE() << "decibels taken by an Orvel-510";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find("\"-4\" is no volume of an Orvel-510"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(orvel510.volume, "1E:1E") << "the refused text is not taken";
    orvel510.setPowerOnVolume("19:19");
    orvel510.volume = "0A:0A";
    orvel510.restart();
    EXPECT_EQ(orvel510.volume, "19:19");
}

// Restarts the faults make: after answering a request of the prefix, the
// reply leaving first, and once at a time after the start.
TEST(SimulatorHoldings, FaultsRestartAfterAnsweringARequestOrOnceAtATime) {
    Simulator simulator(1);
    SimulatedDevice& forgetful = simulator.add("127.42.0.3", 0, loudspeaker(3));
    SimulatedDevice& timed = simulator.add("127.42.0.4", 0, loudspeaker(4));
    FaultSettings onSwitch;
    onSwitch.reboot.onPrefix = "set ch";
    onSwitch.reboot.down = 600ms;
    setFaults(forgetful, onSwitch);
    FaultSettings atTime;
    atTime.reboot.after = 200ms;
    atTime.reboot.down = 100ms;
    const auto armed = Clock::now();
    setFaults(timed, atTime);
    simulator.start();
    Client client;

    EXPECT_EQ(client.ask(forgetful, "set ch 1", 50ms), "OK") << "it says it switched";
    EXPECT_EQ(client.ask(forgetful, "get ch", 150ms), "(none)") << "restarting";
    EXPECT_EQ(forgetful.holdings().channel, 0u) << "and holds the common channel";
    ASSERT_TRUE(waitUntil([&] { return causes(forgetful).size() == 4; }, 2000ms));
    EXPECT_EQ(causes(forgetful), (std::vector<std::string>{"", "set ch 1", "restart", "up"}));

    ASSERT_TRUE(waitUntil([&] { return causes(timed).size() >= 3; }, 2000ms));
    std::this_thread::sleep_for(300ms);
    const auto history = timed.holdingsHistory();
    ASSERT_EQ(causes(timed), (std::vector<std::string>{"", "restart", "up"})) << "once";
    EXPECT_GE(history[1].at - armed, 190ms);
    simulator.stop();
}

// A deferred switch: the loudspeaker says so, holds the request and keeps
// its channel; the switch is made later, only the last one asked for; a
// malformed one is refused at once, and a restart drops one that waits.
TEST(SimulatorHoldings, ADeferredSwitchIsMadeLaterAndOnlyTheLastOne) {
    Simulator simulator(1);
    SimulatedDevice& device = simulator.add("127.42.0.5", 0, loudspeaker(5));
    FaultSettings settings;
    settings.deferSwitch = 400ms;
    setFaults(device, settings);
    simulator.start();
    Client client;

    EXPECT_EQ(client.ask(device, "set ch 1", 50ms), device::sim::kDeferredSwitchReply);
    EXPECT_EQ(device.holdings().deferred, std::string("set ch 1"));
    EXPECT_EQ(client.ask(device, "get ch", 50ms), "0");
    EXPECT_EQ(client.ask(device, "set ch 6", 50ms), device::sim::kDeferredSwitchReply)
        << "in place of the first";
    EXPECT_EQ(client.ask(device, "set ch x", 50ms), "ERR wrong arguments");
    ASSERT_TRUE(waitUntil([&] { return device.holdings().channel == 6u; }, 2000ms));
    EXPECT_FALSE(device.holdings().deferred);
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(causes(device), (std::vector<std::string>{"", "set ch 1", "set ch 6", "deferred set ch 6"}))
        << "the first switch was never made";

    EXPECT_EQ(client.ask(device, "set ch 3", 50ms), device::sim::kDeferredSwitchReply);
    device.restart(0ms);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(device::sim::describe(device.holdings()), "channel=0 volume=-15 memory=\"idle\"")
        << "the switch was lost with the power";
    simulator.stop();
}

// Each reply of a jittered device is late by its own draw within the span.
TEST(SimulatorHoldings, JitteredRepliesAreEachLateByTheirOwnDraw) {
    Simulator simulator(1);
    SimulatedDevice& device = simulator.add("127.42.0.6", 0, loudspeaker(6));
    device::sim::ReplyPolicy policy;
    policy.delay = 50ms;
    policy.jitter = 100ms;
    device.setReplyPolicy(policy);
    simulator.start();
    Client client;
    const auto sent = Clock::now();
    for (int i = 0; i < 20; ++i) client.send(device, "get ch");
    const auto got = client.arrivals(500ms);
    ASSERT_EQ(got.size(), 20u);
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    EXPECT_GE(ms(got.front() - sent), 49);
    EXPECT_GE(ms(got.back() - got.front()), 40) << "twenty draws from 100 ms lie closer together";
    simulator.stop();
}

// The listing: a line a device in the run's order with the fields it has,
// written only when it changed; a file that can't be written is named.
TEST(SimulatorHoldings, TheListingShowsEachDeviceAndIsRewrittenOnlyWhenItChanges) {
    Simulator simulator(1);
    SimulatedDevice& speaker = simulator.add("127.42.0.8", 0, loudspeaker(8));
    simulator.addTovik("127.42.0.9", 0, Simulator::hardwareAddress(9));
    testing_support::TempDir folder{"holdings"};
    const std::string path = folder.path() + "/holdings.txt";
    const auto read = [&path] {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    };

    device::sim::HoldingsListing listing(path);
    ASSERT_TRUE(listing.update(simulator));
    EXPECT_EQ(read(), "1 127.42.0.8 channel=0 volume=-15 memory=\"idle\"\n2 127.42.0.9 volume=50\n");
    EXPECT_FALSE(listing.update(simulator)) << "nothing changed";
    speaker.withModel<OrvelBandModel>([](OrvelBandModel& m) { m.channel = 1; });
    EXPECT_TRUE(listing.update(simulator));
    EXPECT_EQ(read().substr(0, 24), "1 127.42.0.8 channel=1 v");

    device::sim::HoldingsListing nowhere(folder.path() + "/missing/holdings.txt");
    try {
        nowhere.update(simulator);
        ADD_FAILURE() << "wrote into a folder that is not there";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("missing/holdings.txt"), std::string::npos) << error.what();
    }
    simulator.stop();
}
