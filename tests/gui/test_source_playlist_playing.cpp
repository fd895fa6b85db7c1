// ctest-labels: net
// The music page playing through the program's player, the shipped plug-ins
// and the common stream, heard by ffmpeg on the group; the alarm channel with
// simulated loudspeakers decides whether Play may take the common channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/playback_type.h"
#include "tests/audio/channel_fixture.h"
#include "tests/audio/wire_fixture.h"
#include "tests/gui/playlist_page.h"
#include "tests/support/wav_file.h"
#include "tools/stream_probe.h"

using namespace page_testing;
using namespace std::chrono_literals;
using frm::AlarmChannel;

namespace {

const char* const kCommonGroup = "224.0.224.72";
const std::uint16_t kCommonPort = 14621;
const char* const kNoticeGroup = "224.0.224.73";
const int kNoticeBasePort = 14630;

class PlayingOnTheWire : public PageSite {
protected:
    std::wstring pluginFolder() override { return engine_test::product_folder(); }
    void prepareStream(mp3stream& common) override {
        wire_test::open_common_stream(common, kCommonGroup, kCommonPort);
    }
    void SetUp() override {
        PageSite::SetUp();
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "multicast.address", pref::Type::TypeString) = kNoticeGroup;
            pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = kNoticeBasePort;
        }
        notices.set_stream_fmt(128);
        notices.set_stream_ttl(1);
        notices.set_address_interface("127.0.0.1", 9);
        speakers = std::make_unique<channel_test::Speakers>();
        a = speakers->add();
        b = speakers->add();
        selection.zones = {a, b};
        frm::AlarmChannelOptions options;
        options.watcherPeriod = 100ms;
        options.discoveryPort = [](device::OrvelInfo&) {
            return static_cast<std::uint16_t>(kNoticeBasePort + 1);
        };
        AlarmChannel::createInstance(&selection, &gui, notices, options);
    }
    void TearDown() override {
        AlarmChannel::destroyInstance();
        speakers.reset();
        PageSite::TearDown();
    }
    std::wstring wav(const std::string& name, const std::vector<double>& tones) {
        const std::string path = m_dir.path() + "/" + name;
        testing_support::writeBytes(
            path, testing_support::wavFile(stream_probe::stepped_tone(tones, 400, 44100, 1), 44100, 1));
        return base::fromUtf8(path);
    }
    /// A notice on both loudspeakers that they take over with one of their own.
    void preemptedNotice() {
        const std::string message = m_dir.path() + "/notice.mp3";
        ASSERT_TRUE(
            stream_probe::write_mp3(message, stream_probe::stepped_tone({440}, 8000, 44100, 1), 44100, 1));
        std::atomic<int> codes{0};
        ASSERT_TRUE(AlarmChannel::instance()->launch(
            AlarmChannel::kMessageList, true, {a, b}, base::fromUtf8(message), L"", L"", 3, 80, L"test",
            [&](int) { ++codes; }, false));
        ASSERT_TRUE(testing_support::waitUntil([&] { return codes > 0; }, 20000ms)) << "the notice started";
        for (const auto& speaker : {a, b}) {
            speakers->sim(speaker).startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), 9}, 0ms);
            speaker->setPlaybackTypeForce(device::playback::kScenarioServer);
        }
        ASSERT_TRUE(testing_support::waitUntil([&] { return codes == 2; }, 10000ms)) << "pre-empted";
    }

    mp3streamf notices;
    std::unique_ptr<channel_test::Speakers> speakers;
    boost::shared_ptr<device::OrvelInfo> a, b;
    channel_test::FakeSelection selection;
    channel_test::FakeGui gui;
};

}  // namespace

TEST_F(PlayingOnTheWire, PlayWaitsForTheLoudspeakersThenTheCommonStreamCarriesBothFiles) {
    open(false);
    const auto tones =
        addPlaylist(L"Тоны", {wav("first.wav", {400, 500, 600}), wav("second.wav", {800, 900, 1000})});
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    preemptedNotice();

    // The loudspeakers are asked on the alarm channel's request thread, not
    // by the window; a play it allowed would reach the GUI thread before
    // what that thread hands on after it.
    click(page->play);
    std::atomic<bool> behind{false};
    AlarmChannel::instance()->hand([&behind] { GuiThreadInvoker::add([&behind] { behind = true; }); });
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return behind.load(); }, 10s));
    EXPECT_FALSE(Player::getPlaylist()) << "the loudspeakers still play their own";
    EXPECT_FALSE(playing());

    for (const auto& speaker : {a, b}) speaker->resetPlaybackType();
    stream_probe::LiveReceiver receiver(kCommonGroup, kCommonPort, m_dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());
    ASSERT_TRUE(stream.stream_start());
    click(page->play);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return Player::getPlaylist() == tones; }, 10s));
    // Given back to the common channel, without the window waiting for it.
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] {
        const auto sent = speakers->requests(a);
        return std::find(sent.begin(), sent.end(), "set ch 0") != sent.end();
    }));
    EXPECT_TRUE(
        wx_testing::runEventLoopUntil([&] { return green(page->trackList) == std::vector<long>{0}; }));
    // The second file plays once the first has ended, through the GUI thread.
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return tones->getCurrentPosition() == 1; }, 20s));
    EXPECT_TRUE(
        wx_testing::runEventLoopUntil([&] { return green(page->trackList) == std::vector<long>{1}; }));
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return tones->getCurrentPosition() == 0; }, 20s));
    // The first file follows the second at once on the running stream; the
    // second one's end leaves the stream within a second, then the stop.
    wx_testing::runEventLoopFor(1500ms);
    click(page->stop);
    stream.stream_stop();
    const std::vector<double> heard = {400, 500, 600, 800, 900, 1000};
    wire_test::expect_tones_whole(wire_test::until_repeat(receiver.samples(), heard), heard, 6);
}

// Behind a pre-empted notice, an Orvel-510 answering its memory's state
// 1.9 s late: Play returns at once (the window waited for that answer), and
// the playlist plays once every loudspeaker has answered and is back.
TEST_F(PlayingOnTheWire, PlayBehindAPreemptedNoticeLeavesTheWindowFreeWhileALateLoudspeakerAnswers) {
    open(false);
    const auto tones = addPlaylist(L"Тоны", {wav("first.wav", {400, 500, 600})});
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    const auto late = speakers->add(5);
    speakers->setReplyDelay(late, 1900ms);
    selection.zones.insert(late);
    preemptedNotice();
    for (const auto& speaker : {a, b}) speaker->resetPlaybackType();

    const auto clicked = std::chrono::steady_clock::now();
    click(page->play);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - clicked)
                  .count(),
              500);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return Player::getPlaylist() == tones; }, 10s));
    const auto sent = speakers->requests(late);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "mem state"), sent.end()) << "the late one was asked";
    click(page->stop);
}
