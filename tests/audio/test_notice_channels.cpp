// ctest-labels: net
// The alarm channel and the player channel together, as the program makes
// them (one ledger drives the loudspeakers for both), beside loudspeakers
// that answer late, stop answering or answer again: after any sequence of
// notices every loudspeaker ends on the common channel with its own volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include <boost/make_shared.hpp>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "audio/orvel_link.h"
#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/playlist.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "tests/audio/channel_fixture.h"
#include "tests/audio/player_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/thread_states.h"
#include "tools/stream_probe.h"

using namespace channel_test;
using namespace player_test;
using namespace stream_probe;
using Strings = std::vector<std::string>;
using frm::AlarmChannel;
using Speaker = boost::shared_ptr<device::OrvelInfo>;

namespace {

const std::string kGroup = "224.0.224.42";

int basePort() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::size_t h = std::hash<std::string>()(std::string(info->test_suite_name()) + info->name());
    return 18000 + static_cast<int>(h % 400) * 10;
}

class NoticeChannelsTest : public PlayerEnvironment {
protected:
    void SetUp() override {
        PlayerEnvironment::SetUp();
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "multicast.address", pref::Type::TypeString) = kGroup.c_str();
        }
        m_stream = std::make_unique<mp3streamf>();
        m_stream->set_stream_fmt(128);
        m_stream->set_stream_ttl(1);
        m_stream->set_address_interface("127.0.0.1", 9);
        m_speakers = std::make_unique<Speakers>();
        m_ledger = std::make_shared<frm::LoudspeakerLedger>(std::make_shared<frm::OrvelLink>());
        m_options.watcherPeriod = std::chrono::milliseconds(60000);
        const auto port = static_cast<std::uint16_t>(basePort() + 1);
        m_options.discoveryPort = [port](device::OrvelInfo&) { return port; };
        m_options.ledger = m_ledger;
        AlarmChannel::createInstance(&m_selection, &m_gui, *m_stream, m_options);
        frm::PlayerChannel::createInstance(&m_selection, &m_gui, std::chrono::milliseconds(20), m_ledger);
        longMessage = tone("long.mp3", 440, 8000);
    }
    void TearDown() override {
        AlarmChannel::destroyInstance();
        settle();
        frm::PlayerChannel::destroyInstance();
        m_ledger.reset();
        m_speakers.reset();
        m_stream.reset();
        PlayerEnvironment::TearDown();
    }

    /// Loudspeakers with volumes of their own (-6, -9, ... -27 dB: each
    /// reads back as the same percent), the first
    /// `late` of them answering `delay` late.
    std::vector<Speaker> speakers(std::size_t count, std::size_t late, std::chrono::milliseconds delay) {
        std::vector<Speaker> added;
        for (std::size_t i = 0; i < count; ++i) {
            const Speaker d = m_speakers->add();
            const std::string own = std::to_string(-6 - 3 * static_cast<int>(i % 8));
            m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { m.volume = own; });
            d->getVolume();  // what the object knows of it
            if (i < late) m_speakers->setReplyDelay(d, delay);
            m_selection.zones.insert(d);
            m_own[d] = own;
            added.push_back(d);
        }
        for (const auto& d : added) m_speakers->sim(d).clearReceived();
        return added;
    }
    /// The loudspeaker as the simulator has it: its channel and volume.
    std::pair<unsigned, std::string> state(const Speaker& d) {
        std::pair<unsigned, std::string> now;
        m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { now = {m.channel, m.volume}; });
        return now;
    }
    /// Every loudspeaker back on channel 0 with its own volume.
    ::testing::AssertionResult allBack(const std::vector<Speaker>& all, std::chrono::milliseconds limit = 10s) {
        const bool back = waitUntil(
            [&] {
                for (const auto& d : all)
                    if (state(d) != std::make_pair(0u, m_own[d])) return false;
                return true;
            },
            limit);
        if (back) return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure();
        for (const auto& d : all) {
            const auto now = state(d);
            failure << base::toUtf8(d->getTitle()) << ": channel " << now.first << ", volume " << now.second
                    << " (own " << m_own[d] << ") " << ::testing::PrintToString(m_speakers->requests(d)) << "\n";
        }
        return failure;
    }
    frm::DeviceSet set(const std::vector<Speaker>& all) { return frm::DeviceSet(all.begin(), all.end()); }
    bool launch(const std::vector<Speaker>& all) {
        return AlarmChannel::instance()->launch(AlarmChannel::kMessageList, true, set(all), longMessage, L"", L"",
                                                3, 100, L"test", AlarmChannel::Callback(), false);
    }
    void stop() { AlarmChannel::instance()->stop(AlarmChannel::Callback()); }
    /// A service message on the loudspeakers at 90 %.
    void playService(const std::vector<Speaker>& all) {
        auto playlist = boost::make_shared<Playlist>(L"service", false);
        playlist->add(L"a.mp3", file("a.mp3"));
        frm::PlayerChannel::instance()->play(playlist, set(all), 90);
    }
    std::wstring tone(const std::string& name, double freq, unsigned ms) {
        const std::string path = m_files.path() + "/" + name;
        EXPECT_TRUE(write_mp3(path, stepped_tone({freq}, ms, 44100, 1), 44100, 1));
        return base::fromUtf8(path);
    }
    std::uint16_t noticePort() const { return static_cast<std::uint16_t>(basePort() + 1 + 1); }
    /// The alarm channel with another deadline.
    void useDeadline(std::chrono::milliseconds deadline) {
        AlarmChannel::destroyInstance();
        m_options.deadline = deadline;
        AlarmChannel::createInstance(&m_selection, &m_gui, *m_stream, m_options);
    }
    /// When each loudspeaker received its first request that begins with
    /// `text`, in the order of `all`; none: no such request.
    std::vector<std::optional<std::chrono::steady_clock::time_point>> arrivals(const std::vector<Speaker>& all,
                                                                              const std::string& text) {
        std::vector<std::optional<std::chrono::steady_clock::time_point>> found;
        for (const auto& d : all) {
            found.emplace_back();
            for (const auto& datagram : m_speakers->sim(d).received())
                if (datagram.text.rfind(text, 0) == 0) {
                    found.back() = datagram.at;
                    break;
                }
        }
        return found;
    }
    /// The player channel with the program's pause.
    void usePauseOfTheProgram() {
        frm::PlayerChannel::destroyInstance();
        frm::PlayerChannel::createInstance(&m_selection, &m_gui, std::chrono::milliseconds(2800), m_ledger);
    }
    /// The quit as the main window's shutdown makes it, before the transport
    /// stops; how long it took.
    std::chrono::steady_clock::duration quit() {
        const auto begun = std::chrono::steady_clock::now();
        frm::PlayerChannel::instance()->beginExit();
        AlarmChannel::instance()->beginExit();
        AlarmChannel::instance()->giveBackBeforeExit(m_ledger->giveBackLimit());
        return std::chrono::steady_clock::now() - begun;
    }
    /// The requests that change a loudspeaker ("set ..."), of any of them,
    /// that arrived after `since`.
    Strings changesAfter(const std::vector<Speaker>& all, std::chrono::steady_clock::time_point since) {
        Strings found;
        for (const auto& d : all)
            for (const auto& datagram : m_speakers->sim(d).received())
                if (datagram.at > since && datagram.text.rfind("set", 0) == 0)
                    found.push_back(base::toUtf8(d->getTitle()) + ": " + datagram.text);
        return found;
    }

    testing_support::TempDir m_files{"notices"};
    std::unique_ptr<mp3streamf> m_stream;
    frm::AlarmChannelOptions m_options;
    std::unique_ptr<Speakers> m_speakers;
    std::shared_ptr<frm::LoudspeakerLedger> m_ledger;
    FakeSelection m_selection;
    FakeGui m_gui;
    std::map<Speaker, std::string> m_own;
    std::wstring longMessage;
};

}  // namespace

// A loudspeaker that answers later than the transport waits switched all the
// same: it is given back at the stop, and takes part in the next alarm once
// it answers on time again. Before, it was counted out of the notice, never
// switched back, and left out of every later alarm, deaf to the common
// broadcast.
TEST_F(NoticeChannelsTest, ALoudspeakerLateBeyondTheReplyTimeIsGivenBackAndTakesPartAgain) {
    const auto all = speakers(3, 1, 3000ms);
    const Speaker late = all[0];
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    EXPECT_TRUE(waitUntil([&] { return state(late).first == 1; }, 5s)) << "it did switch";
    stop();
    EXPECT_TRUE(allBack(all, 30s));

    m_speakers->setReplyDelay(late, 0ms);
    m_speakers->sim(late).clearReceived();
    ASSERT_TRUE(launch(all));
    // Once the requests of its late spell have drained: their second replies
    // may still come, up to 2.5 of its backed-off resend times late.
    EXPECT_TRUE(waitUntil([&] { return state(late).first == 1; }, 20s)) << "it takes part again";
    stop();
    EXPECT_TRUE(allBack(all));
}

// One whose reply comes after the reply time, yet early enough for the
// transport to take it as the late answer, switched: the operator is not
// told it was not. Before, every such alarm said so of all of them.
TEST_F(NoticeChannelsTest, ALoudspeakerThatSwitchedLateIsNotToldAsNotSwitched) {
    const auto all = speakers(3, 1, 2300ms);
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    EXPECT_TRUE(waitUntil([&] { return state(all[0]).first == 1; }, 5s));
    std::this_thread::sleep_for(1500ms);  // past the time late replies have
    EXPECT_EQ(logged(L"не переключены на канал оповещений"), 0);
    EXPECT_EQ(logged(L"Громкость оповещения не назначена"), 0);
    stop();
    EXPECT_TRUE(allBack(all, 30s));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(logged(L"не возвращены на общий канал"), 0);
    EXPECT_EQ(logged(L"Громкость громкоговорителей не возвращена"), 0);
}

// One that stops answering during a notice stays where the notice left it
// only until it answers again.
TEST_F(NoticeChannelsTest, ALoudspeakerSilentDuringANoticeIsGivenBackWhenItAnswersAgain) {
    const auto all = speakers(2, 0, 0ms);
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    device::sim::ReplyPolicy quiet;
    quiet.silent = true;
    m_speakers->sim(all[0]).setReplyPolicy(quiet);
    stop();
    EXPECT_TRUE(allBack({all[1]}));
    std::this_thread::sleep_for(2500ms);  // past the give-up
    EXPECT_EQ(state(all[0]).first, 1u);
    m_speakers->sim(all[0]).setReplyPolicy(device::sim::ReplyPolicy());
    EXPECT_TRUE(allBack(all, 40s)) << "given back once it answers";
}

// A service message on every loudspeaker, an alarm while its volumes still
// go out one late reply after another, the alarm's stop, the service
// message's stop: the alarm's volume stood for its whole length, and every
// loudspeaker ends with its own volume, never one a notice set.
TEST_F(NoticeChannelsTest, AServiceMessageThenAnAlarmLeaveEveryLoudspeakerAsItWas) {
    const auto all = speakers(6, 3, 400ms);
    playService(all);
    std::this_thread::sleep_for(200ms);  // its volumes on their way
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    std::this_thread::sleep_for(1500ms);
    for (const auto& d : all) EXPECT_EQ(state(d), std::make_pair(1u, std::string("0"))) << base::toUtf8(d->getTitle());
    stop();
    frm::PlayerChannel::instance()->stop();
    EXPECT_TRUE(allBack(all));
}

// An alarm launched while a service message's stop still gives the late
// loudspeakers their volumes back switches every loudspeaker. Its requests
// waited behind the restore's in the transport and were counted unanswered
// before they were even sent: one alarm of this kind switched 1 of 20.
TEST_F(NoticeChannelsTest, AnAlarmWhileAServiceStopRestoresSwitchesEveryLoudspeaker) {
    const auto all = speakers(8, 4, 800ms);
    playService(all);
    ASSERT_TRUE(waitFor([] { return frm::PlayerChannel::instance()->isPlaying(); }, 10000));
    frm::PlayerChannel::instance()->stop();
    std::this_thread::sleep_for(100ms);  // the stop's volumes on their way
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    for (const auto& d : all) EXPECT_EQ(state(d), std::make_pair(1u, std::string("0"))) << base::toUtf8(d->getTitle());
    stop();
    EXPECT_TRUE(allBack(all));
}

// The quit just after a service message's "Стоп", its stop job still in
// its pause: the volumes go back before the transport stops, and the job
// the dispatcher's shutdown cuts short holds the quit no longer. Before,
// every loudspeaker kept the service message's volume for good and the
// quit waited 30 s for a job that had ended.
TEST_F(NoticeChannelsTest, AQuitRightAfterAServiceStopGivesTheVolumesBack) {
    usePauseOfTheProgram();
    const auto all = speakers(6, 3, 400ms);
    playService(all);
    ASSERT_TRUE(waitFor([] { return frm::PlayerChannel::instance()->isPlaying(); }, 10000));
    frm::PlayerChannel::instance()->stop();
    std::this_thread::sleep_for(300ms);

    quit();
    EXPECT_TRUE(allBack(all, 0ms)) << "back when the transport may stop";
    base::ThreadDispatcher::instance()->shutdown();
    const auto begun = std::chrono::steady_clock::now();
    frm::PlayerChannel::destroyInstance();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 1s);
}

// The quit while a service message's play job is in its pause and an
// alarm on late loudspeakers is being given back (3 of 6, 800 ms late): every loudspeaker is back
// on channel 0 with its own volume when the quit lets the transport stop,
// and nothing reaches one afterwards. Before, the job's hold went out when
// its pause ended, after the quit's give-back: the message's loudspeakers
// kept its volume and the others stayed muted.
TEST_F(NoticeChannelsTest, AQuitDuringAServicePauseAndAnAlarmsGiveBackLeavesEveryLoudspeakerItsOwn) {
    usePauseOfTheProgram();
    const auto all = speakers(6, 3, 800ms);
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    stop();
    // On those already back; the late ones, still on their way back, are
    // muted by it.
    ASSERT_TRUE(allBack({all[4], all[5]}));
    std::this_thread::sleep_for(50ms);  // their objects have the replies
    playService({all[4], all[5]});
    ASSERT_TRUE(waitFor([&] { return logged(L"waiting stopping 2") > 0; }, 10000));

    EXPECT_LT(quit(), 3s);
    const auto quitEnd = std::chrono::steady_clock::now();
    EXPECT_TRUE(allBack(all, 0ms)) << "back when the transport may stop";
    std::this_thread::sleep_for(3500ms);  // past the pause
    EXPECT_TRUE(allBack(all, 0ms));
    EXPECT_EQ(changesAfter(all, quitEnd), Strings{});
    EXPECT_FALSE(frm::PlayerChannel::instance()->isPlaying());
}

// A launch the window handed over, still taking late loudspeakers when the
// quit comes, starts no notice: its alarm thread took every loudspeaker the
// quit had given back once more. One handed over after the quit never runs.
TEST_F(NoticeChannelsTest, AQuitWhileAHandedLaunchTakesItsLoudspeakersStartsNoNotice) {
    const auto all = speakers(4, 4, 800ms);
    GroupSniffer heard(kGroup, noticePort());
    std::atomic<int> ran{0};
    std::atomic<bool> launched{true};
    AlarmChannel::instance()->hand([&] {
        launched = launch(all);
        ++ran;
    });
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& d : all) {
            const Strings r = m_speakers->requests(d);
            if (std::find(r.begin(), r.end(), "set ch 1") == r.end()) return false;
        }
        return true;
    }));

    EXPECT_LT(quit(), 3s);
    const auto quitEnd = std::chrono::steady_clock::now();
    AlarmChannel::instance()->hand([&] { ++ran; });
    ASSERT_TRUE(waitUntil([&] { return ran.load() > 0; }, 10s));
    EXPECT_FALSE(launched.load());
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(ran.load(), 1) << "the request handed over after the quit ran";
    EXPECT_EQ(heard.count(), 0u);
    EXPECT_FALSE(AlarmChannel::instance()->isRunning());
    EXPECT_TRUE(allBack(all, 0ms));
    EXPECT_EQ(changesAfter(all, quitEnd), Strings{});
}

// The quit while a gong sounds alone: when the gong ends, its loudspeakers
// are not taken back onto the notice channel. Before, the gong's hold for
// the rest of the notice switched every one of them again after the quit.
TEST_F(NoticeChannelsTest, AQuitWhileAGongSoundsKeepsItsLoudspeakersGivenBack) {
    const auto all = speakers(3, 0, 0ms);
    const std::wstring gong = tone("gong.mp3", 660, 1000);
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(AlarmChannel::instance()->launch(AlarmChannel::kMessageList, true, set(all), L"", gong, L"", 3,
                                                 100, L"gong", AlarmChannel::Callback(), false));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));

    EXPECT_LT(quit(), 3s);
    const auto quitEnd = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return logged(L"end alarm thread") > 0; }, 10000)) << "the gong has ended";
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(allBack(all, 0ms));
    EXPECT_EQ(changesAfter(all, quitEnd), Strings{});
}

// A service message beside loudspeakers 400 ms late starts as its pause
// ends: the volumes go out in the pause's last reply time, while the stream
// is silent, and the late ones have answered both their steps (the read of
// their own volume, then the message's) by then. Before, they went out
// after the pause, and the message began one late reply after it.
TEST_F(NoticeChannelsTest, AServiceMessageStartsAsItsPauseEndsBesideLateLoudspeakers) {
    usePauseOfTheProgram();
    const auto all = speakers(8, 4, 400ms);
    const auto played = std::chrono::steady_clock::now();
    playService(all);
    ASSERT_TRUE(waitFor([] { return frm::PlayerChannel::instance()->isPlaying(); }, 10000));
    const auto started = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - played);
    EXPECT_LT(started.count(), 2800 + 400) << "ms from the play to the player's start";
    for (const auto& d : all) EXPECT_EQ(state(d), std::make_pair(0u, std::string("-3"))) << base::toUtf8(d->getTitle());
    const auto volumeSent = [&] {
        for (const auto& d : all)
            for (const auto& datagram : m_speakers->sim(d).received())
                if (datagram.text.rfind("set vol", 0) == 0 && datagram.at - played < 1500ms) return true;
        return false;
    };
    EXPECT_FALSE(volumeSent()) << "nothing before the pause's last reply time: the music's end still sounds";
    frm::PlayerChannel::instance()->stop();
    EXPECT_TRUE(allBack(all, 20s));
}

// A service message on loudspeakers of which some are Orvel-510s that
// answer late: every Orvel-510 is asked about its memory at once, and the
// message's volumes go out one late reply after the play (and the pause).
// Before, they were asked one after the other: 30 late ones among 300 kept
// the message 24 s from its start.
TEST_F(NoticeChannelsTest, AServiceMessageAsksEveryOrvel510AboutItsMemoryAtOnce) {
    std::vector<Speaker> all;
    for (int i = 0; i < 24; ++i) {
        const Speaker d = m_speakers->add(i < 12 ? 5 : 18);
        if (i % 2 == 0) m_speakers->setReplyDelay(d, 800ms);
        m_selection.zones.insert(d);
        all.push_back(d);
    }
    for (const auto& d : all) m_speakers->sim(d).clearReceived();
    const auto played = std::chrono::steady_clock::now();
    playService(all);
    const auto firstVolume = [&] {
        std::optional<std::chrono::steady_clock::time_point> first;
        for (const auto& d : all)
            for (const auto& datagram : m_speakers->sim(d).received())
                if (datagram.text.rfind("set vol", 0) == 0 && (!first || datagram.at < *first)) first = datagram.at;
        return first;
    };
    ASSERT_TRUE(waitUntil([&] { return firstVolume().has_value(); }, 30s));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(*firstVolume() - played).count(), 1500)
        << "ms from the play to its first volume";
    EXPECT_TRUE(waitFor([] { return frm::PlayerChannel::instance()->isPlaying(); }, 10000));
    frm::PlayerChannel::instance()->stop();
    EXPECT_TRUE(waitFor([] { return !frm::PlayerChannel::instance()->isPlaying(); }, 20000));
}

// The exit's give-back is the last the loudspeakers get (LoudspeakerLedger::
// close, which the window's shutdown calls): the service message's play job
// that leaves its pause after it sends them nothing. Before, the job's hold
// went out after the give-back and left loudspeakers at the message's
// volume, the others muted.
TEST_F(NoticeChannelsTest, NothingReachesALoudspeakerAfterTheExitsGiveBack) {
    frm::PlayerChannel::destroyInstance();
    frm::PlayerChannel::createInstance(&m_selection, &m_gui, std::chrono::milliseconds(1500), m_ledger);
    const auto all = speakers(4, 2, 400ms);
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch({all[0], all[1]}));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    playService(all);  // its job waits in its pause
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_TRUE(m_ledger->close().wait(2500ms));
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 3s);
    EXPECT_TRUE(allBack(all, 0ms));
    for (const auto& d : all) m_speakers->sim(d).clearReceived();
    std::this_thread::sleep_for(2500ms);  // past the job's pause
    for (const auto& d : all) EXPECT_TRUE(m_speakers->requests(d).empty()) << base::toUtf8(d->getTitle());
    EXPECT_TRUE(allBack(all, 0ms));
}

// An alarm launched right after the stop of another takes its loudspeakers
// where they are: a late one is not switched back and forth, and the
// notice sounds one volume reply later.
TEST_F(NoticeChannelsTest, AnAlarmRightAfterAStopNeedsNoSwitchBackFirst) {
    const auto all = speakers(6, 3, 400ms);
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    stop();
    std::this_thread::sleep_for(300ms);
    for (const auto& d : all) m_speakers->sim(d).clearReceived();
    const std::size_t seen = heard.count();
    const std::int64_t launched = steady_us();
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > seen + 10; }, 20s));
    const auto datagrams = heard.snapshot();
    std::int64_t first = 0;
    for (const auto& d : datagrams)
        if (d.at_us > launched) {
            first = d.at_us;
            break;
        }
    EXPECT_LT(first - launched, 2000000) << "µs to the first datagram";
    for (std::size_t i = 0; i < 3; ++i) {
        const Strings r = m_speakers->requests(all[i]);
        EXPECT_EQ(std::count(r.begin(), r.end(), "set ch 0"), 0) << ::testing::PrintToString(r);
    }
    stop();
    EXPECT_TRUE(allBack(all));
}

// Both channels give each generation its volume back exactly as its firmware
// wrote it: an alarm, then a service message, on an Orvel-510 at 19:19, an
// Orvel-610 at -40 dB and an Orvel-611 at -4 dB. Before, they came back
// through the percent the window shows: 1A:1A, -30 dB and -5 dB.
TEST_F(NoticeChannelsTest, EachGenerationGetsItsExactVolumeBackFromAnAlarmAndAServiceMessage) {
    struct Own {
        int index;
        bool orvel611;
        const char* volume;
    };
    std::vector<Speaker> all;
    for (const Own& own : {Own{8, false, "19:19"}, Own{18, false, "-40"}, Own{18, true, "-4"}}) {
        const Speaker d = m_speakers->add(own.index, own.orvel611);
        m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { m.volume = own.volume; });
        d->getVolume();
        m_selection.zones.insert(d);
        m_own[d] = own.volume;
        all.push_back(d);
    }
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    stop();
    EXPECT_TRUE(allBack(all));
    // The loudspeakers hold channel 0 once they answered; the program knows
    // it once it took their answers in, and refuses a message before.
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(all.begin(), all.end(),
                           [](const Speaker& d) { return d->getPlaybackType() == device::playback::kNone; });
    }));
    playService(all);
    ASSERT_TRUE(waitFor([] { return frm::PlayerChannel::instance()->isPlaying(); }, 10000));
    EXPECT_EQ(state(all[1]).second, "-3") << "the service message's 90 %";
    frm::PlayerChannel::instance()->stop();
    EXPECT_TRUE(allBack(all));
}

// Many late loudspeakers: the requests go out at once without a thread
// each, and the alarm sounds after the switch and the volume, one late
// reply each (and the read of its own volume between them). The steps are
// timed where the loudspeakers receive them, so that a busy machine's slow
// start of the stream does not count: each step reaches every loudspeaker
// before the first of them could answer it, and goes out on the replies to
// the step before. The deadline is far off, so only the loudspeakers'
// answers can start the stream.
TEST_F(NoticeChannelsTest, ManyLateLoudspeakersCostOneReplyAStepWithoutAThreadEach) {
    useDeadline(60s);
    const auto late = 400ms;
    const auto all = speakers(40, 40, late);
    GroupSniffer heard(kGroup, noticePort());
    const std::size_t before = testing_support::threadIds().size();
    std::atomic<std::size_t> most{0};
    std::atomic<bool> watching{true};
    std::thread watcher([&] {
        while (watching) {
            most = std::max(most.load(), testing_support::threadIds().size());
            std::this_thread::sleep_for(20ms);
        }
    });
    const bool started = launch(all);
    const bool heardIt = waitUntil([&] { return heard.count() > 0; }, 20s);
    watching = false;
    watcher.join();
    ASSERT_TRUE(started);
    ASSERT_TRUE(heardIt) << "the stream starts when the loudspeakers have answered";
    EXPECT_LT(most.load(), before + 15) << "threads while the loudspeakers answered";

    // Per loudspeaker: its switch, the read of its own volume and the
    // alarm's volume, each sent on the reply to the one before.
    const std::chrono::steady_clock::time_point firstDatagram{
        std::chrono::microseconds(heard.snapshot().front().at_us)};
    const auto switches = arrivals(all, "set ch 1");
    const auto reads = arrivals(all, "get vol");
    const auto volumes = arrivals(all, "set vol");
    const auto ms = [](std::chrono::steady_clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string name = base::toUtf8(all[i]->getTitle());
        ASSERT_TRUE(switches[i] && reads[i] && volumes[i])
            << name << " " << ::testing::PrintToString(m_speakers->requests(all[i]));
        EXPECT_LT(*reads[i] - *switches[i], 2 * late) << name << ": " << ms(*reads[i] - *switches[i]) << " ms";
        EXPECT_LT(*volumes[i] - *reads[i], 2 * late) << name << ": " << ms(*volumes[i] - *reads[i]) << " ms";
        EXPECT_LT(*volumes[i], firstDatagram) << name << ": the alarm sounds after every volume";
    }
    // Each step reached every loudspeaker before the first of them could
    // answer it.
    for (const auto* step : {&switches, &reads, &volumes}) {
        const auto [first, last] = std::minmax_element(step->begin(), step->end());
        EXPECT_LT(**last - **first, late) << ms(**last - **first) << " ms from the first loudspeaker to the last";
    }
    stop();
    EXPECT_TRUE(allBack(all));
}

// The quit gives every loudspeaker back even when one datagram to each is
// lost: the lost request is resent, and the next step goes out once the
// transport lets it (when a late reply to the first send can no longer
// come), all before the transport stops. 20 loudspeakers on an alarm,
// Orvel-610s and Orvel-510s (whose switch back asks about their memory
// first). Before, the quit let the transport stop after 2.5 s while the
// switch back had not gone out: every one stayed on the alarm's channel.
TEST_F(NoticeChannelsTest, AQuitGivesEveryLoudspeakerBackWhenOneDatagramToEachIsLost) {
    std::vector<Speaker> all = speakers(16, 0, 0ms);
    for (const char* own : {"19:19", "2A:2A", "0C:0E", "33:33"}) {
        const Speaker d = m_speakers->add(8);
        m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { m.volume = own; });
        d->getVolume();
        m_selection.zones.insert(d);
        m_own[d] = own;
        all.push_back(d);
    }
    GroupSniffer heard(kGroup, noticePort());
    ASSERT_TRUE(launch(all));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    // Every request of the alarm answered and taken in by the objects (the
    // volume is the last): nothing more goes out until the quit.
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& d : all) {
            const auto level = d->getCachedVolumeLevel();
            if (state(d).first != 1 || !level || level->percent() != 100) return false;
        }
        return true;
    }));
    for (const auto& d : all) {
        device::sim::ReplyPolicy lose;
        lose.dropNext = 1;
        m_speakers->sim(d).setReplyPolicy(lose);
    }

    const auto took = quit();
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(allBack(all, 0ms)) << "back when the transport may stop, "
                                   << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                   << " ms after the quit began";
}

// A service message starts by its deadline (its pause and 50 ms) whatever
// its loudspeakers do: chosen ones that answer 1.9 s late or not at all
// take its volume as they answer, while it plays, and a late one that is
// not chosen is muted as it answers; each gets its own back at the end.
// Before, the message waited for every one of them, the others' mutes
// included: 4.1 s after the play beside one 1.9 s late.
TEST_F(NoticeChannelsTest, AServiceMessageStartsByItsDeadlineBesideLateAndSilentLoudspeakers) {
    frm::PlayerChannel::destroyInstance();
    frm::PlayerChannel::createInstance(&m_selection, &m_gui, std::chrono::milliseconds(300), m_ledger);
    const auto all = speakers(4, 0, 0ms);
    const Speaker late = all[1], silent = all[2], unchosen = all[3];
    m_speakers->setReplyDelay(late, 1900ms);
    m_speakers->setReplyDelay(unchosen, 1900ms);
    device::sim::ReplyPolicy quiet;
    quiet.silent = true;
    m_speakers->sim(silent).setReplyPolicy(quiet);

    const auto played = std::chrono::steady_clock::now();
    playService({all[0], late, silent});
    ASSERT_TRUE(waitFor([] { return frm::PlayerChannel::instance()->isPlaying(); }, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - played, 1900ms) << "before the late ones could answer";
    EXPECT_EQ(state(all[0]).second, "-3");

    EXPECT_TRUE(waitUntil([&] { return state(late).second == "-3"; }, 10s)) << "the late one joins";
    EXPECT_TRUE(waitUntil([&] { return state(unchosen).second == "-96"; }, 10s)) << "the unchosen one is muted";
    m_speakers->sim(silent).setReplyPolicy(device::sim::ReplyPolicy());
    EXPECT_TRUE(waitUntil([&] { return state(silent).second == "-3"; }, 30s)) << "the silent one once it answers";
    EXPECT_TRUE(frm::PlayerChannel::instance()->isPlaying());
    frm::PlayerChannel::instance()->stop();
    EXPECT_TRUE(allBack(all, 30s));
}
