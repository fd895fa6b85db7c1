// ctest-labels: net
// The loudspeaker's requests without waiting (channel, volume, the volume
// read, the Orvel-510's memory playback) over real UDP against simulated
// loudspeakers: how each ends, what the caches keep then, the late reply's
// second call and the busy device asked again; and the caches of the waiting
// forms after a reply that was lost.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/text.h"
#include "device/memory/memory_image.h"
#include "device/models/version_tables.h"
#include "device/reply_times.h"
#include "tests/device/models/speaker_fixture.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/fault_switches.h"

using namespace std::chrono_literals;
using device::RequestOutcome;
using device::sim::OrvelBandModel;
using device::sim::SimulatedDevice;
using device_test::waitUntil;
namespace playback = device::playback;
using Strings = std::vector<std::string>;

namespace device {
void PrintTo(const VolumeLevel& level, std::ostream* out) { *out << level.text(); }
}  // namespace device

namespace {

/// One call of a `done`: the outcome, the thread it ran on, the value handed with it.
struct Report {
    RequestOutcome outcome;
    std::thread::id thread;
    int value = 0;
};

/// The calls of the `done`s a test hands out, in the order they came.
class Reports : public device_test::LockedList<Report> {
public:
    /// A `done` of the operation's signature: the outcome and a value, if any.
    template <class... Value>
    std::function<void(const RequestOutcome&, Value...)> done() const {
        return [add = adder()](const RequestOutcome& outcome, Value... value) {
            add({outcome, std::this_thread::get_id(), static_cast<int>(value)...});
        };
    }
    /// The first call, once it came.
    Report first(std::chrono::milliseconds limit = 3000ms) const {
        EXPECT_TRUE(waitUntil([&] { return size() >= 1; }, limit)) << "done was not called";
        return size() >= 1 ? items().front() : Report{};
    }
};

/// The first report of the `done` that `start` hands to an operation.
Report one(const std::function<void(Reports&)>& start) {
    Reports reports;
    start(reports);
    return reports.first();
}

/// A `done` of the level read, the level's percent as the value (-1: none).
std::function<void(const RequestOutcome&, std::optional<device::VolumeLevel>)> levelDone(const Reports& reports) {
    return [add = reports.done<int>()](const RequestOutcome& outcome, std::optional<device::VolumeLevel> level) {
        add(outcome, level ? static_cast<int>(level->percent()) : -1);
    };
}

/// The level an Orvel-610 (index 18), or another generation, sends a percent as.
device::VolumeLevel levelOf(std::uint32_t percent, int index = 18) {
    return *device::VolumeLevel::ofPercent(index, percent);
}

/// "kind" or "kind (late)", for readable comparisons.
std::string kindOf(const Report& report) {
    static const char* const kNames[] = {"done", "refused", "failed", "silent"};
    return std::string(kNames[report.outcome.kind]) + (report.outcome.late ? " (late)" : "");
}

}  // namespace

class OrvelAsync : public device_test::UdpFixture {
protected:
    struct Speaker {
        SimulatedDevice* sim = nullptr;
        boost::shared_ptr<TestOrvel> object;
    };

    void releaseDevices() override { m_objects.clear(); }

    /// A simulated loudspeaker of the index, dressed before it starts, and
    /// its object after its first state packet and the answered check that
    /// follows it; the request log then starts empty.
    Speaker add(int index, const std::function<void(OrvelBandModel&)>& dress = {}) {
        const unsigned n = static_cast<unsigned>(m_objects.size()) + 1;
        const std::string hardware = device::sim::Simulator::hardwareAddress(n);
        auto model = std::make_unique<OrvelBandModel>(hardware, index);
        if (dress) dress(*model);
        Speaker speaker;
        speaker.sim = &m_simulator.add("127.0.0." + std::to_string(1 + n), 0, std::move(model));
        speaker.object = TestOrvel::make(hardware, device_test::endpointOf(*speaker.sim), m_transport, nullptr,
                                         index <= 8 ? device::kTypeOrvel510 : device::kTypeOrvel610, n);
        m_objects.push_back(speaker.object);
        const int checks = loggedCount("check i/o for device ip");
        const std::string packet =
            speaker.sim->withModel<OrvelBandModel>([](OrvelBandModel& m) { return m.statePacket(); });
        EXPECT_TRUE(speaker.object->parsePing(packet, device_test::endpointOf(*speaker.sim)));
        EXPECT_TRUE(waitUntil([&] { return loggedCount("check i/o for device ip") > checks; }))
            << "the check after connection";
        EXPECT_TRUE(speaker.object->isOnlineAndAnswered());
        speaker.sim->clearReceived();
        return speaker;
    }

    template <class F>
    static void model(SimulatedDevice& sim, F change) {
        sim.withModel<OrvelBandModel>([&](OrvelBandModel& m) {
            change(m);
            return 0;
        });
    }
    static unsigned channelOf(SimulatedDevice& sim) {
        return sim.withModel<OrvelBandModel>([](OrvelBandModel& m) { return m.channel; });
    }
    static std::string volumeOf(SimulatedDevice& sim) {
        return sim.withModel<OrvelBandModel>([](OrvelBandModel& m) { return m.volume; });
    }
    static Strings requests(const SimulatedDevice& sim) { return device_test::requestsOf(sim, true); }

    /// Lines the operator would be shown one by one (the async forms write none).
    int operatorLines() {
        return loggedCount("", "IMPOR") + loggedCount("", "NOTICE") + loggedCount("", "WARN") +
               loggedCount("", "ERROR");
    }

    std::vector<boost::shared_ptr<TestOrvel>> m_objects;
};

TEST_F(OrvelAsync, AnOrvel610IsSwitchedAndSetWithoutWaiting) {
    auto [sim, speaker] = add(18);
    const int shown = operatorLines();

    Report report = one([&](Reports& r) { speaker->switchChannelAsync(1, r.done()); });
    EXPECT_EQ(kindOf(report), "done");
    EXPECT_TRUE(report.outcome.cause.empty());
    EXPECT_NE(report.thread, std::this_thread::get_id()) << "on the transport's completer";
    EXPECT_EQ(channelOf(*sim), 1u);
    EXPECT_EQ(speaker->getChannel(), 1) << "cached";
    EXPECT_EQ(speaker->getPlaybackType(), playback::kVoiceHighPriority) << "as switchChannel sets it";
    EXPECT_EQ(kindOf(one([&](Reports& r) { speaker->switchChannelAsync(1, r.done()); })), "done");

    // The volume: raised, then muted (the level sent is the volume kept; the
    // percent is what enableVolume restores).
    EXPECT_EQ(kindOf(one([&](Reports& r) { speaker->setVolumeLevelAsync(levelOf(40), true, r.done()); })), "done");
    EXPECT_EQ(speaker->volume(), 40);
    EXPECT_EQ(kindOf(one([&](Reports& r) { speaker->setVolumeLevelAsync(levelOf(30), false, r.done()); })), "done");
    EXPECT_EQ(speaker->volume(), 0);
    EXPECT_FALSE(speaker->isVolumeEnabled());
    EXPECT_EQ(speaker->getVolumeBeforeMute(), 30);
    EXPECT_TRUE(speaker->enableVolume(true));
    EXPECT_EQ(volumeOf(*sim), "-21") << "30 % restored";

    report = one([&](Reports& r) { speaker->readVolumeLevelAsync(levelDone(r)); });
    EXPECT_EQ(kindOf(report), "done");
    EXPECT_EQ(report.value, 30);

    // Its own playback shows in its packets: answered at once, nothing sent.
    report = one([&](Reports& r) { speaker->internalPlayingAsync(r.done<bool>()); });
    EXPECT_EQ(report.thread, std::this_thread::get_id()) << "at once";
    EXPECT_EQ(kindOf(report), "done");
    EXPECT_EQ(report.value, 0);

    EXPECT_EQ(requests(*sim),
              (Strings{"set ch 1", "set ch 1", "set vol -18", "set vol -96", "set vol -21", "get vol"}))
        << "nothing skipped for what the caches hold";
    EXPECT_EQ(operatorLines(), shown);
}

TEST_F(OrvelAsync, RefusalsAndFailuresSayWhyAndKeepTheCachesRight) {
    auto [sim, speaker] = add(18);
    const int shown = operatorLines();

    // Refused or failed before anything is sent, on the calling thread.
    ASSERT_TRUE(speaker->switchChannel(device::CHANNEL_REPEATER));
    sim->clearReceived();
    Report report = one([&](Reports& r) { speaker->switchChannelAsync(device::CHANNEL_DISCOVERY, r.done()); });
    EXPECT_EQ(kindOf(report), "refused") << "the repeater's channel is kept";
    EXPECT_FALSE(report.outcome.cause.empty());
    EXPECT_EQ(report.thread, std::this_thread::get_id());
    report = one([&](Reports& r) { speaker->switchChannelAsync(device::CHANNEL_UNKNOWN, r.done()); });
    EXPECT_EQ(kindOf(report), "failed");
    report = one([&](Reports& r) { speaker->setVolumeLevelAsync(levelOf(40, 8), true, r.done()); });
    EXPECT_EQ(kindOf(report), "failed") << "the Orvel-510's scale";
    EXPECT_TRUE(requests(*sim).empty());

    // The loudspeaker defers the switch: refused, and the channel is asked next time.
    model(*sim, [](OrvelBandModel& m) { m.channelReply = "Switching of the channel is deferred"; });
    report = one([&](Reports& r) { speaker->switchChannelAsync(6, r.done()); });
    EXPECT_EQ(kindOf(report), "refused");
    EXPECT_EQ(speaker->getChannel(), device::CHANNEL_REPEATER) << "asked: the loudspeaker still says its old one";

    // An error reply: failed, the reply told, the channel kept.
    model(*sim, [](OrvelBandModel& m) { m.channelReply = "ERR channel is locked"; });
    report = one([&](Reports& r) { speaker->switchChannelAsync(1, r.done()); });
    EXPECT_EQ(kindOf(report), "failed");
    EXPECT_EQ(report.outcome.cause, L"Получен неожиданный ответ устройства / ERR channel is locked");
    model(*sim, [](OrvelBandModel& m) { m.channelReply.clear(); });

    // A volume reply that can't be read: failed, the volume unknown.
    model(*sim, [](OrvelBandModel& m) { m.volume = "x-15"; });
    report = one([&](Reports& r) { speaker->readVolumeLevelAsync(levelDone(r)); });
    EXPECT_EQ(kindOf(report), "failed");
    EXPECT_EQ(report.value, -1) << "no level";
    EXPECT_EQ(speaker->volume(), device::DeviceBase::kUnknownVolume);

    EXPECT_EQ(requests(*sim), (Strings{"set ch 6", "get ch", "set ch 1", "get vol"}));

    // Silent: given up after two resend times, the channel and volume no
    // longer known (either may have been taken).
    sim->setReplyPolicy({0, true});
    report = one([&](Reports& r) { speaker->switchChannelAsync(1, r.done()); });
    EXPECT_EQ(kindOf(report), "silent");
    EXPECT_EQ(report.outcome.cause, device::kNoAnswerCause);
    EXPECT_FALSE(speaker->answered());
    sim->setReplyPolicy({});
    sim->clearReceived();
    EXPECT_EQ(speaker->getChannel(), device::CHANNEL_REPEATER);
    EXPECT_EQ(requests(*sim), Strings{"get ch"}) << "the channel was unknown";
    EXPECT_EQ(operatorLines(), shown) << "the async forms tell the operator nothing themselves";
}

TEST_F(OrvelAsync, AnOrvel510IsAskedItsMemoryStateWithoutMakingTheMemory) {
    auto store = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout510, 256 * 1024);
    auto [sim, speaker] = add(5, [&](OrvelBandModel& m) { device::sim::AudioMemoryStore::install(store, m); });
    const int shown = operatorLines();
    const auto playing = [&] { return one([&](Reports& r) { speaker->internalPlayingAsync(r.done<bool>()); }); };

    Report report = playing();
    EXPECT_EQ(kindOf(report), "done");
    EXPECT_EQ(report.value, 0);
    store->setState("spinning");
    report = playing();
    EXPECT_EQ(kindOf(report), "failed") << "a state that can't be read";
    EXPECT_EQ(report.value, 0);
    store->setState("scenario 5");
    report = playing();
    EXPECT_EQ(kindOf(report), "done");
    EXPECT_EQ(report.value, 1);
    EXPECT_EQ(speaker->getPlaybackType(), playback::kScenarioServer) << "corrected as hasInternalPlaying does";
    report = playing();
    EXPECT_EQ(report.value, 1) << "told by the code now";
    EXPECT_EQ(requests(*sim), (Strings{"mem state", "mem state", "mem state"})) << "no \"mem info\": no memory made";

    // Its own volume scale; and channels above 1 need index 2.
    EXPECT_EQ(kindOf(one([&](Reports& r) { speaker->setVolumeLevelAsync(levelOf(40, 5), true, r.done()); })),
              "done");
    EXPECT_EQ(volumeOf(*sim), "24:24");

    auto [oldSim, oldest] = add(1);
    report = one([&](Reports& r) { oldest->switchChannelAsync(6, r.done()); });
    EXPECT_EQ(kindOf(report), "failed");
    EXPECT_EQ(report.outcome.cause, L"не поддерживается версией устройства");
    // Without an audio memory "mem state" is refused: nothing plays.
    report = one([&](Reports& r) { oldest->internalPlayingAsync(r.done<bool>()); });
    EXPECT_EQ(kindOf(report), "done");
    EXPECT_EQ(report.value, 0);
    EXPECT_EQ(requests(*oldSim), Strings{"mem state"});
    EXPECT_EQ(operatorLines(), shown);
}

// A reply that comes after the give-up reports the request again, late, and
// the caches follow it: the loudspeaker did switch.
TEST_F(OrvelAsync, ALateReplyCallsDoneAgainAndTheCachesFollowIt) {
    auto [sim, speaker] = add(18);
    sim->setReplyPolicy({0, false, 2500ms});
    Reports reports;
    speaker->switchChannelAsync(1, reports.done());
    ASSERT_TRUE(waitUntil([&] { return reports.size() == 2; }, 5000ms));
    const auto calls = reports.items();
    EXPECT_EQ(kindOf(calls[0]), "silent");
    EXPECT_EQ(kindOf(calls[1]), "done (late)");
    EXPECT_TRUE(calls[1].outcome.cause.empty());
    EXPECT_EQ(calls[1].thread, calls[0].thread) << "both on the completer";
    EXPECT_TRUE(speaker->answered()) << "the late reply is contact";
    EXPECT_EQ(speaker->getPlaybackType(), playback::kVoiceHighPriority);
    sim->setReplyPolicy({});
    sim->clearReceived();
    EXPECT_EQ(speaker->getChannel(), 1);
    EXPECT_TRUE(requests(*sim).empty()) << "the channel is known again";
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(reports.size(), 2u) << "the reply to the resend reports nothing more";
}

TEST_F(OrvelAsync, ALateVolumeReplyIsTakenWithItsLevel) {
    auto [sim, speaker] = add(18);
    sim->setReplyPolicy({0, false, 2500ms});
    Reports reports;
    speaker->setVolumeLevelAsync(device::VolumeLevel::decibels(-40), false, reports.done());
    ASSERT_TRUE(waitUntil([&] { return reports.size() == 2; }, 5000ms));
    EXPECT_EQ(kindOf(reports.items()[0]), "silent");
    EXPECT_EQ(kindOf(reports.items()[1]), "done (late)");
    EXPECT_EQ(speaker->getCachedVolumeLevel(), device::VolumeLevel::muted(18)) << "the level it took";
    EXPECT_EQ(speaker->volume(), 0);
    EXPECT_EQ(speaker->getVolumeLevelBeforeMute(), device::VolumeLevel::decibels(-40));
    EXPECT_FALSE(speaker->isVolumeEnabled());
}

TEST_F(OrvelAsync, ABusyLoudspeakerIsAskedAgain) {
    auto [sim, speaker] = add(18);
    device::sim::FaultSettings faults;
    faults.busy = {250ms, 0ms, ""};  // busy from now on for 250 ms
    sim->setFaults(std::make_shared<device::sim::FaultSwitches>(faults));
    EXPECT_EQ(kindOf(one([&](Reports& r) { speaker->switchChannelAsync(6, r.done()); })), "done");
    const auto asked = requests(*sim).size();
    EXPECT_GE(asked, 3u);
    EXPECT_LE(asked, 4u) << "every 100 ms while busy";
    EXPECT_EQ(channelOf(*sim), 6u);

    // Busy beyond the retries: failed with the reply.
    faults.busy = {3000ms, 0ms, ""};
    sim->setFaults(std::make_shared<device::sim::FaultSwitches>(faults));
    sim->clearReceived();
    Reports stuck;
    speaker->setVolumeLevelAsync(levelOf(40), true, stuck.done());
    const Report report = stuck.first(5000ms);
    EXPECT_EQ(kindOf(report), "failed");
    EXPECT_NE(report.outcome.cause.find(base::toWide(device::DeviceBase::kBusyReply)), std::wstring::npos);
    EXPECT_EQ(requests(*sim).size(), 1u + device::DeviceBase::kBusyRetries);
}

// A switch or volume whose reply was lost may have been taken: the caches
// forgot it, so a later request for what they held is sent, not skipped
// (a loudspeaker left on the notice channel was never switched back).
TEST_F(OrvelAsync, AfterALostReplyTheNextSwitchAndVolumeAreSent) {
    auto [channelSim, switching] = add(18);
    auto [volumeSim, setting] = add(18);
    ASSERT_TRUE(switching->switchChannel(device::CHANNEL_DISCOVERY));
    ASSERT_EQ(setting->volume(), 50);
    device::sim::ReplyPolicy lost;
    lost.copies = 0;  // taken, never answered
    channelSim->setReplyPolicy(lost);
    volumeSim->setReplyPolicy(lost);

    std::thread other([&] { EXPECT_FALSE(setting->setVolume(40)); });
    EXPECT_THROW(switching->switchChannel(1), exception::Offline);
    other.join();
    EXPECT_EQ(channelOf(*channelSim), 1u) << "the loudspeaker took it";
    EXPECT_EQ(volumeOf(*volumeSim), "-18");

    channelSim->setReplyPolicy({});
    volumeSim->setReplyPolicy({});
    std::thread back([&] { EXPECT_TRUE(setting->setVolume(50)); });
    EXPECT_TRUE(switching->switchChannel(device::CHANNEL_DISCOVERY));
    back.join();
    EXPECT_EQ(channelOf(*channelSim), 0u) << "switched back";
    EXPECT_EQ(volumeOf(*volumeSim), "-15");
    EXPECT_EQ(requests(*channelSim), (Strings{"set ch 0", "set ch 1", "set ch 1", "set ch 0"}));
}

// The field fault: a volume read went through the percent, so a notice gave
// back -30 dB for -40 and 1A:1A for 19:19 (and 1B:1B the next time). The
// level read is kept beside the percent and written back as it was.
TEST_F(OrvelAsync, TheLevelReadIsWrittenBackExactly) {
    auto [sim, speaker] = add(18);
    model(*sim, [](OrvelBandModel& m) { m.volume = "-40"; });
    Reports reports;
    speaker->readVolumeLevelAsync(levelDone(reports));
    ASSERT_EQ(kindOf(reports.first()), "done");
    std::optional<device::VolumeLevel> own = speaker->getCachedVolumeLevel();
    ASSERT_TRUE(own);
    EXPECT_EQ(own->text(), "-40");
    EXPECT_EQ(speaker->volume(), 1) << "the percent the window shows for it";

    // A notice's volume, then the own one given back.
    EXPECT_EQ(kindOf(one([&](Reports& r) { speaker->setVolumeLevelAsync(levelOf(60), true, r.done()); })), "done");
    EXPECT_EQ(speaker->getCachedVolumeLevel()->text(), "-12") << "a percent keeps the level it is sent as";
    EXPECT_EQ(speaker->volume(), 60);
    EXPECT_EQ(kindOf(one([&](Reports& r) { speaker->setVolumeLevelAsync(*own, true, r.done()); })), "done");
    EXPECT_EQ(volumeOf(*sim), "-40");
    EXPECT_EQ(speaker->getCachedVolumeLevel(), own);
    EXPECT_EQ(speaker->volume(), 1);

    // Muted with the level to come back to: the operator's "on" restores it exactly.
    EXPECT_EQ(kindOf(one([&](Reports& r) {
                  speaker->setVolumeLevelAsync(device::VolumeLevel::decibels(-23), false, r.done());
              })),
              "done");
    EXPECT_EQ(volumeOf(*sim), "-96");
    EXPECT_FALSE(speaker->isVolumeEnabled());
    EXPECT_EQ(speaker->getVolumeLevelBeforeMute(), device::VolumeLevel::decibels(-23));
    EXPECT_EQ(speaker->getVolumeBeforeMute(), 23);
    EXPECT_EQ(speaker->getCachedVolumeLevel(), device::VolumeLevel::muted(18));
    EXPECT_TRUE(speaker->enableVolume(true));
    EXPECT_EQ(volumeOf(*sim), "-23") << "not -24, the level of 23 %";

    // An Orvel-510 read and given back three times stays where it was.
    auto [oldSim, old] = add(5);
    model(*oldSim, [](OrvelBandModel& m) { m.volume = "19:19"; });
    for (int round = 0; round < 3; ++round) {
        Reports read;
        old->readVolumeLevelAsync(levelDone(read));
        ASSERT_EQ(kindOf(read.first()), "done");
        const std::optional<device::VolumeLevel> level = old->getCachedVolumeLevel();
        ASSERT_TRUE(level);
        EXPECT_EQ(kindOf(one([&](Reports& r) { old->setVolumeLevelAsync(*level, true, r.done()); })), "done");
    }
    EXPECT_EQ(volumeOf(*oldSim), "19:19");
    EXPECT_EQ(old->volume(), 58);

    // A level of the other scale is refused before anything is sent.
    oldSim->clearReceived();
    const Report report = one([&](Reports& r) { old->setVolumeLevelAsync(*own, true, r.done()); });
    EXPECT_EQ(kindOf(report), "failed");
    EXPECT_EQ(report.thread, std::this_thread::get_id());
    EXPECT_TRUE(requests(*oldSim).empty());
}

// The percent and the level are set and forgotten together, by the waiting
// forms as by the others: after a lost reply, an unreadable read and the
// offline transition both are unknown.
TEST_F(OrvelAsync, TheLevelAndThePercentAreKeptAndForgottenTogether) {
    auto [sim, speaker] = add(18);
    const auto same = [&] {
        const std::optional<device::VolumeLevel> level = speaker->getCachedVolumeLevel();
        if (!level) return speaker->volume() == device::DeviceBase::kUnknownVolume;
        return speaker->volume() == static_cast<int>(level->percent());
    };
    EXPECT_EQ(speaker->getCachedVolumeLevel(), device::VolumeLevel::decibels(-15)) << "read by the check";

    model(*sim, [](OrvelBandModel& m) { m.volume = "-4"; });
    EXPECT_EQ(speaker->getVolume(), 86);
    EXPECT_EQ(speaker->getCachedVolumeLevel(), device::VolumeLevel::decibels(-4));
    EXPECT_TRUE(speaker->enableVolume(false));
    EXPECT_EQ(speaker->getVolumeLevelBeforeMute(), device::VolumeLevel::decibels(-4));
    EXPECT_TRUE(speaker->enableVolume(true));
    EXPECT_EQ(volumeOf(*sim), "-4") << "not -5, the level of 86 %";
    EXPECT_TRUE(speaker->setVolume(40));
    EXPECT_EQ(speaker->getCachedVolumeLevel(), device::VolumeLevel::decibels(-18));
    EXPECT_TRUE(same());

    // A reply that can't be read, waiting and not.
    model(*sim, [](OrvelBandModel& m) { m.volume = "loud"; });
    EXPECT_THROW(speaker->getVolume(), exception::DeviceReason);
    EXPECT_FALSE(speaker->getCachedVolumeLevel());
    EXPECT_TRUE(same());
    model(*sim, [](OrvelBandModel& m) { m.volume = "-15"; });
    EXPECT_EQ(speaker->getVolume(), 50);
    model(*sim, [](OrvelBandModel& m) { m.volume = "loud"; });
    Report report = one([&](Reports& r) { speaker->readVolumeLevelAsync(levelDone(r)); });
    EXPECT_EQ(kindOf(report), "failed");
    EXPECT_FALSE(speaker->getCachedVolumeLevel());
    EXPECT_TRUE(same());

    // A write whose reply was lost, waiting and not.
    model(*sim, [](OrvelBandModel& m) { m.volume = "-15"; });
    EXPECT_EQ(speaker->getVolume(), 50);
    device::sim::ReplyPolicy lost;
    lost.copies = 0;
    sim->setReplyPolicy(lost);
    EXPECT_FALSE(speaker->setVolume(40));
    EXPECT_FALSE(speaker->getCachedVolumeLevel());
    EXPECT_TRUE(same());
    sim->setReplyPolicy({});
    EXPECT_EQ(speaker->getVolume(), 40);
    sim->setReplyPolicy(lost);
    report = one([&](Reports& r) { speaker->setVolumeLevelAsync(device::VolumeLevel::decibels(-40), true, r.done()); });
    EXPECT_EQ(kindOf(report), "silent");
    EXPECT_FALSE(speaker->getCachedVolumeLevel());
    EXPECT_TRUE(same());
    sim->setReplyPolicy({});

    // Offline: both forgotten with the rest.
    EXPECT_EQ(speaker->getVolume(), 1);
    ASSERT_TRUE(speaker->getCachedVolumeLevel());
    speaker->shift = device::DeviceBase::kOnlineWindow + 1000000;
    speaker->checkOnline(false);
    EXPECT_FALSE(speaker->online());
    EXPECT_FALSE(speaker->getCachedVolumeLevel());
    EXPECT_TRUE(same());
}
