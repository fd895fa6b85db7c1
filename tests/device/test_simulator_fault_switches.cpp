// ctest-labels: net
// The simulator's fault switches: the command line's fault options and their
// refusals, the replies each switch gives instead of the model's, the busy
// and silent spans opened by time or by a request, the losses, deferred
// switches and restarts by prefix, and a silent device that neither answers
// nor sends its state packets over real UDP.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/ip/address_v4.hpp>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tools/simulator/fault_switches.h"
#include "tools/simulator/line_control_store.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;
using device::sim::DeviceFaults;
using device::sim::FaultSwitches;

namespace {

std::vector<DeviceFaults> parse(std::initializer_list<const char*> arguments) {
    std::vector<DeviceFaults> faults;
    const std::vector<std::string> args(arguments.begin(), arguments.end());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool value = device::sim::faultOptionTakesValue(args[i]);
        const char* text = value ? args.at(++i).c_str() : nullptr;
        if (!device::sim::takeFaultOption(args[value ? i - 1 : i], text, faults))
            throw std::logic_error("no fault option: " + args[value ? i - 1 : i]);
    }
    return faults;
}

/// A clock the test moves; the device's strand reads it.
struct TestClock {
    std::atomic<FaultSwitches::Clock::time_point> now{FaultSwitches::Clock::time_point{}};
    void advance(std::chrono::milliseconds step) { now = now.load() + step; }
    std::function<FaultSwitches::Clock::time_point()> reader() {
        return [this] { return now.load(); };
    }
};

using Reply = std::optional<std::optional<std::string>>;
const Reply kModel = std::nullopt;
const Reply kSilence = std::optional<std::string>();
Reply reply(const std::string& text) { return std::optional<std::string>(text); }

}  // namespace

TEST(SimulatorFaultSwitches, OptionsBelongToTheDeviceNamedBeforeThemAndBadValuesAreRefused) {
    const std::vector<DeviceFaults> faults =
        parse({"--fault-device", "9", "--no-line-control", "--error-on", "get state", "--error-on", "set ip",
               "--fault-device", "2", "--busy", "1.5", "--busy-on", "get", "--silent-for", "4",
               "--silent-after", "10", "--reply-delay", "0.8"});
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0].device, 9u);
    EXPECT_TRUE(faults[0].settings.noLineControl);
    EXPECT_EQ(faults[0].settings.errorOn, (std::vector<std::string>{"get state", "set ip"}));
    EXPECT_EQ(faults[0].settings.busy.length, 0ms);
    EXPECT_EQ(faults[1].device, 2u);
    EXPECT_FALSE(faults[1].settings.noLineControl);
    EXPECT_EQ(faults[1].settings.busy.length, 1500ms);
    EXPECT_EQ(faults[1].settings.busy.onPrefix, "get");
    EXPECT_EQ(faults[1].settings.silent.length, 4000ms);
    EXPECT_EQ(faults[1].settings.silent.after, std::optional<std::chrono::milliseconds>(10000ms));
    EXPECT_EQ(faults[1].settings.replyDelay, 800ms);
    EXPECT_EQ(faults[0].settings.replyDelay, 0ms);

    std::vector<DeviceFaults> none;
    EXPECT_FALSE(device::sim::takeFaultOption("--loudspeakers", "3", none)) << "left to the simulator";
    EXPECT_THROW(parse({"--busy", "3"}), std::invalid_argument) << "no device named";
    for (const char* bad : {"0", "x", "", "-1"})
        EXPECT_THROW(parse({"--fault-device", bad}), std::invalid_argument);
    for (const char* bad : {"-1", "soon", "", "1e9", "nan"})
        EXPECT_THROW(parse({"--fault-device", "1", "--silent-for", bad}), std::invalid_argument) << bad;
    EXPECT_THROW(parse({"--fault-device", "1", "--error-on", ""}), std::invalid_argument);
}

// A group also says what its device is and where it moves; "--volume"
// before any group is the run's, left to the simulator.
TEST(SimulatorFaultSwitches, AGroupGivesItsDeviceAModelAVolumeAndAMove) {
    const std::vector<DeviceFaults> faults =
        parse({"--fault-device", "1", "--device-band", "5", "--volume", "19:19", "--fault-device", "2",
               "--orvel611", "--move-after", "2.5", "--move-to", "127.0.1.20"});
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0].band, std::optional<int>(5));
    EXPECT_FALSE(faults[0].orvel611);
    EXPECT_EQ(faults[0].volume, std::optional<std::string>("19:19"));
    EXPECT_EQ(faults[1].band, std::nullopt);
    EXPECT_TRUE(faults[1].orvel611);
    EXPECT_EQ(faults[1].settings.move.to, "127.0.1.20");
    device::sim::checkFaultGroups(faults);

    TestClock clock;
    const FaultSwitches moving(faults[1].settings, clock.reader());
    EXPECT_EQ(moving.moveAt(), std::optional<FaultSwitches::Clock::time_point>(clock.now.load() + 2500ms));
    EXPECT_EQ(moving.describe(), "moves to 127.0.1.20 at 2.5 s");
    EXPECT_EQ(FaultSwitches(faults[0].settings, clock.reader()).moveAt(), std::nullopt);

    std::vector<DeviceFaults> none;
    EXPECT_FALSE(device::sim::takeFaultOption("--volume", "-4", none)) << "the run's volume";
    EXPECT_THROW(parse({"--orvel611"}), std::invalid_argument) << "no device named";
    for (const char* bad : {"0", "22", "x", ""})
        EXPECT_THROW(parse({"--fault-device", "1", "--device-band", bad}), std::invalid_argument) << bad;
    for (const char* bad : {"10.0.0.1", "127.0.1", "localhost", ""})
        EXPECT_THROW(parse({"--fault-device", "1", "--move-to", bad}), std::invalid_argument) << bad;
    EXPECT_THROW(parse({"--fault-device", "1", "--volume", ""}), std::invalid_argument);
    for (const auto& half : {parse({"--fault-device", "1", "--move-to", "127.0.1.9"}),
                             parse({"--fault-device", "1", "--move-after", "1"})})
        EXPECT_THROW(device::sim::checkFaultGroups(half), std::invalid_argument);
}

TEST(SimulatorFaultSwitches, EachSwitchAnswersInPlaceOfTheModel) {
    device::sim::FaultSettings settings;
    settings.noLineControl = true;
    settings.errorOn = {"get state"};
    TestClock clock;
    FaultSwitches faults(settings, clock.reader());
    EXPECT_EQ(faults.intercept("lsensor"), reply("ERR line control module is absent"));
    EXPECT_EQ(faults.intercept("lsensor dbg"), reply("ERR line control module is absent"));
    EXPECT_EQ(faults.intercept("get state"), reply("ERR simulated fault: get state"));
    EXPECT_EQ(faults.intercept("get vol"), kModel);
    EXPECT_EQ(faults.intercept("config"), kModel);
    EXPECT_TRUE(faults.sendsStatePackets());
    EXPECT_EQ(faults.describe(), "no line-control module, ERR to \"get state...\"");
}

TEST(SimulatorFaultSwitches, BusyAndSilentSpansOpenByTimeOrByARequestAndCloseAfterTheirLength) {
    TestClock clock;
    device::sim::FaultSettings settings;
    settings.silent.length = 2000ms;
    settings.silent.after = 5000ms;
    settings.busy.length = 1000ms;
    settings.busy.onPrefix = "get state";
    FaultSwitches faults(settings, clock.reader());

    EXPECT_EQ(faults.intercept("get vol"), kModel) << "no span open yet";
    EXPECT_EQ(faults.intercept("get state"), reply(device::sim::kBusyReply)) << "opens the busy span";
    clock.advance(900ms);
    EXPECT_EQ(faults.intercept("get vol"), reply(device::sim::kBusyReply)) << "busy for every request";
    clock.advance(100ms);
    EXPECT_EQ(faults.intercept("get vol"), kModel) << "a second on, the device answers again";
    EXPECT_EQ(faults.intercept("get state"), reply(device::sim::kBusyReply)) << "and is busy on the next one";

    clock.now = FaultSwitches::Clock::time_point{} + 4999ms;
    EXPECT_TRUE(faults.sendsStatePackets());
    clock.advance(1ms);
    EXPECT_FALSE(faults.sendsStatePackets()) << "silent from 5 s on";
    EXPECT_EQ(faults.intercept("get state"), kSilence) << "silence comes before busy";
    clock.advance(1999ms);
    EXPECT_EQ(faults.intercept("lsensor"), kSilence);
    clock.advance(1ms);
    EXPECT_TRUE(faults.sendsStatePackets()) << "for 2 s, once";
    EXPECT_EQ(faults.intercept("lsensor"), kModel);

    // With neither a time nor a prefix, a span opens at the start.
    device::sim::FaultSettings fromStart;
    fromStart.busy.length = 500ms;
    FaultSwitches early(fromStart, clock.reader());
    EXPECT_EQ(early.intercept("get vol"), reply(device::sim::kBusyReply));
    clock.advance(500ms);
    EXPECT_EQ(early.intercept("get vol"), kModel);
}

TEST(SimulatorFaultSwitches, LossesGoByPrefixAndRepeatWithTheDevicesSeedAndOnlyAWellFormedSwitchIsDeferred) {
    const std::vector<DeviceFaults> faults =
        parse({"--fault-device", "3", "--lose-requests", "0.5", "--lose-replies", "0.5", "--lose-on", "set",
               "--reboot-on", "set ch", "--defer-switch", "2"});
    device::sim::FaultSettings settings = faults.at(0).settings;
    EXPECT_EQ(settings.seed, 3u) << "each device draws its own, the same in every run";
    EXPECT_EQ(settings.reboot.down, 3000ms) << "the default down time";
    for (const char* bad : {"1.5", "-0.1", "x", ""})
        EXPECT_THROW(parse({"--fault-device", "1", "--lose-replies", bad}), std::invalid_argument) << bad;

    TestClock clock;
    FaultSwitches faults1(settings, clock.reader());
    FaultSwitches faults2(settings, clock.reader());
    int lostRequests = 0, lostReplies = 0;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(faults1.intercept("get vol"), kModel) << "not of the prefix";
        ASSERT_FALSE(faults1.losesReply("get vol"));
        const Reply request = faults1.intercept("set ch 1");
        const bool reply = faults1.losesReply("set ch 1");
        ASSERT_EQ(request, faults2.intercept("set ch 1")) << i << ": the same seed draws the same";
        ASSERT_EQ(reply, faults2.losesReply("set ch 1")) << i;
        lostRequests += request == kSilence;
        lostReplies += reply;
    }
    EXPECT_NEAR(lostRequests, 100, 30);
    EXPECT_NEAR(lostReplies, 100, 30);

    EXPECT_EQ(faults1.defers("set ch 16"), std::optional<std::chrono::milliseconds>(2000ms));
    for (const char* refusedAtOnce : {"set ch", "set ch x", "set ch 1 2", "get ch"})
        EXPECT_EQ(faults1.defers(refusedAtOnce), std::nullopt) << refusedAtOnce;
}

TEST(SimulatorFaultSwitches, ASilencedDeviceNeitherAnswersNorSendsStatePackets) {
    device::sim::Simulator simulator(1);
    auto model = std::make_unique<device::sim::OrvelModel>(device::sim::Simulator::hardwareAddress(1),
                                                           device::sim::kDefaultOrvelVersion);
    device::sim::LineControlStore::install(std::make_shared<device::sim::LineControlStore>(), *model);
    device::sim::SimulatedDevice& device = simulator.add("127.41.0.1", 0, std::move(model));
    boost::asio::io_context io;
    boost::asio::ip::udp::socket server(io, {boost::asio::ip::make_address_v4("127.41.0.2"), 0});
    server.non_blocking(true);

    TestClock clock;
    device::sim::FaultSettings settings;
    settings.noLineControl = true;
    settings.silent.length = 60000ms;
    settings.silent.onPrefix = "reboot";
    device.setFaults(std::make_shared<FaultSwitches>(settings, clock.reader()));
    simulator.start();
    device.startStatePackets(server.local_endpoint(), 20ms);

    // Everything that arrives within `wait`.
    const auto arrivals = [&server](std::chrono::milliseconds wait) {
        std::vector<std::string> texts;
        const auto end = std::chrono::steady_clock::now() + wait;
        char buffer[2048];
        while (std::chrono::steady_clock::now() < end) {
            boost::system::error_code error;
            const std::size_t size = server.receive(boost::asio::buffer(buffer), 0, error);
            if (!error)
                texts.emplace_back(buffer, size);
            else
                std::this_thread::sleep_for(2ms);
        }
        return texts;
    };
    const auto count = [](const std::vector<std::string>& texts, const std::string& start) {
        int n = 0;
        for (const std::string& text : texts) n += text.rfind(start, 0) == 0;
        return n;
    };
    server.send_to(boost::asio::buffer(std::string("lsensor\n")), device.endpoint());
    std::vector<std::string> got = arrivals(300ms);
    EXPECT_EQ(count(got, "ERR line control module is absent"), 1);
    EXPECT_GT(count(got, device::sim::Simulator::hardwareAddress(1)), 3) << "state packets";

    server.send_to(boost::asio::buffer(std::string("reboot\n")), device.endpoint());
    arrivals(100ms);  // a packet may already have been on its way
    server.send_to(boost::asio::buffer(std::string("lsensor\n")), device.endpoint());
    server.send_to(boost::asio::buffer(std::string()), device.endpoint());  // a search
    got = arrivals(300ms);
    EXPECT_TRUE(got.empty()) << got.size() << " datagrams from a silent device";

    clock.advance(60000ms);
    got = arrivals(300ms);
    EXPECT_GT(count(got, device::sim::Simulator::hardwareAddress(1)), 3) << "speaking again";
    simulator.stop();
}
