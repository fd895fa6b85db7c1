// ctest-labels: net
// The alarm channel against simulated loudspeakers and the real notification
// stream (heard by ffmpeg); assertions read the loudspeakers' request logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <map>
#include <mutex>
#include <thread>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "audio/player_channel.h"
#include "base/exception.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/playback_type.h"
#include "tests/audio/channel_fixture.h"
#include "tests/audio/player_fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/stream_probe.h"

using namespace channel_test;
using namespace stream_probe;
using Strings = std::vector<std::string>;
using frm::AlarmChannel;

namespace {

const std::string kGroup = "224.0.224.41";

/// Loudspeakers listen on this + 1 + channel. The tests run in parallel, so
/// each gets ports of its own.
int basePort() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::size_t h = std::hash<std::string>()(std::string(info->test_suite_name()) + info->name());
    return 13000 + static_cast<int>(h % 500) * 10;
}

/// What the completion callback was given, and on which thread.
struct Codes {
    std::mutex mutex;
    std::vector<std::pair<int, std::thread::id>> seen;
    AlarmChannel::Callback callback() {
        return [this](int code) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.emplace_back(code, std::this_thread::get_id());
        };
    }
    std::vector<int> codes() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<int> out;
        for (const auto& s : seen) out.push_back(s.first);
        return out;
    }
};

class AlarmChannelTest : public player_test::CountingLog {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(L"");
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "multicast.address", pref::Type::TypeString) = kGroup.c_str();
            pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = basePort();
        }
        base::ThreadDispatcher::create();
        m_stream = std::make_unique<mp3streamf>();
        m_stream->set_stream_fmt(128);
        m_stream->set_stream_ttl(1);
        m_stream->set_address_interface("127.0.0.1", 9);
        m_speakers = std::make_unique<Speakers>();
        a = m_speakers->add();
        b = m_speakers->add();
        m_selection.zones = {a, b};
        makeChannel(deadline());
        message = tone("message.mp3", 440, 3000);
        gong = tone("gong.mp3", 880, 1000);
        longMessage = tone("long.mp3", 440, 8000);
    }
    void TearDown() override {
        AlarmChannel::destroyInstance();
        m_speakers.reset();
        m_stream.reset();
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLog::TearDown();
    }
    /// The simulated loudspeakers keep no configuration record: their
    /// channel-0 port is this test's own.
    virtual frm::AlarmChannelOptions::DiscoveryPort discoveryPort() {
        const auto port = static_cast<std::uint16_t>(basePort() + 1);
        return [port](device::OrvelInfo&) { return port; };
    }
    virtual std::chrono::milliseconds watcherPeriod() { return 100ms; }
    virtual std::function<void()> threadStarts() { return {}; }
    virtual std::chrono::milliseconds deadline() { return frm::AlarmChannelOptions().deadline; }
    /// The channel, made anew with the deadline given.
    void makeChannel(std::chrono::milliseconds deadline) {
        AlarmChannel::destroyInstance();
        frm::AlarmChannelOptions options;
        options.watcherPeriod = watcherPeriod();
        options.discoveryPort = discoveryPort();
        options.threadStarts = threadStarts();
        options.deadline = deadline;
        AlarmChannel::createInstance(&m_selection, &m_gui, *m_stream, options);
    }

    std::wstring tone(const std::string& name, double freq, unsigned ms) {
        const std::string path = m_files.path() + "/" + name;
        EXPECT_TRUE(write_mp3(path, stepped_tone({freq}, ms, 44100, 1), 44100, 1));
        return base::fromUtf8(path);
    }
    AlarmChannel& channel() { return *AlarmChannel::instance(); }
    /// Slow builds start libvlc slowly.
    static bool started(Codes& codes) {
        return waitUntil([&] { return !codes.codes().empty(); }, 20000ms);
    }
    bool launch(const frm::DeviceSet& devices, int priority, const std::wstring& msg, Codes* codes = nullptr,
                const std::wstring& g = L"") {
        return channel().launch(AlarmChannel::kMessageList, true, devices, msg, g, L"", priority, 80, L"test",
                                codes != nullptr ? codes->callback() : AlarmChannel::Callback(), false);
    }
    Strings requests(const boost::shared_ptr<device::OrvelInfo>& d) { return m_speakers->requests(d); }
    void clear() {
        m_speakers->sim(a).clearReceived();
        m_speakers->sim(b).clearReceived();
    }
    static bool has(const Strings& all, const std::string& one) {
        return std::find(all.begin(), all.end(), one) != all.end();
    }
    /// The loudspeaker as the simulator has it ends on `channel`.
    bool onChannel(const boost::shared_ptr<device::OrvelInfo>& d, unsigned channel) {
        return waitUntil([&] {
            unsigned now = 0;
            m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { now = m.channel; });
            return now == channel;
        });
    }
    /// The stop gives the loudspeakers back without waiting for them: true
    /// once the loudspeaker's last request is the switch back.
    bool givenBack(const boost::shared_ptr<device::OrvelInfo>& d) {
        return waitUntil([&] {
            const Strings r = requests(d);
            return !r.empty() && r.back() == "set ch 0";
        });
    }

    testing_support::TempDir m_files{"alarm"};
    std::unique_ptr<mp3streamf> m_stream;
    std::unique_ptr<Speakers> m_speakers;
    boost::shared_ptr<device::OrvelInfo> a, b;
    FakeSelection m_selection;
    FakeGui m_gui;
    std::wstring message, gong, longMessage;
};

/// Twenty loudspeakers, every other one answering 400 ms late.
class LateLoudspeakersTest : public AlarmChannelTest {
protected:
    void SetUp() override {
        AlarmChannelTest::SetUp();
        all = {a, b};
        while (all.size() < 20) all.insert(m_speakers->add());
        bool late = true;
        for (const auto& d : all) {
            if (late) m_speakers->setReplyDelay(d, kLate);
            late = !late;
        }
    }
    static constexpr std::chrono::milliseconds kLate{400};
    frm::DeviceSet all;
};

/// The configuration record cannot be read: the notice's stream goes to
/// the port of the base-port rule.
class UnreadablePortTest : public AlarmChannelTest {
protected:
    frm::AlarmChannelOptions::DiscoveryPort discoveryPort() override {
        return [](device::OrvelInfo&) -> std::uint16_t { throw exception::Offline(); };
    }
};

/// The gong goes from its folder as the alarm thread begins: the thread
/// ends early.
class GongGoneTest : public AlarmChannelTest {
protected:
    std::function<void()> threadStarts() override {
        return [this] {
            boost::system::error_code ignored;
            boost::filesystem::remove(base::toUtf8(gong), ignored);
        };
    }
};

/// A deadline short enough that no test waits out the program's.
class DeadlineTest : public AlarmChannelTest {
protected:
    std::chrono::milliseconds deadline() override { return 300ms; }
    /// The simulator's channel and volume of the loudspeaker.
    std::pair<unsigned, std::string> state(const boost::shared_ptr<device::OrvelInfo>& d) {
        std::pair<unsigned, std::string> now;
        m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { now = {m.channel, m.volume}; });
        return now;
    }
    /// Waits until the loudspeaker holds `channel` at `volume`.
    bool holds(const boost::shared_ptr<device::OrvelInfo>& d, unsigned channel, const std::string& volume,
               std::chrono::milliseconds limit = 10s) {
        return waitUntil([&] { return state(d) == std::make_pair(channel, volume); }, limit);
    }
    /// The first datagram of the notice on `port` (µs, steady clock), 0 when none came.
    static std::int64_t firstHeard(const GroupSniffer& heard) {
        if (!waitUntil([&] { return heard.count() > 0; }, 20s)) return 0;
        return heard.snapshot().front().at_us;
    }
    static constexpr std::chrono::milliseconds kLate{1900};
};

/// Every alarm thread waits at its start until the test opens the gate: a
/// processor too busy to run a new thread before the operator's stop.
class LateThreadTest : public AlarmChannelTest {
protected:
    std::function<void()> threadStarts() override {
        return [this] {
            std::unique_lock<std::mutex> lock(m_gateMutex);
            m_gate.wait(lock, [this] { return m_open; });
        };
    }
    void open() {
        {
            std::lock_guard<std::mutex> lock(m_gateMutex);
            m_open = true;
        }
        m_gate.notify_all();
    }
    void TearDown() override {
        open();
        AlarmChannelTest::TearDown();
    }

    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    bool m_open = false;
};

}  // namespace

TEST_F(LateThreadTest, AStopBeforeTheAlarmThreadRunsWinsOverIt) {
    Codes codes;
    ASSERT_TRUE(launch({a, b}, 3, longMessage, &codes));
    const auto before = std::chrono::steady_clock::now();
    channel().stop(AlarmChannel::Callback());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms) << "the stop does not wait for the thread";
    EXPECT_FALSE(channel().isRunning());
    EXPECT_EQ(codes.codes(), std::vector<int>{AlarmChannel::kStopped});
    EXPECT_TRUE(givenBack(a)) << "the busy check's switch is taken back";
    EXPECT_TRUE(givenBack(b));
    clear();

    open();  // the thread runs only now
    EXPECT_TRUE(waitUntil([&] { return logged(L"alarm thread: stopped before it began") == 1; }));
    EXPECT_FALSE(channel().isRunning());
    EXPECT_FALSE(m_stream->is_stream());
    EXPECT_EQ(requests(a), Strings{}) << "nothing reaches the loudspeakers after the stop";
    EXPECT_EQ(requests(b), Strings{});
    EXPECT_EQ(codes.codes(), std::vector<int>{AlarmChannel::kStopped});
    EXPECT_EQ(logged(L"Internal error. Alarm channel don't stopped. Time out."), 0);

    // The channel takes the next notice at once.
    Codes next;
    ASSERT_TRUE(launch({a}, 3, longMessage, &next));
    ASSERT_TRUE(started(next));
    channel().stop(AlarmChannel::Callback());
    EXPECT_FALSE(channel().isRunning());
    EXPECT_TRUE(givenBack(a));
}

TEST_F(AlarmChannelTest, LowerPriorityAndMissingFilesAreRefusedAndEqualReplacesWithCodeFour) {
    Codes first, second;
    ASSERT_TRUE(launch({a, b}, 3, longMessage, &first));
    ASSERT_TRUE(started(first));
    clear();

    EXPECT_FALSE(launch({a, b}, 2, message, &second));
    EXPECT_TRUE(waitUntil([&] { return logged(L"Канал тревог занят.") == 1; })) << "logged once";
    // Missing files are refused before anything is stopped, whatever the priority.
    EXPECT_FALSE(launch({a}, 4, m_files.widePath() + L"/absent.mp3"));
    EXPECT_FALSE(launch({a}, 4, message, nullptr, m_files.widePath() + L"/absent-gong.mp3"));
    EXPECT_TRUE(waitUntil([&] { return logged(L"Не найден файл") == 2; })) << "logged once each";
    EXPECT_TRUE(channel().isRunning());
    EXPECT_EQ(requests(a), Strings{}) << "the running notice's loudspeakers stay on its channel";
    EXPECT_EQ(first.codes(), std::vector<int>{AlarmChannel::kMessageStarted});

    ASSERT_TRUE(launch({a, b}, 3, longMessage, &second));
    EXPECT_EQ(first.codes(), (std::vector<int>{AlarmChannel::kMessageStarted, AlarmChannel::kReplaced}));
    EXPECT_EQ(first.seen[1].second, std::this_thread::get_id());
    ASSERT_TRUE(started(second));
    channel().stop(AlarmChannel::Callback());
    EXPECT_EQ(second.codes(), (std::vector<int>{AlarmChannel::kMessageStarted, AlarmChannel::kStopped}));
    EXPECT_FALSE(channel().isRunning());
    EXPECT_TRUE(givenBack(a));
}

TEST_F(AlarmChannelTest, BusyLoudspeakersRefuseOrLetTheOperatorDecide) {
    const std::string deferred = "Changing of channel is deferred";
    m_speakers->model(a, [&](device::sim::OrvelBandModel& m) { m.channelReply = deferred; });
    m_speakers->model(b, [&](device::sim::OrvelBandModel& m) { m.channelReply = deferred; });
    EXPECT_FALSE(launch({a, b}, 3, message));
    EXPECT_TRUE(waitUntil([&] { return logged(L"На всех выбранных устройствах запущено оповещение") == 1; }))
        << "logged once";
    EXPECT_TRUE(m_gui.questions.empty()) << "no question when every one is busy";
    // Their deferred switches are taken back.
    EXPECT_TRUE(givenBack(a));
    EXPECT_TRUE(givenBack(b));

    m_speakers->model(b, [&](device::sim::OrvelBandModel& m) { m.channelReply.clear(); });
    clear();
    m_gui.answerYes = false;
    EXPECT_FALSE(launch({a, b}, 3, message));
    ASSERT_EQ(m_gui.questions.size(), 1u);
    EXPECT_NE(m_gui.questions[0].find(a->getTitle() + L"; "), std::wstring::npos);
    // The free one was switched and given the notice's volume while the
    // operator was asked; No gives it all back.
    EXPECT_TRUE(givenBack(b)) << "No puts the free ones back";
    EXPECT_EQ(requests(b), (Strings{"set ch 1", "set vol -6", "set vol -15", "set ch 0"}));
    EXPECT_FALSE(channel().isRunning());

    m_gui.answerYes = true;
    clear();
    Codes codes;
    EXPECT_TRUE(launch({a, b}, 3, longMessage, &codes));
    ASSERT_TRUE(started(codes));
    EXPECT_EQ(m_gui.questions.size(), 2u);
    channel().stop(AlarmChannel::Callback());
}

// Two launches on two threads: the first waits for the operator's answer
// about a busy loudspeaker while the second starts its notice, and is then
// refused. It leaves the running notice as it was: the stop waits for that
// notice's thread before it gives the loudspeakers back, and none stays on
// the notification channel.
TEST_F(AlarmChannelTest, ALaunchRefusedBesideARunningNoticeLeavesTheChannelSound) {
    const auto c = m_speakers->add();
    m_speakers->model(
        a, [](device::sim::OrvelBandModel& m) { m.channelReply = "Changing of channel is deferred"; });
    std::promise<void> asked;
    std::future<void> questionAsked = asked.get_future();
    std::promise<void> answer;
    const std::shared_future<void> answered = answer.get_future().share();
    m_gui.whileAsking = [&] {
        asked.set_value();
        answered.wait();
    };
    Codes refused, running;
    std::atomic<bool> firstLaunched{true};
    std::thread first([&] {
        firstLaunched = channel().launch(AlarmChannel::kMessageList, true, {a, c}, message, L"", L"", 3, 80,
                                         L"second", refused.callback(), false);
    });
    struct Release {
        std::promise<void>& answer;
        std::thread& thread;
        bool done = false;
        void operator()() {
            if (!done) answer.set_value();
            done = true;
            thread.join();
        }
        ~Release() {
            if (!done) (*this)();
        }
    } release{answer, first};
    ASSERT_EQ(questionAsked.wait_for(20s), std::future_status::ready);

    ASSERT_TRUE(launch({b}, 3, longMessage, &running));
    ASSERT_TRUE(started(running));
    clear();
    release();
    EXPECT_FALSE(firstLaunched);
    EXPECT_EQ(logged(L"Канал тревог занят."), 1);
    EXPECT_TRUE(channel().isRunning());
    EXPECT_EQ(channel().getDescription(), L"test") << "the running notice's, not the refused one's";
    EXPECT_EQ(requests(b), Strings{}) << "the running notice keeps its loudspeaker";
    EXPECT_TRUE(givenBack(c)) << "the refused launch gives back what its busy check took";

    channel().stop(AlarmChannel::Callback());
    EXPECT_FALSE(channel().isRunning());
    EXPECT_EQ(running.codes(), (std::vector<int>{AlarmChannel::kMessageStarted, AlarmChannel::kStopped}));
    EXPECT_EQ(refused.codes(), std::vector<int>{});
    base::Log::instance()->flush();
    std::size_t threadEnded = 0, restored = 0;
    const auto lines = linesOf("20261206");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("alarm thread: stop handle") != std::string::npos) threadEnded = i + 1;
        if (lines[i].find("Alarm channel: Restore settings for devices") != std::string::npos)
            restored = i + 1;
    }
    EXPECT_NE(threadEnded, 0u) << "the stop ended the notice's thread";
    EXPECT_GT(restored, threadEnded) << "and gave the loudspeakers back only then";
    for (const auto& d : {a, b, c}) EXPECT_TRUE(onChannel(d, 0)) << base::toUtf8(d->getTitle());

    Codes next;
    ASSERT_TRUE(launch({b}, 3, message, &next)) << "the channel takes the next notice";
    channel().stop(AlarmChannel::Callback());
}

TEST_F(AlarmChannelTest, ClipCodesReachTheGuiThreadAndStopCodesTheStoppingThread) {
    Codes codes;
    const std::wstring shortMessage = tone("short.mp3", 440, 300);
    const std::wstring shortGong = tone("short-gong.mp3", 880, 300);
    ASSERT_TRUE(launch({a}, 3, shortMessage, &codes, shortGong));
    ASSERT_TRUE(waitUntil([&] { return codes.codes().size() == 4; }, 20000ms));
    EXPECT_EQ(codes.codes(), (std::vector<int>{0, 1, 2, 3}));
    for (const auto& s : codes.seen) EXPECT_EQ(s.second, m_gui.id());
    ASSERT_TRUE(waitUntil([&] { return !channel().isRunning(); }));

    // The callback stays with the channel: the next stop calls it with 5 here.
    std::thread::id stopper;
    std::thread([&] {
        stopper = std::this_thread::get_id();
        channel().stop(AlarmChannel::Callback());
    }).join();
    ASSERT_EQ(codes.seen.size(), 5u);
    EXPECT_EQ(codes.seen[4].first, AlarmChannel::kStopped);
    EXPECT_EQ(codes.seen[4].second, stopper);
}

TEST_F(AlarmChannelTest, LoudspeakersThatTakeOverEndTheNoticeUntilTheyAreDone) {
    Codes codes;
    ASSERT_TRUE(launch({a, b}, 3, longMessage, &codes));
    ASSERT_TRUE(started(codes));
    // Both play a scenario of their own now (no more state packets that
    // could tell otherwise).
    for (const auto& d : {a, b}) {
        m_speakers->sim(d).startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), 9}, 0ms);
        d->setPlaybackTypeForce(device::playback::kScenarioServer);
    }
    ASSERT_TRUE(waitUntil([&] { return codes.codes().size() == 2; }));
    EXPECT_EQ(codes.codes(), (std::vector<int>{AlarmChannel::kMessageStarted, AlarmChannel::kStopped}));
    EXPECT_TRUE(waitUntil([&] { return logged(L"Было запущено более приоритетное оповещение.") == 1; }))
        << "logged once";
    EXPECT_FALSE(AlarmChannel::restoreCommonChannelForAllDevices()) << "still playing their own";

    clear();
    for (const auto& d : {a, b}) d->resetPlaybackType();
    EXPECT_TRUE(AlarmChannel::restoreCommonChannelForAllDevices());
    EXPECT_TRUE(givenBack(a));
    EXPECT_TRUE(givenBack(b));
}

TEST_F(UnreadablePortTest, TheNoticeSoundsOnTheBasePortsChannel) {
    GroupSniffer heard(kGroup, static_cast<std::uint16_t>(basePort() + 2));
    Codes codes;
    ASSERT_TRUE(launch({a, b}, 3, longMessage, &codes));
    ASSERT_TRUE(started(codes));
    EXPECT_TRUE(waitUntil([&] { return heard.count() > 0; }));
    EXPECT_TRUE(onChannel(a, 1));
    channel().stop(AlarmChannel::Callback());
    EXPECT_TRUE(givenBack(a));
}

TEST_F(GongGoneTest, AnEarlyEndGivesTheLoudspeakersBack) {
    ASSERT_TRUE(launch({a, b}, 3, message, nullptr, gong));
    ASSERT_TRUE(waitUntil([&] { return !channel().isRunning(); }));
    ASSERT_TRUE(givenBack(a));
    ASSERT_TRUE(givenBack(b));
    EXPECT_EQ(requests(a), (Strings{"set ch 1", "set vol -6", "set vol -15", "set ch 0"}));
    // The player channel is not held off afterwards.
    EXPECT_TRUE(AlarmChannel::restoreCommonChannelForAllDevices());
}

class AlarmChannelEndToEnd : public AlarmChannelTest {
public:
    void run(int priority, int channelNumber) {
        const std::uint16_t port = static_cast<std::uint16_t>(basePort() + 1 + channelNumber);
        LiveReceiver receiver(kGroup, port, m_files.path() + "/heard.raw", 6000);
        ASSERT_TRUE(receiver.joined());
        Codes codes;
        ASSERT_TRUE(launch({a, b}, priority, message, &codes, gong));
        ASSERT_TRUE(waitUntil([&] { return codes.codes().size() == 4; }, 30000ms)) << codes.codes().size();
        ASSERT_TRUE(waitUntil([&] { return !channel().isRunning(); }));
        const auto track = tone_track(receiver.samples(), {880, 440});
        const auto counts = tone_counts(track, 2);
        EXPECT_GE(counts[0], 15) << "gong: " << ::testing::PrintToString(track);
        EXPECT_GE(counts[1], 50) << "message: " << ::testing::PrintToString(track);
        EXPECT_TRUE(tones_in_order(track)) << "gong before message";

        const std::string ch = "set ch " + std::to_string(channelNumber);
        for (const auto& d : {a, b}) {
            const Strings r = requests(d);
            ASSERT_GE(r.size(), 3u) << ::testing::PrintToString(r);
            EXPECT_EQ(r.front(), ch);
            EXPECT_EQ(r.back(), "set ch 0");
            // 80 % from the gong to the message's end, the earlier 50 % after it.
            EXPECT_EQ(std::count(r.begin(), r.end(), "set vol -6"), 1) << ::testing::PrintToString(r);
            EXPECT_EQ(std::count(r.begin(), r.end(), "set vol -15"), 1) << ::testing::PrintToString(r);
        }
    }
};

TEST_F(AlarmChannelEndToEnd, HighPriorityGongAndMessageArriveOnChannelOne) { run(3, 1); }

TEST_F(AlarmChannelEndToEnd, LowPriorityGongAndMessageArriveOnChannelSix) { run(2, 6); }

/// A watcher that stays asleep for the length of a test.
class SlowWatcherTest : public AlarmChannelTest {
protected:
    std::chrono::milliseconds watcherPeriod() override { return 60000ms; }
};

/// A sound file that stands in for the capture device (libvlc opens it as
/// the microphone's location); its path.
std::string writeVoice(const std::string& folder) {
    const std::string voice = folder + "/voice.mp3";
    EXPECT_TRUE(write_mp3(voice, stepped_tone({600}, 2000, 44100, 1), 44100, 1));
    pref::Guard guard(g_pref);
    pref::create(g_pref, "record.deviceName", pref::Type::TypeString) = ("file://" + voice).c_str();
    return voice;
}

TEST_F(SlowWatcherTest, RecordingTheMicrophoneSwitchesNoLoudspeakerAndReplacesTheOldFile) {
    writeVoice(m_files.path());
    const std::string record = m_files.path() + "/record.mp3";
    std::ofstream(record) << "an older recording";
    ASSERT_TRUE(AlarmChannel::launchWithoutDevices(AlarmChannel::Tag(), L"Запись с микрофона",
                                                   base::fromUtf8(record)));
    ASSERT_TRUE(waitUntil([&] { return logged(L"end alarm thread") == 1; }));
    std::this_thread::sleep_for(1000ms);  // written faster than real time
    // stop joins the watcher, which wakes from its minute-long sleep at once.
    const auto before = std::chrono::steady_clock::now();
    channel().stop(AlarmChannel::Callback());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_FALSE(channel().isRunning());
    EXPECT_EQ(requests(a), Strings{});
    EXPECT_EQ(requests(b), Strings{});
    const auto recorded = decode_file(record, m_files.path() + "/record.raw");
    const auto counts = tone_counts(tone_track(recorded, {600, 1000}), 2);  // 1000 Hz: a control
    EXPECT_GE(counts[0], 30) << "the microphone's sound replaced the old file";
    EXPECT_EQ(counts[1], 0);
}

// A capture whose source ends by itself (an unplugged microphone) leaves
// the stream idle but still holding its libvlc instance; the stop that
// follows must let it go, or the next notice cannot make its own.
TEST_F(SlowWatcherTest, ANoticeStartsAfterACaptureThatEndedByItself) {
    writeVoice(m_files.path());
    ASSERT_TRUE(AlarmChannel::launchWithoutDevices(AlarmChannel::Tag(), L"Запись с микрофона",
                                                   m_files.widePath() + L"/record.mp3"));
    ASSERT_TRUE(waitUntil([&] { return logged(L"end alarm thread") == 1; }));
    ASSERT_TRUE(waitUntil([&] { return !m_stream->is_stream(); }, 20000ms));  // read to its end
    channel().stop(AlarmChannel::Callback());
    Codes codes;
    ASSERT_TRUE(launch({a}, 3, message, &codes));
    EXPECT_TRUE(started(codes));
    channel().stop(AlarmChannel::Callback());
}

// The alarm thread starts its watcher as it begins: a stop that comes at
// once must not keep it from doing so while it waits for the thread.
TEST_F(AlarmChannelTest, AStopRightAfterALaunchEndsTheNoticeAtOnce) {
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(launch({a}, 3, longMessage));
        const auto before = std::chrono::steady_clock::now();
        channel().stop(AlarmChannel::Callback());
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << i;
        EXPECT_FALSE(channel().isRunning()) << i;
    }
    EXPECT_EQ(logged(L"Internal error. Alarm channel don't stopped. Time out."), 0);
}

TEST_F(AlarmChannelTest, ALostMicrophoneStreamIsStartedAgain) {
    writeVoice(m_files.path());
    ASSERT_TRUE(AlarmChannel::launchWithoutDevices(AlarmChannel::Tag(), L"Запись с микрофона",
                                                   m_files.widePath() + L"/record.mp3"));
    // Written to a file, libvlc reads the stand-in faster than real time and
    // its stream ends: the watcher takes that for a lost microphone.
    EXPECT_TRUE(
        waitUntil([&] { return logged(L"Поток с микрофона отсутствует. Проверьте микрофон.") >= 1; }));
    channel().stop(AlarmChannel::Callback());
    EXPECT_FALSE(channel().isRunning());
}

TEST_F(AlarmChannelTest, TheChannelGoesAtExitWhileAMessagePlays) {
    Codes codes;
    ASSERT_TRUE(launch({a}, 3, longMessage, &codes));
    ASSERT_TRUE(started(codes));
    // The stream is idle before the channel's end event goes with it (the
    // thread sanitizer build sees the decoder otherwise touch freed memory).
    AlarmChannel::destroyInstance();
    EXPECT_FALSE(m_stream->is_stream());
    std::this_thread::sleep_for(300ms);
}

TEST_F(AlarmChannelTest, ScheduledPlaybacksReachTheChannelAtPriorityThree) {
    frm::registerPlaybackChannels();
    Codes codes;
    EXPECT_TRUE(frm::PlaybackChannels::get()->launchOnAlarmChannel(L"Расписание", {a}, longMessage, L"", 100,
                                                                   codes.callback()));
    frm::unregisterPlaybackChannels();
    EXPECT_EQ(channel().getPriority(), 3);
    EXPECT_EQ(channel().getDescription(), L"Расписание");
    ASSERT_TRUE(started(codes));
    EXPECT_EQ(requests(a).front(), "set ch 1");
    channel().stop(AlarmChannel::Callback());
}

TEST_F(AlarmChannelTest, GongFilesAreTheFolderFilesOfPlayableKinds) {
    const std::string folder = m_files.path() + "/gongs";
    boost::filesystem::create_directories(folder);
    std::ofstream(folder + "/bell.mp3") << "x";
    std::ofstream(folder + "/notes.txt") << "x";
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "place.pathDirGong", pref::Type::TypeString) = folder.c_str();
    }
    EXPECT_EQ(AlarmChannel::getGongFiles(), std::vector<std::wstring>{base::fromUtf8(folder + "/bell.mp3")});
}

TEST_F(AlarmChannelTest, OnlySelectedWithNoDevicesTakesTheSelectionWhenTheThreadStarts) {
    m_selection.selectedZones = {b};  // no device rows selected, one zone
    Codes codes;
    ASSERT_TRUE(AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag(), 2, L"zone", longMessage, L"",
                                                         80, codes.callback()));
    ASSERT_TRUE(started(codes));
    EXPECT_EQ(requests(b).front(), "set ch 6");
    EXPECT_EQ(requests(a), Strings{});
    channel().stop(AlarmChannel::Callback());
    EXPECT_TRUE(givenBack(b));
}

TEST_F(AlarmChannelTest, ALoudspeakerThatStoppedAnsweringNeitherHoldsBackNorStopsTheAlarm) {
    // First in the set's order: a walk in turn would reach the other only
    // after the silent one's give-up.
    const frm::DeviceSet both{a, b};
    const auto silent = *both.begin();
    const auto other = *std::next(both.begin());
    device::sim::ReplyPolicy quiet;
    quiet.silent = true;
    m_speakers->sim(silent).setReplyPolicy(quiet);
    ASSERT_TRUE(silent->isOnlineAndAnswered()) << "still counted as answering, as just after it died";

    Codes codes;
    bool launched = false;
    EXPECT_NO_THROW(launched = launch(both, 3, longMessage, &codes));
    ASSERT_TRUE(launched);
    ASSERT_TRUE(started(codes));
    const auto asked = m_speakers->sim(silent).received();
    const auto switched = m_speakers->sim(other).received();
    ASSERT_GE(asked.size(), 2u) << "sent and resent";
    ASSERT_FALSE(switched.empty());
    EXPECT_EQ(switched.front().text.rfind("set ch 1", 0), 0u);
    EXPECT_LT(switched.front().at, asked[1].at) << "switched before the silent one was even asked again";
    EXPECT_TRUE(waitUntil([&] { return logged(L"не переключены на канал оповещений (1)") == 1; }));
    EXPECT_FALSE(silent->isOnlineAndAnswered());

    channel().stop(AlarmChannel::Callback());
    EXPECT_TRUE(givenBack(other));
    for (const auto& d : asked) EXPECT_EQ(d.text.rfind("set ch 1", 0), 0u) << "asked nothing but the switch";
}

// Each step of a notice goes to all its loudspeakers at once: the late ones
// cost one reply a step (the switch, the volume read, the notice's volume;
// the saved volume and the switch back), not one reply a loudspeaker. Ten
// late ones in turn held the alarm back 8 s and the stop as long.
TEST_F(LateLoudspeakersTest, TheAlarmSoundsWithinTheBudgetAndTheStopEndsSoon) {
    GroupSniffer heard(kGroup, static_cast<std::uint16_t>(basePort() + 1 + 1));
    ASSERT_TRUE(heard.ok());
    Codes codes;
    const std::int64_t launched = steady_us();
    ASSERT_TRUE(launch(all, 3, longMessage, &codes));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 30000ms));
    EXPECT_LT(heard.snapshot().front().at_us - launched, 3000000) << "µs to the first datagram";

    const auto before = std::chrono::steady_clock::now();
    channel().stop(AlarmChannel::Callback());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2500ms);
    EXPECT_FALSE(channel().isRunning());
    for (const auto& d : all) {
        EXPECT_TRUE(givenBack(d)) << base::toUtf8(d->getTitle());
        const Strings r = requests(d);
        EXPECT_EQ(std::count(r.begin(), r.end(), "set ch 1"), 1) << base::toUtf8(d->getTitle());
    }
    EXPECT_EQ(logged(L"Internal error. Alarm channel don't stopped. Time out."), 0);
}

// Loudspeakers that refuse the switch for one cause are told in one notice
// with their count and a few of them, not one notice each.
TEST_F(LateLoudspeakersTest, LoudspeakersThatRefuseTheSwitchAreToldOncePerCause) {
    std::vector<boost::shared_ptr<device::OrvelInfo>> refusing;
    for (const auto& d : all) {
        if (refusing.size() == 5) break;
        m_speakers->model(d, [](device::sim::OrvelBandModel& m) { m.channelReply = "ERR channel is locked"; });
        refusing.push_back(d);
    }
    Codes codes;
    ASSERT_TRUE(launch(all, 3, longMessage, &codes));
    ASSERT_TRUE(started(codes));
    EXPECT_EQ(logged(L"не переключены на канал оповещений", "WARN"), 1);
    EXPECT_EQ(logged(L"не переключены на канал оповещений (5): Получен неожиданный ответ устройства / ERR channel "
                     L"is locked. Например: " +
                     refusing[0]->getTitle() + L"; " + refusing[1]->getTitle() + L"; " +
                     refusing[2]->getTitle() + L", …"),
              1);
    channel().stop(AlarmChannel::Callback());
    for (const auto& d : refusing) EXPECT_EQ(requests(d), Strings{"set ch 1"}) << "left out of the notice";
}

// While a stop gives late loudspeakers back, the getters that the window
// asks answer at once, and a launch that comes meanwhile is neither refused
// nor undone: its loudspeakers end on the notice's channel.
TEST_F(LateLoudspeakersTest, WhileAStopGivesTheLoudspeakersBackTheChannelAnswersAndTakesTheNextNotice) {
    Codes first, next;
    ASSERT_TRUE(launch(all, 3, longMessage, &first));
    ASSERT_TRUE(started(first));
    for (const auto& d : all) m_speakers->sim(d).clearReceived();
    std::thread stopping([this] { channel().stop(AlarmChannel::Callback()); });
    struct Join {
        std::thread& thread;
        ~Join() { thread.join(); }
    } join{stopping};
    ASSERT_TRUE(waitUntil([&] { return has(requests(a), "set vol -15") || has(requests(b), "set vol -15"); }));

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(channel().getPriority(), 3);
    EXPECT_EQ(channel().getDescription(), L"test");
    channel().getCurrentMessage();
    channel().isRunning();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 200ms) << "the getters waited for the loudspeakers";

    EXPECT_TRUE(launch(all, 3, longMessage, &next));
    ASSERT_TRUE(started(next));
    // A late one still being given back is taken where it is: no switch
    // back and forth.
    for (const auto& d : all) {
        EXPECT_TRUE(onChannel(d, 1)) << base::toUtf8(d->getTitle());
        const Strings r = requests(d);
        EXPECT_LE(std::count(r.begin(), r.end(), "set ch 1"), 1) << base::toUtf8(d->getTitle());
    }
    channel().stop(AlarmChannel::Callback());
}

// The notice goes on air by its deadline whatever its loudspeakers do: one
// that answers 1.9 s late and one that gives no answer hold back neither
// the stream nor the others. Each is held meanwhile, takes the notice's
// channel and volume as it answers, and gets its own back at the end.
// Before, the stream waited for the late one's switch and volume and the
// silent one's give-up: 4 s and more.
TEST_F(DeadlineTest, LateAndSilentLoudspeakersJoinTheNoticeAsTheyAnswer) {
    const auto late = m_speakers->add();
    const auto silent = m_speakers->add();
    m_speakers->setReplyDelay(late, kLate);
    device::sim::ReplyPolicy quiet;
    quiet.silent = true;
    m_speakers->sim(silent).setReplyPolicy(quiet);
    std::map<boost::shared_ptr<device::OrvelInfo>, std::pair<unsigned, std::string>> own;
    for (const auto& d : {a, late, silent}) own[d] = state(d);

    GroupSniffer heard(kGroup, static_cast<std::uint16_t>(basePort() + 2));
    Codes codes;
    const std::int64_t handed = steady_us();
    channel().hand([&] { launch({a, late, silent}, 3, longMessage, &codes); });
    const std::int64_t first = firstHeard(heard);
    ASSERT_NE(first, 0);
    EXPECT_LT(first - handed, std::chrono::microseconds(kLate).count()) << "before the late one could answer";
    EXPECT_EQ(state(a), std::make_pair(1u, std::string("-6"))) << "the prompt one took it first";

    EXPECT_TRUE(holds(late, 1, "-6")) << "the late one joins";
    m_speakers->sim(silent).setReplyPolicy(device::sim::ReplyPolicy());
    EXPECT_TRUE(holds(silent, 1, "-6", 30s)) << "the silent one joins once it answers";
    EXPECT_TRUE(channel().isRunning());
    EXPECT_EQ(codes.codes(), std::vector<int>{AlarmChannel::kMessageStarted});

    channel().hand([&] { channel().stop(AlarmChannel::Callback()); });
    for (const auto& [d, held] : own) EXPECT_TRUE(holds(d, 0, held.second, 20s)) << base::toUtf8(d->getTitle());
}

// A loudspeaker whose refusal (its own notice) comes after the deadline
// neither keeps the notice off the air nor asks the operator: it is told
// once its answer comes. Before, the launch waited for it and asked.
TEST_F(DeadlineTest, ARefusalAfterTheDeadlineIsToldWhenItComes) {
    m_speakers->model(b, [](device::sim::OrvelBandModel& m) { m.channelReply = "Changing of channel is deferred"; });
    m_speakers->setReplyDelay(b, kLate);
    GroupSniffer heard(kGroup, static_cast<std::uint16_t>(basePort() + 2));
    Codes codes;
    ASSERT_TRUE(launch({a, b}, 3, longMessage, &codes));
    ASSERT_NE(firstHeard(heard), 0);
    EXPECT_TRUE(waitUntil([&] { return logged(L"не переключены на канал оповещений (1)") == 1; }));
    EXPECT_TRUE(m_gui.questions.empty());
    EXPECT_TRUE(channel().isRunning());
    EXPECT_EQ(state(a).first, 1u);
    channel().stop(AlarmChannel::Callback());
    EXPECT_TRUE(givenBack(a));
}

// A notice handed over while the request thread is busy counts its deadline
// from the hand-over: its stream starts as soon as the thread takes it up,
// beside a loudspeaker that gives no answer.
TEST_F(DeadlineTest, TheDeadlineCountsFromTheHandOver) {
    makeChannel(1500ms);
    device::sim::ReplyPolicy quiet;
    quiet.silent = true;
    m_speakers->sim(b).setReplyPolicy(quiet);
    GroupSniffer heard(kGroup, static_cast<std::uint16_t>(basePort() + 2));
    std::promise<void> busy;
    const std::shared_future<void> done = busy.get_future().share();
    channel().hand([done] { done.wait(); });
    channel().hand([&] { launch({a, b}, 3, longMessage); });
    std::this_thread::sleep_for(1600ms);  // past the notice's deadline
    const std::int64_t free = steady_us();
    busy.set_value();
    const std::int64_t first = firstHeard(heard);
    ASSERT_NE(first, 0);
    EXPECT_LT(first - free, 1000000) << "µs from the thread's turn to the first datagram";
    channel().hand([&] { channel().stop(AlarmChannel::Callback()); });
    channel().drainRequests();
}

/// The loudspeakers tell their stream port with their settings.
class StreamPortTest : public DeadlineTest {
protected:
    frm::AlarmChannelOptions::DiscoveryPort discoveryPort() override { return {}; }
    /// Not the base port: a stream heard there came from a read.
    std::uint16_t commandPort() const { return static_cast<std::uint16_t>(basePort() + 5); }
};

// The port is asked of the loudspeaker that answers soonest, before its
// switch, and is known from then on; when the only one asked is late, the
// stream goes by the deadline to the port of the base-port rule. Before,
// the port was read after the take, and a late loudspeaker cost the alarm
// its switch, its volume and the read; then behind its switch, where a late
// loudspeaker's answer came after the deadline.
TEST_F(StreamPortTest, ThePortIsReadBesideTheTakeAndNeverHoldsTheStream) {
    const auto quick = m_speakers->addWithSettings(commandPort());
    const auto slow = m_speakers->addWithSettings(commandPort());
    m_speakers->setReplyDelay(slow, kLate);
    slow->probeVolume();  // its lateness known to the transport
    m_speakers->sim(slow).clearReceived();
    const auto stateAsked = [&](const boost::shared_ptr<device::OrvelInfo>& d) {
        const Strings r = requests(d);
        return std::find(r.begin(), r.end(), "get state") != r.end();
    };
    {
        GroupSniffer read(kGroup, static_cast<std::uint16_t>(commandPort() + 2));
        ASSERT_TRUE(launch({quick, slow}, 3, longMessage));
        ASSERT_NE(firstHeard(read), 0);
        const Strings r = requests(quick);
        const auto asked = std::find(r.begin(), r.end(), "get state");
        ASSERT_NE(asked, r.end()) << ::testing::PrintToString(r);
        EXPECT_LT(asked, std::find(r.begin(), r.end(), "set ch 1")) << "asked before its switch";
        EXPECT_FALSE(stateAsked(slow));
        channel().stop(AlarmChannel::Callback());
        EXPECT_TRUE(givenBack(quick));
    }
    m_speakers->sim(quick).clearReceived();
    {
        GroupSniffer known(kGroup, static_cast<std::uint16_t>(commandPort() + 2));
        ASSERT_TRUE(launch({quick}, 3, longMessage));
        ASSERT_NE(firstHeard(known), 0);
        EXPECT_FALSE(stateAsked(quick)) << "its port is known";
        channel().stop(AlarmChannel::Callback());
    }
    const auto unread = m_speakers->addWithSettings(commandPort());
    m_speakers->setReplyDelay(unread, kLate);
    {
        GroupSniffer base(kGroup, static_cast<std::uint16_t>(basePort() + 2));
        GroupSniffer read(kGroup, static_cast<std::uint16_t>(commandPort() + 2));
        const std::int64_t launched = steady_us();
        channel().hand([&] { launch({unread}, 3, longMessage); });
        const std::int64_t first = firstHeard(base);
        ASSERT_NE(first, 0);
        EXPECT_LT(first - launched, std::chrono::microseconds(kLate).count());
        EXPECT_EQ(read.count(), 0u);
        channel().hand([&] { channel().stop(AlarmChannel::Callback()); });
        channel().drainRequests();
    }
}

// Loudspeakers late beyond their resend time, nothing learnt of them (the
// first alarm after the start): each is asked its port once before its
// switch, and the first answer, well before the deadline, is where the
// stream goes. Behind their switches the answer came after the deadline,
// and the stream went to the base-port rule's port, where none listens.
TEST_F(StreamPortTest, LateLoudspeakersTellThePortByTheDeadline) {
    makeChannel(frm::AlarmChannelOptions().deadline);
    frm::DeviceSet late;
    for (int i = 0; i < 3; ++i) {
        const auto d = m_speakers->addWithSettings(commandPort());
        m_speakers->setReplyDelay(d, 1200ms);
        late.insert(d);
    }
    GroupSniffer base(kGroup, static_cast<std::uint16_t>(basePort() + 2));
    GroupSniffer read(kGroup, static_cast<std::uint16_t>(commandPort() + 2));
    channel().hand([&] { launch(late, 3, longMessage); });
    // The stream starts at the deadline, to the port known by then.
    ASSERT_NE(firstHeard(read), 0);
    EXPECT_EQ(base.count(), 0u);
    for (const auto& d : late) {
        const Strings r = requests(d);
        EXPECT_EQ(std::count(r.begin(), r.end(), "get state"), 1) << "sent once: " << ::testing::PrintToString(r);
        EXPECT_EQ(std::count(r.begin(), r.end(), "set ch 1"), 1) << "its switch followed the answer at once";
    }
    channel().hand([&] { channel().stop(AlarmChannel::Callback()); });
    channel().drainRequests();
}

// Loudspeakers that answer in time do not wait for the deadline: the
// stream starts once all of them have taken the notice.
TEST_F(AlarmChannelTest, PromptLoudspeakersStartTheNoticeBeforeItsDeadline) {
    GroupSniffer heard(kGroup, static_cast<std::uint16_t>(basePort() + 2));
    const std::int64_t launched = steady_us();
    ASSERT_TRUE(launch({a, b}, 3, longMessage));
    ASSERT_TRUE(waitUntil([&] { return heard.count() > 0; }, 20s));
    EXPECT_LT(heard.snapshot().front().at_us - launched, std::chrono::microseconds(deadline()).count());
    channel().stop(AlarmChannel::Callback());
}

// Loudspeakers that give no answer yet are no reason to call the notice
// off: it goes on air and reaches them once they answer. Only a notice
// without a loudspeaker online has nobody to reach. Before, a notice whose
// loudspeakers had not answered ended with "no loudspeakers".
TEST_F(DeadlineTest, ANoticeWhoseLoudspeakersHaveNotAnsweredYetGoesOnAir) {
    device::sim::ReplyPolicy quiet;
    quiet.silent = true;
    m_speakers->sim(b).setReplyPolicy(quiet);
    GroupSniffer heard(kGroup, static_cast<std::uint16_t>(basePort() + 2));
    ASSERT_TRUE(launch({b}, 3, longMessage));
    ASSERT_NE(firstHeard(heard), 0);
    EXPECT_TRUE(channel().isRunning());
    m_speakers->sim(b).setReplyPolicy(device::sim::ReplyPolicy());
    EXPECT_TRUE(holds(b, 1, "-6", 30s));
    EXPECT_EQ(logged(L"Нет устройств для вещания"), 0);
    channel().stop(AlarmChannel::Callback());
    EXPECT_TRUE(givenBack(b));
}
