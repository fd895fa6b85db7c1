// ctest-labels: net
// The message pages playing through the program's channels: the service
// page's gong and message on the common stream through the player channel,
// the alarm page's as a notice of priority 3 through the alarm channel, on
// simulated loudspeakers, heard by ffmpeg on the groups; and what the pages'
// stop button ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "audio/player_channel.h"
#include "tests/audio/channel_fixture.h"
#include "tests/audio/wire_fixture.h"
#include "tests/gui/message_page.h"
#include "tests/gui/player_site.h"
#include "tests/support/test_index.h"
#include "tools/stream_probe.h"

using namespace message_testing;
using namespace std::chrono_literals;
using frm::AlarmChannel;
using frm::PlayerChannel;
using Strings = std::vector<std::string>;

namespace {

std::string commonGroup() { return "224.0.225." + std::to_string(10 + 2 * testing_support::indexInSuite()); }
std::uint16_t commonPort() {
    return static_cast<std::uint16_t>(14661 + 20 * testing_support::indexInSuite());
}
std::string noticeGroup() { return "224.0.225." + std::to_string(11 + 2 * testing_support::indexInSuite()); }
int noticeBasePort() { return 14670 + 20 * testing_support::indexInSuite(); }
/// The notification stream's port: channel 1 above the loudspeakers' 0.
std::uint16_t noticePort() { return static_cast<std::uint16_t>(noticeBasePort() + 2); }

class MessagesOnTheWire : public page_testing::PlayerSite {
protected:
    std::wstring pluginFolder() override { return engine_test::product_folder(); }
    void prepareStream(mp3stream& common) override {
        wire_test::open_common_stream(common, commonGroup(), commonPort());
    }
    void SetUp() override {
        PlayerSite::SetUp();
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "multicast.address", pref::Type::TypeString) = noticeGroup();
            pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = noticeBasePort();
            pref::create(g_pref, "volume.serviceMessage2", pref::Type::TypeInt) = 80;
        }
        notices.set_stream_fmt(128);
        notices.set_stream_ttl(1);
        notices.set_address_interface("127.0.0.1", 9);
        speakers = std::make_unique<channel_test::Speakers>();
        a = speakers->add();
        b = speakers->add();
        selection.selected = {a};
        selection.zones = {a, b};
        frm::AlarmChannelOptions options;
        options.watcherPeriod = 100ms;
        options.discoveryPort =
            [port = static_cast<std::uint16_t>(noticeBasePort() + 1)](device::OrvelInfo&) { return port; };
        AlarmChannel::createInstance(&selection, &gui, notices, options);
        PlayerChannel::createInstance(&selection, &gui, 20ms);

        mp3(folders.put("gongs/Гонг.mp3", ""), {880}, 1500);
        mp3(folders.put("data/service/Эвакуация.mp3", ""), {440}, 3000);
        mp3(folders.put("data/alarm/Пожар.mp3", ""), {440}, 3000);
    }
    void TearDown() override {
        for (Page* page : pages) page->GetParent()->Destroy();
        wx_testing::runEventLoopFor(20ms);
        PlayerChannel::destroyInstance();
        AlarmChannel::destroyInstance();
        speakers.reset();
        PlayerSite::TearDown();
    }
    static void mp3(const std::wstring& path, const std::vector<double>& tones, unsigned ms) {
        ASSERT_TRUE(stream_probe::write_mp3(base::toUtf8(path),
                                            stream_probe::stepped_tone(tones, ms, 44100, 1), 44100, 1));
    }
    /// The page with one group holding one message with the gong, selected.
    Page* open(bool alarm) {
        frm::SourceServicePanel::Outside outside = folders.outside(&usedFiles, &checked);
        outside.fileMasks = [this] { return engine->getFileFilter(true); };
        pages.push_back(showPage(&scheduler, alarm, outside));
        pages.back()->fill(L"Группа", {{L"Сообщение", 0}}, 1);
        pages.back()->select(L"Группа", L"Сообщение");
        return pages.back();
    }
    static bool has(const Strings& texts, const std::string& text) {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
    PlayerChannel& player() { return *PlayerChannel::instance(); }
    AlarmChannel& alarms() { return *AlarmChannel::instance(); }

    Folders folders{m_dir.path()};
    FakeScheduler scheduler;
    std::set<std::wstring> usedFiles;
    std::vector<std::wstring> checked;
    std::vector<Page*> pages;
    mp3streamf notices;
    std::unique_ptr<channel_test::Speakers> speakers;
    boost::shared_ptr<device::OrvelInfo> a, b;
    channel_test::FakeSelection selection;
    channel_test::FakeGui gui;
};

}  // namespace

TEST_F(MessagesOnTheWire, TheServicePagePlaysTheGongThenTheMessageOnTheCommonStream) {
    Page* page = open(false);
    stream_probe::LiveReceiver receiver(commonGroup(), commonPort(), m_dir.path() + "/common.raw");
    ASSERT_TRUE(receiver.joined());
    ASSERT_TRUE(stream.stream_start());
    Page::click(page->play);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return player().isPlaying(); }, 10s));
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return !player().isPlaying(); }, 30s))
        << "the message's end stops the channel";
    stream.stream_stop();
    wire_test::expect_tones_whole(receiver.samples(), {880, 440}, 15);

    EXPECT_TRUE(has(speakers->requests(a), "set vol -6")) << "the service volume on the selected loudspeaker";
    EXPECT_TRUE(has(speakers->requests(b), "set vol -96")) << "the others muted";
    EXPECT_FALSE(alarms().isRunning());
}

TEST_F(MessagesOnTheWire, TheAlarmPagePlaysANoticeOfPriorityThreeAtFullVolume) {
    Page* page = open(true);
    stream_probe::LiveReceiver receiver(noticeGroup(), noticePort(), m_dir.path() + "/notice.raw", 6000);
    ASSERT_TRUE(receiver.joined());
    Page::click(page->play);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return alarms().isRunning(); }, 5s));
    EXPECT_EQ(alarms().getPriority(), 3);
    EXPECT_EQ(alarms().getDescription(), L"Тревожное оповещение");
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return !alarms().isRunning(); }, 30s));
    const auto track = stream_probe::tone_track(receiver.samples(), {880, 440});
    const auto counts = stream_probe::tone_counts(track, 2);
    EXPECT_GE(counts[0], 15) << "gong: " << ::testing::PrintToString(track);
    EXPECT_GE(counts[1], 50) << "message: " << ::testing::PrintToString(track);
    EXPECT_TRUE(stream_probe::tones_in_order(track));

    const Strings sent = speakers->requests(a);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), "set ch 1");
    EXPECT_EQ(sent.back(), "set ch 0");
    EXPECT_TRUE(has(sent, "set vol 0")) << ::testing::PrintToString(sent);
    EXPECT_FALSE(has(speakers->requests(b), "set ch 1")) << "only the selected loudspeaker";
}

TEST_F(MessagesOnTheWire, StopEndsWhatThePagePlaysButNeverANoticeOfPriorityFour) {
    Page* service = open(false);
    Page::click(service->play);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return player().isPlaying(); }, 10s));
    Page::click(service->stop);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !player().isPlaying(); }, 10s));

    Page* alarm = open(true);
    Page::click(alarm->play);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return alarms().isRunning(); }, 5s));
    Page::click(alarm->stop);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !alarms().isRunning(); }, 10s));

    std::atomic<int> codes{0};
    ASSERT_TRUE(alarms().launch(
        AlarmChannel::kMessageList, true, {a}, folders.path("data/alarm/Пожар.mp3"), L"", L"", 4, 80,
        L"Пожар", [&](int) { ++codes; }, false));
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return alarms().isRunning(); }, 5s));
    Page::click(alarm->stop);
    Page::click(service->stop);
    wx_testing::runEventLoopFor(500ms);
    EXPECT_TRUE(alarms().isRunning()) << "priority 4 is left running";
    EXPECT_EQ(alarms().getPriority(), 4);
    alarms().stop(AlarmChannel::Callback());
    EXPECT_FALSE(alarms().isRunning());
}
