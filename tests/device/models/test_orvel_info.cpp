// ctest-labels: net
// The loudspeaker object over real UDP against simulated loudspeakers on
// loopback: state packets of every firmware generation, volume on both
// scales, channels, lines, the playback-type code, the reboot window and
// the faults that the packet parser must survive. Assertions read the
// simulator's ordered request log and the objects' state.
#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <tuple>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/text.h"
#include "device/firmware/firmware_image.h"
#include "device/memory/audio_control.h"
#include "device/models/version_tables.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/device/models/speaker_fixture.h"
#include "tools/simulator/audio_memory_store.h"
#include "tests/device/thrown.h"

using namespace std::chrono_literals;
using device::OrvelInfo;
using device::sim::OrvelBandModel;
using device::sim::SimulatedDevice;
namespace playback = device::playback;

namespace {

using device_test::FakeMemory;

/// A valid firmware image of the model.
boost::shared_ptr<device::IFirmware> imageOf(std::uint64_t type) {
    return boost::make_shared<device::FirmwareImage>(
        device::FirmwareImage::encode(type, base::toNarrow(device::toText(type)) + " 1.0.1.0", "x"));
}

using device_test::endpointOf;
using device_test::waitUntil;

/// The type code the device list gives a loudspeaker of the index.
std::uint64_t typeOf(int index, bool orvel611) {
    return orvel611 ? device::kTypeOrvel611
           : index <= 8 ? device::kTypeOrvel510
           : index == 20 ? device::kTypeOrvel45 : device::kTypeOrvel610;
}

}  // namespace

// Packets go straight to the objects, as the collection hands them on (its
// own tests take them off the wire).
class OrvelOverUdp : public device_test::UdpFixture {
protected:
    void releaseDevices() override { m_objects.clear(); }

    /// A simulated loudspeaker of a firmware generation and its object, made
    /// with the type code the device list would give it and a stand-in audio
    /// memory (m_memories), or without one the model's own.
    std::pair<SimulatedDevice*, boost::shared_ptr<TestOrvel>> add(int index, bool orvel611 = false,
                                                                  bool fakeMemory = true) {
        const unsigned n = static_cast<unsigned>(m_objects.size()) + 1;
        const std::string hardware = device::sim::Simulator::hardwareAddress(n);
        auto& sim = m_simulator.add("127.0.0." + std::to_string(1 + n), 0,
                                    std::make_unique<OrvelBandModel>(hardware, index, orvel611));
        const auto memory = fakeMemory ? boost::make_shared<FakeMemory>() : nullptr;
        auto object = TestOrvel::make(hardware, endpointOf(sim), m_transport, memory, typeOf(index, orvel611), n,
                                      [this](boost::shared_ptr<device::DeviceBase>) { ++m_notified; }, false);
        m_objects.push_back(object);
        m_memories[object.get()] = memory;
        return {&sim, object};
    }

    /// Log lines of a level above DEBUG so far.
    int linesAboveDebug() {
        int count = 0;
        for (const char* level : {" MARK\t", " INFO\t", " EXTERN\t", " IMPOR\t", " NOTICE\t", " WARN\t", " ERROR\t",
                                  " FATAL\t"})
            count += loggedCount(level);
        return count;
    }

    static std::string statePacket(SimulatedDevice& sim) {
        return sim.withModel<OrvelBandModel>([](OrvelBandModel& m) { return m.statePacket(); });
    }
    /// The loudspeaker's current state packet, handed to its object.
    static bool packet(SimulatedDevice& sim, TestOrvel& object) {
        return object.parsePing(statePacket(sim), endpointOf(sim));
    }

    /// The first packet, then the answered check it queues; the request log
    /// starts empty afterwards. The object counts as answered as soon as the
    /// reply is in, before the check has read the volume from it: the check
    /// is over when it logs its result.
    void connect(SimulatedDevice& sim, TestOrvel& object) {
        const int notified = m_notified;
        const int checks = loggedCount("check i/o for device ip");
        packet(sim, object);
        ASSERT_TRUE(waitUntil([&] { return object.answered() && loggedCount("check i/o for device ip") > checks; }))
            << "the check after connection answered";
        // The connection and the answer are each notified, the answer's a
        // moment after the check logs: a test that counts from here waits for
        // both (a device connected before gives fewer; the wait is short).
        waitUntil([&] { return m_notified >= notified + 2; }, 300ms);
        sim.clearReceived();
    }

    static std::vector<std::string> requests(const SimulatedDevice& sim) {
        return device_test::requestsOf(sim, true);
    }

    template <class F>
    static void model(SimulatedDevice& sim, F change) {
        sim.withModel<OrvelBandModel>([&](OrvelBandModel& m) {
            change(m);
            return 0;
        });
    }

    std::vector<boost::shared_ptr<TestOrvel>> m_objects;
    std::map<TestOrvel*, boost::shared_ptr<FakeMemory>> m_memories;
    std::atomic<int> m_notified{0};
};

using Strings = std::vector<std::string>;

TEST_F(OrvelOverUdp, EveryFirmwareGenerationIsRecognisedFromItsPacket) {
    std::vector<std::pair<int, bool>> generations{{18, true}};
    for (int index = 1; index <= 21; ++index) generations.emplace_back(index, false);
    std::vector<std::pair<SimulatedDevice*, boost::shared_ptr<TestOrvel>>> speakers;
    for (const auto& g : generations) speakers.push_back(add(g.first, g.second));
    for (auto& s : speakers) packet(*s.first, *s.second);
    for (std::size_t n = 0; n < speakers.size(); ++n) {
        const int index = generations[n].first;
        const auto& object = speakers[n].second;
        SCOPED_TRACE(device::sim::orvelVersionOfIndex(index, generations[n].second));
        EXPECT_EQ(object->getVersionIndex(), index);
        EXPECT_EQ(object->getTypeCode(), typeOf(index, generations[n].second));
        EXPECT_TRUE(object->isOnline());
        const OrvelInfo::State s = object->getState();
        // battery level and state, lines 1 and 2, case
        EXPECT_EQ(std::make_tuple(s.batteryLevel, s.batteryState, s.line1, s.line2, s.caseState),
                  std::make_tuple(100u, 1u, 1u, 1u, 0u));
        EXPECT_EQ(s.tipsAdded, index >= 10 ? 1u : 0u) << "lines carry the end devices from index 10";
        EXPECT_EQ(s.soundPressure, index >= 13 ? 4u : 0u);
        EXPECT_EQ(s.ethState, index >= 17 ? 3u : 2u);
        EXPECT_EQ(s.zoneState, index >= 17 ? 1u : 3u);
        EXPECT_TRUE(s.allOk);
        EXPECT_EQ(object->getPlaybackType(), playback::kNone);
    }
}

// The device list gives a silent Orvel-610 its type code; it must not turn
// into an Orvel-510 (and be saved so) before its first packet.
TEST_F(OrvelOverUdp, ALoadedLoudspeakerKeepsItsModelUntilHeard) {
    const std::pair<std::uint64_t, int> models[] = {{device::kTypeOrvel610, 21}, {device::kTypeOrvel611, 21},
                                                    {device::kTypeOrvel45, 20},  {device::kTypeOrvelLan, 20},
                                                    {device::kTypeOrvel510, 8}};
    for (const auto& m : models) {
        auto object = OrvelInfo::create(1, m.first, net::HardwareAddress(0x025653, 1), net::IpAndPort(), L"",
                                        m_transport, {});
        EXPECT_EQ(object->getTypeCode(), m.first);
        EXPECT_EQ(object->getVersionIndex(), m.second);
        EXPECT_EQ(object->getFirmwareVersionTypeText(), device::toText(m.first));
    }
}

TEST_F(OrvelOverUdp, PlaybackTypeFollowsTheRawStatePerBand) {
    struct Case {
        int index;
        unsigned raw;
        unsigned source;
        std::uint32_t kind;
        std::uint64_t code;
    };
    // The tables themselves are the state tests'; here the packet's fields
    // reach them with the object's own band.
    const Case cases[] = {
        {8, 2, 0, 9, playback::kScenarioServer},
        {12, 11, 0, 13, playback::kUnknown},
        {17, 7, 0, 3, playback::kFragment},
        {21, 9, 10, 9, playback::kScenarioAin1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " raw " << c.raw);
        auto [sim, object] = add(c.index);
        packet(*sim, *object);
        model(*sim, [&](OrvelBandModel& m) {
            m.fields[5] = c.raw;
            m.fields[14] = c.source;
        });
        packet(*sim, *object);
        EXPECT_EQ(object->getState().playbackKind, c.kind);
        EXPECT_EQ(object->getState().playbackState, c.raw);
        EXPECT_EQ(object->getPlaybackType(), c.code);
    }
    EXPECT_EQ(loggedCount("device::playbackKindOf"), 1) << "the raw state past the kinds is logged";
}

TEST_F(OrvelOverUdp, VolumeRoundTripsOnBothScales) {
    for (int index : {8, 9}) {
        SCOPED_TRACE(index);
        auto [sim, object] = add(index);
        connect(*sim, *object);
        const bool old = index == 8;

        ASSERT_EQ(object->volume(), 50) << "read by the check after connection";
        EXPECT_TRUE(object->setVolume(50)) << "the same volume again sends nothing";
        EXPECT_TRUE(object->setVolume(40));
        EXPECT_EQ(object->getVolume(), 40);
        EXPECT_TRUE(object->setVolume(0));
        EXPECT_EQ(object->getVolume(), 0);
        EXPECT_TRUE(object->setVolume(100));
        EXPECT_EQ(object->getVolume(), 100);
        EXPECT_FALSE(object->setVolume(101));
        EXPECT_EQ(requests(*sim), (old ? Strings{"set vol 24:24", "get vol", "set vol FE:FE", "get vol",
                                               "set vol 00:00", "get vol"}
                                       : Strings{"set vol -18", "get vol", "set vol -96", "get vol", "set vol 0",
                                                 "get vol"}));

        // Replies at the edges of each scale.
        const std::pair<const char*, int> replies8[] = {{"FE:FE", 0}, {"3B:3B", 1}, {"50:50", 1}, {"00:00", 100}};
        const std::pair<const char*, int> replies9[] = {{"-96", 0}, {"-31", 1}, {"-15", 50}, {"3", 100}};
        for (const auto& r : old ? replies8 : replies9) {
            model(*sim, [&](OrvelBandModel& m) { m.volume = r.first; });
            EXPECT_EQ(object->getVolume(), r.second) << r.first;
        }
        // A reply that can't be read leaves the volume unknown.
        model(*sim, [&](OrvelBandModel& m) { m.volume = old ? "loud" : "x-15"; });
        EXPECT_THROW(object->getVolume(), exception::DeviceReason);
        EXPECT_EQ(object->volume(), device::DeviceBase::kUnknownVolume);
        EXPECT_EQ(loggedCount(old ? "Ошибка в формате громкости прибора Орвел-510" : "Ошибка в формате громкости прибора Орвел-610"), 1);
    }
}

TEST_F(OrvelOverUdp, ChannelSwitchingWithDeferralAndRepeater) {
    auto [sim, object] = add(17);
    connect(*sim, *object);

    EXPECT_TRUE(object->switchChannel(1));
    EXPECT_EQ(object->getPlaybackType(), playback::kVoiceHighPriority);
    EXPECT_TRUE(object->switchChannel(1)) << "same channel: nothing sent";
    EXPECT_EQ(object->getChannel(), 1) << "cached";

    model(*sim, [](OrvelBandModel& m) { m.channelReply = "Switching of the channel is deferred"; });
    EXPECT_FALSE(object->switchChannel(6));
    EXPECT_EQ(object->getChannel(), 1) << "the loudspeaker still says its old channel; nothing was cached";
    model(*sim, [](OrvelBandModel& m) {
        m.channelReply.clear();
        m.channel = 21;
    });
    object->switchChannel(0);  // "set ch 0" stores 0 in the simulator
    model(*sim, [](OrvelBandModel& m) { m.channel = 21; });
    EXPECT_TRUE(object->switchChannel(3));
    EXPECT_EQ(object->getPlaybackType(), playback::kVoiceHighRepeating);
    EXPECT_FALSE(object->switchChannel(0)) << "the repeater channel is kept";
    EXPECT_FALSE(object->switchChannel(device::CHANNEL_UNKNOWN));

    EXPECT_EQ(requests(*sim), (Strings{"set ch 1", "set ch 6", "get ch", "set ch 0", "set ch 3"}));

    // A reply above 20 is no channel, and nothing is cached.
    auto [sim2, other] = add(17);
    connect(*sim2, *other);
    model(*sim2, [](OrvelBandModel& m) { m.channel = 21; });
    EXPECT_EQ(other->getChannel(), device::CHANNEL_UNKNOWN);
    EXPECT_EQ(other->getChannel(), device::CHANNEL_UNKNOWN);
    EXPECT_EQ(requests(*sim2), (Strings{"get ch", "get ch"}));
}

TEST_F(OrvelOverUdp, ChannelDependsOnFirmwareAndOwnPlayback) {
    auto [oldSim, oldest] = add(1);
    connect(*oldSim, *oldest);
    EXPECT_NE(device_test::messageOf<exception::UnsupportedByDevice>([&] { oldest->switchChannel(6); })
                  .find(device::get(2)),
              std::wstring::npos)
        << "channels above 1 need index 2";
    EXPECT_TRUE(requests(*oldSim).empty());

    // A loudspeaker that plays a source of its own listens to no stream.
    auto [sim, object] = add(19);
    connect(*sim, *object);
    model(*sim, [](OrvelBandModel& m) { m.fields[5] = 9; });
    packet(*sim, *object);
    EXPECT_EQ(object->getChannel(), device::CHANNEL_DISCOVERY);
    EXPECT_TRUE(requests(*sim).empty());
}

TEST_F(OrvelOverUdp, LinesAndLineDouble) {
    auto [sim, object] = add(5);
    connect(*sim, *object);
    EXPECT_EQ(object->setLine(), std::make_pair(true, true));
    model(*sim, [](OrvelBandModel& m) { m.lineReply = "Break 1,2"; });
    EXPECT_EQ(object->setLine(), std::make_pair(false, false));
    model(*sim, [](OrvelBandModel& m) { m.lineReply = "Short circuit 2"; });
    EXPECT_EQ(object->setLine(), std::make_pair(true, false));
    model(*sim, [](OrvelBandModel& m) { m.lineReply = "ERR busy"; });
    EXPECT_THROW(object->setLine(), exception::UnexpectedResponseOfDevice);

    EXPECT_TRUE(object->getLineDouble()) << "\"Off\"";
    model(*sim, [](OrvelBandModel& m) { m.linesJoined = true; });
    EXPECT_TRUE(object->getLineDouble()) << "the reply is cached until the cache is reset";
    EXPECT_EQ(requests(*sim), (Strings{"set line", "set line", "set line", "set line", "get linedouble"}));

    auto [newSim, newer] = add(12);
    connect(*newSim, *newer);
    EXPECT_TRUE(newer->getLineDouble());
    auto [oldSim, oldest] = add(1);
    connect(*oldSim, *oldest);
    EXPECT_FALSE(oldest->getLineDouble());
    EXPECT_TRUE(requests(*newSim).empty());
    EXPECT_TRUE(requests(*oldSim).empty());

    m_simulator.device(0).setReplyPolicy({0, true});
    EXPECT_THROW(object->setLine(), exception::Offline);
}

TEST_F(OrvelOverUdp, PacketsAfterARebootAreSkippedForTwoSeconds) {
    auto [sim, object] = add(21);
    connect(*sim, *object);
    ASSERT_TRUE(object->reboot());
    model(*sim, [](OrvelBandModel& m) { m.fields[0] = 40; });
    packet(*sim, *object);
    EXPECT_EQ(object->getState().batteryLevel, 100u) << "skipped";
    EXPECT_EQ(loggedCount("Skip ping packet after rebooting during one second"), 1);

    object->shift = 2100000;
    packet(*sim, *object);
    EXPECT_EQ(object->getState().batteryLevel, 40u);
    EXPECT_EQ(requests(*sim), Strings{"reboot"});
}

// A loudspeaker that a notice holds must be driven again whenever it comes
// back: it hears no alarm, or plays at its power-on volume. The object counts
// each return once, and forgets then what the loudspeaker may have lost.
TEST_F(OrvelOverUdp, AReturnIsCountedOnceAndForgetsTheChannelAndTheVolume) {
    auto [sim, object] = add(18);
    connect(*sim, *object);
    const auto returns = [&] { return loggedCount("вернулся"); };
    const auto expectForgotten = [&](const char* cause) {
        EXPECT_EQ(object->getCachedChannel(), device::CHANNEL_UNKNOWN) << cause;
        EXPECT_FALSE(object->getCachedVolumeLevel()) << cause;
        EXPECT_EQ(object->volume(), device::DeviceBase::kUnknownVolume) << cause;
        EXPECT_EQ(loggedCount(cause), 1) << cause;
    };
    EXPECT_EQ(object->returnCount(), 0u) << "its discovery is no return";

    // On a notice channel, shown there by a packet, then idle: restarted.
    ASSERT_TRUE(object->switchChannel(1));
    ASSERT_TRUE(object->setVolume(40));
    model(*sim, [](OrvelBandModel& m) { m.fields[5] = 4; });  // voice, high priority
    packet(*sim, *object);
    packet(*sim, *object);
    EXPECT_EQ(object->returnCount(), 0u);
    ASSERT_TRUE(object->switchChannel(1)) << "the channel unknown since the packet changed: sent again";
    model(*sim, [](OrvelBandModel& m) { m.fields[5] = 0; });
    packet(*sim, *object);
    EXPECT_EQ(object->returnCount(), 1u);
    expectForgotten("Громкоговоритель 'Зал' вернулся: перезагрузка (состояние воспроизведения не соответствует каналу)");
    packet(*sim, *object);
    EXPECT_EQ(object->returnCount(), 1u) << "once";
    sim->clearReceived();
    EXPECT_TRUE(object->switchChannel(1));
    EXPECT_EQ(requests(*sim), Strings{"set ch 1"}) << "driven again, nothing skipped";

    // Silent for longer than a few packets, within the offline window.
    ASSERT_TRUE(object->setVolume(40));
    object->shift = 5000000;
    packet(*sim, *object);
    EXPECT_EQ(object->returnCount(), 2u);
    expectForgotten("вернулся: перезагрузка (перерыв в статусных пакетах)");

    // Counted offline, then back.
    ASSERT_TRUE(object->switchChannel(6));
    object->shift += device::DeviceBase::kOnlineWindow + 1000000;
    object->checkOnline(false);
    ASSERT_FALSE(object->online());
    packet(*sim, *object);
    EXPECT_EQ(object->returnCount(), 3u);
    EXPECT_TRUE(object->isOnline()) << "online by the time it counts";
    EXPECT_EQ(object->getCachedChannel(), device::CHANNEL_UNKNOWN);
    EXPECT_EQ(loggedCount("вернулся: снова на связи после отключения"), 1);

    // Its packets from another address, and back.
    ASSERT_TRUE(waitUntil([&] { return object->answered(); })) << "the check after connection";
    ASSERT_TRUE(object->switchChannel(6));
    const net::IpAndPort elsewhere("127.0.0.99", endpointOf(*sim).getPort());
    object->parsePing(statePacket(*sim), elsewhere);
    EXPECT_EQ(object->returnCount(), 4u);
    EXPECT_EQ(object->getCachedChannel(), device::CHANNEL_UNKNOWN);
    packet(*sim, *object);
    EXPECT_EQ(object->returnCount(), 5u);
    EXPECT_EQ(loggedCount("вернулся: сменился сетевой адрес"), 2);
    EXPECT_EQ(returns(), 5) << "one line a return";

    // A loudspeaker the device list knew at another address: its first packet is its discovery.
    auto [listedSim, listed] = add(18);
    auto loaded = TestOrvel::make(listedSim->withModel<OrvelBandModel>([](OrvelBandModel& m) { return m.hardwareAddress(); }),
                                  net::IpAndPort("127.0.0.200", 11990), m_transport, nullptr);
    m_objects.push_back(loaded);
    loaded->parsePing(statePacket(*listedSim), endpointOf(*listedSim));
    EXPECT_EQ(loaded->returnCount(), 0u);
    EXPECT_EQ(returns(), 5);
}

// Firmware whose packets never show the channel: a loudspeaker on a notice
// channel that shows the common stream has not come back from anywhere.
TEST_F(OrvelOverUdp, PacketsThatNeverShowTheChannelCountNoReturn) {
    auto [sim, object] = add(18);
    connect(*sim, *object);
    for (const device::AudioChannel channel : {1, 0, 6, 3, 1}) {
        ASSERT_TRUE(object->switchChannel(channel));
        packet(*sim, *object);
        packet(*sim, *object);
    }
    EXPECT_EQ(object->returnCount(), 0u);
    EXPECT_EQ(object->getCachedChannel(), 1) << "kept";
}

// A loudspeaker whose state doesn't change still sends packets; each of them
// is contact, or it would drop offline 7 s after its last change.
TEST_F(OrvelOverUdp, SteadyPacketsKeepTheLoudspeakerOnline) {
    auto [sim, object] = add(21);
    packet(*sim, *object);
    for (int step = 1; step <= 4; ++step) {
        object->shift = step * 5000000LL;
        packet(*sim, *object);
        EXPECT_TRUE(object->isOnline()) << step * 5 << " s";
    }
    object->checkOnline(false);
    EXPECT_TRUE(object->online());
}

TEST_F(OrvelOverUdp, GarbageAndTruncatedPacketsChangeNothingAndLogNothing) {
    auto [sim, object] = add(17);
    connect(*sim, *object);
    const OrvelInfo::State before = object->getState();
    const std::uint64_t type = object->getTypeCode();
    const int notified = m_notified;
    const int linesBefore = linesAboveDebug();

    const std::string hw = sim->withModel<OrvelBandModel>([](OrvelBandModel& m) { return m.hardwareAddress(); });
    const std::string good = statePacket(*sim);
    std::vector<std::string> bad = {
        hw + ",1,2,3,Orvel-610 1.1.80.0",             // four numbers
        hw + ",1,2,3,4,5,6,7,Orvel-610 x.y",          // version unreadable
        hw + ",1,2,3,4,5,6,7,Orvel-610 1.1.80",       // version cut
        std::string(40, ','),
    };
    // Cut anywhere before the version numbers ("Orvel-610 " is the last
    // that can go; a cut inside the numbers is another valid version).
    const std::size_t versionStart = good.rfind(',') + 1;
    for (std::size_t size = 0; size <= versionStart + 10; size += 3) bad.push_back(good.substr(0, size));
    for (const auto& text : bad) EXPECT_FALSE(object->parsePing(text, endpointOf(*sim))) << text;
    const OrvelInfo::State after = object->getState();
    EXPECT_EQ(after.batteryLevel, before.batteryLevel);
    EXPECT_EQ(after.playbackKind, before.playbackKind);
    EXPECT_EQ(after.allOk, before.allOk);
    EXPECT_EQ(object->getVersionIndex(), 17);
    EXPECT_EQ(object->getTypeCode(), type);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_notified, notified);
    EXPECT_EQ(linesAboveDebug(), linesBefore);

    // The collection filters it out, but handed over, a packet of an
    // unreadable address is refused with its own line.
    EXPECT_FALSE(object->parsePing("xx" + good.substr(2), endpointOf(*sim)));
    EXPECT_EQ(loggedCount("Ping packet has unknown hardware address 'xx:"), 1);
}

TEST_F(OrvelOverUdp, ChangesNotifyWithHysteresisAndFollowTheSource) {
    auto [sim, object] = add(21);
    model(*sim, [](OrvelBandModel& m) { m.fields[0] = 50; });
    connect(*sim, *object);
    ASSERT_TRUE(waitUntil([&] { return m_notified >= 1; }));
    ASSERT_TRUE(waitForIdleDispatcher()) << "the connection's notifications are not all delivered";
    const int base = m_notified;

    model(*sim, [](OrvelBandModel& m) { m.fields[0] = 51; });
    packet(*sim, *object);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_notified, base) << "one percent is no news";
    EXPECT_EQ(object->getState().batteryLevel, 51u);
    model(*sim, [](OrvelBandModel& m) { m.fields[0] = 53; });
    packet(*sim, *object);
    EXPECT_TRUE(waitUntil([&] { return m_notified == base + 1; }));
    EXPECT_EQ(object->getState().notifiedBatteryLevel, 53u);

    // Out-of-range values are replaced, never refused.
    model(*sim, [](OrvelBandModel& m) {
        m.fields[8] = 20;
        m.fields[12] = 0x1000000;
        m.fields[13] = 70000;
    });
    packet(*sim, *object);
    const OrvelInfo::State replaced = object->getState();  // zarno, active zone address, alarm order
    EXPECT_EQ(std::make_tuple(replaced.zarnoState, replaced.activeZoneAddress, replaced.activeAlarmOrder),
              std::make_tuple(16u, 0xFFFFFFu, 0u));

    // The same packet from another socket: commands follow it there.
    auto [other, unused] = add(21);
    object->parsePing(statePacket(*sim), endpointOf(*other));
    EXPECT_EQ(object->getIp(), endpointOf(*other));
    other->clearReceived();
    object->resetCache();
    EXPECT_NO_THROW(object->getVolume());
    EXPECT_EQ(requests(*other), Strings{"get vol"});
}

// Packets of one loudspeaker handled on several threads at once: one
// connection, one check after it.
TEST_F(OrvelOverUdp, ConcurrentPacketsConnectOnce) {
    auto [sim, object] = add(21);
    const std::string text = statePacket(*sim);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int n = 0; n < 20; ++n) object->parsePing(text, endpointOf(*sim));
        });
    go = true;
    for (auto& t : threads) t.join();
    ASSERT_TRUE(waitUntil([&] { return object->answered(); }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(loggedCount("Устройство подключено"), 1);
    EXPECT_EQ(loggedCount("check i/o for device ip"), 1);
    EXPECT_EQ(requests(*sim), Strings{"get vol"});
}

TEST_F(OrvelOverUdp, PlaybackTypeRules) {
    auto [sim, object] = add(21);
    object->setPlaybackType(playback::kMicrophone);
    EXPECT_EQ(object->getPlaybackType(), playback::kNone) << "offline: reset";
    connect(*sim, *object);

    object->setPlaybackType(playback::kMicrophone);
    object->setPlaybackType(playback::kVoiceLowPriority);
    EXPECT_EQ(object->getPlaybackType(), playback::kMicrophone) << "the operator's voice stays";
    object->setPlaybackType(playback::kAlarm);
    object->setPlaybackType(playback::kVoiceHighPriority);
    EXPECT_EQ(object->getPlaybackType(), playback::kAlarm);
    object->setPlaybackType(playback::kSine);
    object->setPlaybackType(playback::kNone);
    EXPECT_EQ(object->getPlaybackType(), playback::kSine) << "the loudspeaker's own playback stays";
    EXPECT_EQ(object->getPlaybackTypeText(), L"sine");
    object->resetPlaybackType();
    EXPECT_EQ(object->getPlaybackType(), playback::kNone);

    // The audio memory's reports, each ending on the common channel.
    object->setPlaybackTypeCallback(device::memory::Playing::ScenarioServer);
    EXPECT_EQ(object->getPlaybackType(), playback::kScenarioServer);
    object->setPlaybackTypeCallback(device::memory::Playing::Stopped);
    EXPECT_EQ(object->getPlaybackType(), playback::kNone);
    object->setPlaybackTypeCallback(device::memory::Playing::Scenario);
    object->setPlaybackTypeCallback(device::memory::Playing::Stopped);
    EXPECT_EQ(object->getPlaybackType(), playback::kScenario) << "a scenario of its own isn't stopped so";
    EXPECT_EQ(requests(*sim), Strings{"set ch 0"}) << "then the channel is known";
}

TEST_F(OrvelOverUdp, IdleLoudspeakerClearsAMemoryPlaybackThatStopped) {
    auto [sim, object] = add(21);
    connect(*sim, *object);
    object->setPlaybackTypeForce(playback::kFragment);
    model(*sim, [](OrvelBandModel& m) { m.fields[0] = 90; });  // a change with the idle state
    packet(*sim, *object);
    EXPECT_TRUE(waitUntil([&] { return m_memories[object.get()]->asked >= 1; })) << "the mismatch is checked";
    EXPECT_TRUE(waitUntil([&] { return object->getPlaybackType() == playback::kNone; }));
    EXPECT_EQ(loggedCount("Mismatch playback statuses"), 1);

    // An analog input that reports a broken scenario.
    model(*sim, [](OrvelBandModel& m) { m.fields[9] = 1; });
    packet(*sim, *object);
    EXPECT_EQ(object->getPlaybackType(), playback::kAinScenarioBroken);
    EXPECT_FALSE(object->getState().noError);
    model(*sim, [](OrvelBandModel& m) { m.fields[9] = 0; });
    packet(*sim, *object);
    EXPECT_EQ(object->getPlaybackType(), playback::kNone);
}

TEST_F(OrvelOverUdp, FirmwareImagesThatSuit) {
    auto [sim, object] = add(21);
    EXPECT_FALSE(object->isFirmwareSuitable(nullptr));
    EXPECT_TRUE(object->isFirmwareSuitable(imageOf(device::kTypeOrvel610)));
    EXPECT_TRUE(object->isFirmwareSuitable(imageOf(device::kTypeOrvel610Lc)));
    EXPECT_FALSE(object->isFirmwareSuitable(imageOf(device::kTypeOrvel510)));
    EXPECT_EQ(device_test::notificationOf<exception::UserResponse>(
                  [&] { object->isFirmwareSuitable(imageOf(device::kTypeOrvel610Pss)); }),
              L"wrongPower")
        << "the power module needs power";
    packet(*sim, *object);
    EXPECT_TRUE(object->isFirmwareSuitable(imageOf(device::kTypeOrvel610Pss)));
}

TEST_F(OrvelOverUdp, ParametersAreSentOnlyWhereTheKeyExists) {
    auto [sim, object] = add(18);
    connect(*sim, *object);
    const std::uint64_t lan = device::kMaskLanFamily;

    EXPECT_FALSE(object->setParameter<std::string>("ip", "10.0.0.1", "10.0.0.1", true, 1, 21, 0)) << "unchanged";
    EXPECT_TRUE(object->setParameter<std::string>("ip", "10.0.0.1", "10.0.0.2", true, 1, 21, 0));
    EXPECT_FALSE(object->setParameter<bool>("dhcp", false, true, false, 1, 21, 0));
    EXPECT_FALSE(object->setParameter<bool>("zarnotest", false, true, true, 4, 17, 0)) << "index 18: skipped";
    EXPECT_FALSE(object->setParameter<bool>("zarnoReserve", false, true, true, 18, 21, lan))
        << "an Orvel-610 lacks the Lan family's keys";
    EXPECT_FALSE(object->setParameter<std::uint8_t>("AddrZarno", 1, 200, false, 1, 21, 0));
    EXPECT_FALSE(object->setParameter<std::int16_t>("gain", 0, -6, true, 1, 21, 0)) << "never a restart";
    EXPECT_TRUE(object->setParameter<int>("ch0Port", 11991, 11995, false, 1, 21, 0)) << "ports always restart";
    EXPECT_FALSE(object->setParameter<std::uint32_t>("igmpReport", 0, 60, false, 18, 21, 0));
    EXPECT_EQ(requests(*sim), (Strings{"set ip 10.0.0.2", "set dhcp on", "set AddrZarno 200", "set gain -6",
                                       "set ch0Port 11995", "set igmpReport 60"}));
    EXPECT_EQ(loggedCount("Skip a param 'zarnotest'"), 1);
    EXPECT_EQ(loggedCount("Skip a param 'zarnoReserve'"), 1);

    model(*sim, [](OrvelBandModel& m) { m.unknownKeys.insert("mask"); });
    EXPECT_THROW(object->setParameter<std::string>("mask", "", "255.0.0.0", false, 1, 21, 0),
                 exception::UnexpectedResponseOfDevice);
}

// The Orvel-510's memory doesn't show in its packets: the object asks the
// memory, and the memory's reports move the playback-type code.
TEST_F(OrvelOverUdp, TheAudioMemoryOfAnOrvel510DrivesItsPlayback) {
    auto [sim, object] = add(5, false, false);
    auto store = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout510, 256 * 1024);
    store->plant(memory_test::plantedImage(device::memory::kLayout510, 2, 1000));
    sim->withModel<OrvelBandModel>([&](OrvelBandModel& m) {
        device::sim::AudioMemoryStore::install(store, m);
        return 0;
    });
    EXPECT_THROW(object->setVolume(30), exception::Offline);
    connect(*sim, *object);

    store->setState("scenario 5");
    EXPECT_TRUE(object->hasInternalPlaying());
    EXPECT_EQ(object->getPlaybackType(), playback::kScenarioServer) << "the memory plays: the code follows";
    EXPECT_FALSE(object->setVolume(30));
    EXPECT_FALSE(object->switchChannel(1));

    object->getAudioControl(false, true)->stop();
    EXPECT_EQ(object->getPlaybackType(), playback::kNone);
    EXPECT_FALSE(object->hasInternalPlaying());
    EXPECT_TRUE(object->setVolume(30));
    auto sent = requests(*sim);
    sent.erase(std::remove_if(sent.begin(), sent.end(),
                              [](const std::string& r) { return r.rfind("mem ", 0) == 0 && r != "mem stop"; }),
               sent.end());
    EXPECT_EQ(sent, (Strings{"mem stop", "set ch 0", "set vol 2A:2A"})) << "60 - trunc(30 * 0.6)";
}
