// The console object without a network: packet reading and range checks,
// the derived flags, parsePing's refusals and what counts as a change, the
// volume reply and the text tables.
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/thread_dispatcher.h"
#include "device/models/tovik_info.h"
#include "tests/device/models/tovik_test_support.h"

using namespace device;
using namespace std::chrono_literals;

namespace {

const std::string kHw = "02:56:53:00:00:31";
const std::string kVersion = "Tovik-30 1.0.7.0 Feb 14 2022";

std::string packetOf(const std::array<unsigned, 16>& f, const std::string& version = kVersion) {
    std::string packet = kHw;
    for (unsigned v : f) packet += "," + std::to_string(v);
    return packet + "," + version;
}

// Power 1 and 2 from mains with a check (0x05), both ports linked with PoE
// (0x07), microphone ok, case closed, zones consistent, AIN on: all OK.
const std::array<unsigned, 16> kHealthy{0, 90, 0x05, 80, 0x05, 0x07, 0x07, 1, 0, 0, 1, 3, 3, 0, 0, 2};

using device_test::waitUntil;

}  // namespace

class TovikInfoTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        base::ThreadDispatcher::create();
        // No transport: "check responding" finds nobody to ask.
        console = tovik_test::TestTovik::make(net::IpAndPort(), nullptr, nullptr);
        console->setStateChangedHandler([this](boost::shared_ptr<DeviceBase>) { ++notified; });
    }
    void TearDown() override {
        console.reset();
        base::ThreadDispatcher::destroy();
        CountingLogFixture::TearDown();
    }
    bool parse(const std::array<unsigned, 16>& f, const std::string& version = kVersion) {
        return console->parsePing(packetOf(f, version), source);
    }

    std::atomic<int> notified{0};
    boost::shared_ptr<tovik_test::TestTovik> console;
    const net::IpAndPort source{"127.0.0.9", 11990};
};

TEST_F(TovikInfoTest, FirstPacketTakesEverythingAndNotifies) {
    ASSERT_TRUE(parse(kHealthy));
    const TovikInfo::State s = console->getState();
    EXPECT_EQ(std::make_tuple(s.valid, s.power1Level, s.power2Level, s.power1Status, s.ethernet1Status),
              std::make_tuple(1u, 90u, 80u, 2u, 2u));
    EXPECT_TRUE(s.twoSuppliesOk && s.allOk);
    EXPECT_EQ(console->getIp(), source) << "commands go where the packets come from";
    EXPECT_EQ(console->getConsoleType(), 3);
    EXPECT_TRUE(waitUntil([&] { return notified.load() == 1; }));
    EXPECT_EQ(loggedCount("changed version of device id=9"), 1);
    EXPECT_EQ(loggedCount("changed power U1 state of device id=9, new=0x05, old=0x00"), 1);
    EXPECT_EQ(loggedCount("changed case state of device id=9, new=close, old=open"), 1);
}

TEST_F(TovikInfoTest, RefusedPacketsChangeNothing) {
    EXPECT_FALSE(parse(kHealthy, "Orvel-610 1.0.112.0 Mar 03 2021")) << "another model";
    EXPECT_FALSE(parse(kHealthy, "no version")) << "no version";
    EXPECT_FALSE(console->parsePing("zz:56:53:00:00:31,0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15," + kVersion, source));
    EXPECT_EQ(console->getState().valid, 0u);
    EXPECT_EQ(console->getLastContactTime(), 0) << "a refused packet is no contact";
    EXPECT_EQ(loggedCount("Failure to parse tovik ping"), 1);
    EXPECT_EQ(loggedCount("Failure to extract tovik version"), 1);
}

TEST_F(TovikInfoTest, ShortPacketReadsAsZeros) {
    ASSERT_TRUE(console->parsePing(kHw + ",0,90,5,80," + kVersion, source));
    const TovikInfo::State s = console->getState();
    EXPECT_EQ(std::make_tuple(s.power1Level, s.power1State, s.caseState), std::make_tuple(0u, 0u, 0u));
    EXPECT_FALSE(s.allOk);
}

TEST_F(TovikInfoTest, OutOfRangeValuesAreLoggedAndReplaced) {
    std::array<unsigned, 16> f = kHealthy;
    f[1] = 101;           // power 1 level
    f[2] = 200;           // power 1 state
    f[5] = 40;            // ethernet 1
    f[7] = 9;             // microphone
    f[8] = 64;            // playback
    f[10] = 3;            // case
    f[11] = 0x3FFFFF;     // bound zones: masked
    f[15] = 6;            // AIN
    ASSERT_TRUE(parse(f));
    const TovikInfo::State s = console->getState();
    // in the order set above, with the power status and playback kind after their fields
    EXPECT_EQ(std::make_tuple(s.power1Level, s.power1State, s.power1Status, s.ethernet1State, s.microphoneLine,
                              s.playbackState, s.playbackKind, s.caseState, s.boundZones, s.ainState),
              std::make_tuple(100u, 16u, 4u, 32u, 3u, 32u, 5u, 2u, 0x1FFFFFu, 5u));
    EXPECT_EQ(toText(TovikTable::PowerStatus, s.power1Status), L"over");
    EXPECT_FALSE(s.zonesConsistent);
    EXPECT_EQ(loggedCount("Ping packet has unknown power 1 state '200'"), 1);
    EXPECT_EQ(loggedCount("Ping packet has unknown bound zones '4194303'"), 1);
    // Every stored value has its row: the texts never throw after parsing.
    EXPECT_NO_THROW(console->getPlaybackTypeText());
    EXPECT_THROW(toText(TovikTable::Case, 3), exception::Base);
}

TEST_F(TovikInfoTest, LevelChangeIsKeptButNotAChange) {
    ASSERT_TRUE(parse(kHealthy));
    ASSERT_TRUE(waitUntil([&] { return notified.load() == 1; }));
    std::array<unsigned, 16> f = kHealthy;
    f[1] = 55;
    f[3] = 44;
    ASSERT_TRUE(parse(f));
    EXPECT_EQ(console->getState().power1Level, 55u);
    f[12] = 1;  // connected zones now differ from the bound ones
    ASSERT_TRUE(parse(f));
    EXPECT_FALSE(console->getState().zonesConsistent) << "a counted change recomputes the flags";
    EXPECT_TRUE(waitUntil([&] { return notified.load() == 2; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(notified.load(), 2) << "the level change notified nobody";
}

TEST_F(TovikInfoTest, DerivedFlagsAndPlaybackKinds) {
    struct Case {
        unsigned playback;
        unsigned kind;
    };
    for (const Case c : {Case{0x01, 0}, Case{0x03, 1}, Case{0x04, 2}, Case{0x0C, 2}, Case{0x08, 3}, Case{0x10, 4}})
        EXPECT_EQ(tovikPlaybackKind(c.playback), c.kind) << c.playback;

    TovikState s;
    s.power1State = 0x09;  // mains bit with the fault bit: outside, not present
    s.power2State = 0x02;
    s.ethernet1State = 0x10;  // no link bit, PoE only
    s.ethernet2State = 0x20;
    s.zarnoState = 0x03 | 0x04;  // checked, line 1 good, line 2 broken
    computeTovikFlags(s);
    EXPECT_EQ(std::make_tuple(s.power1Status, s.ethernet1Status, s.ethernet2Status), std::make_tuple(3u, 0u, 5u));
    // present 1 and 2, two supplies, zarno lines 1 and 2, all
    EXPECT_EQ(std::make_tuple(s.power1Present, s.power2Present, s.twoSuppliesOk, s.zarnoLine1Ok, s.zarnoLine2Ok,
                              s.allOk),
              std::make_tuple(false, true, false, true, false, false));
}

TEST_F(TovikInfoTest, VersionGivesConsoleType) {
    struct Case {
        const char* version;
        int type;
    };
    for (const Case c : {Case{"Tovik-30 0.0.1.0", 1}, Case{"Tovik-30 0.1.1.0", 2}, Case{"Tovik-30 0.2.1.0", 2},
                         Case{"Tovik-30 2.0.1.0", 4}, Case{"Tovik-30 0.5.1.0", 4}}) {
        ASSERT_TRUE(parse(kHealthy, c.version)) << c.version;
        EXPECT_EQ(console->getConsoleType(), c.type) << c.version << ": an unknown 0.x minor keeps the type";
    }
}

TEST_F(TovikInfoTest, VolumeReplyIsClamped) {
    struct Case {
        const char* reply;
        std::int32_t volume;
    };
    for (const Case c : {Case{"40", 40}, Case{"150", 100}, Case{"-5", 0}, Case{"abc", 0}}) {
        console->handleVolume(c.reply);
        EXPECT_EQ(console->volume(), c.volume) << c.reply << ": no number leaves the volume alone";
    }
    EXPECT_THROW(console->setVolume(10), exception::UnsupportedByDevice);
}
