// ctest-labels: net
// The player channel on the real player (fixture plug-ins) and simulated
// loudspeakers; assertions read the loudspeakers' request logs.
#include <memory>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/playlist.h"
#include "device/models/playback_type.h"
#include "tests/audio/channel_fixture.h"
#include "tests/audio/player_fixture.h"

using namespace player_test;
using namespace channel_test;
using Strings = std::vector<std::string>;

namespace {

class PlayerChannelTest : public PlayerEnvironment {
protected:
    void SetUp() override {
        PlayerEnvironment::SetUp();
        m_speakers = std::make_unique<Speakers>();
        chosen = m_speakers->add();
        other = m_speakers->add();
        m_selection.zones = {chosen, other};
        frm::PlayerChannel::createInstance(&m_selection, &m_gui, std::chrono::milliseconds(pauseMs()));
    }
    void TearDown() override {
        settle();
        frm::PlayerChannel::destroyInstance();
        m_speakers.reset();
        PlayerEnvironment::TearDown();
    }
    virtual int pauseMs() { return 20; }

    boost::shared_ptr<Playlist> list(const std::string& name) {
        auto playlist = boost::make_shared<Playlist>(base::fromUtf8(name), true);
        playlist->add(base::fromUtf8(name + ".mp3"), file(name + ".mp3"));
        return playlist;
    }
    frm::PlayerChannel& channel() { return *frm::PlayerChannel::instance(); }
    bool playing() { return channel().isPlaying(); }
    bool playerPlays(const boost::shared_ptr<Playlist>& playlist) {
        return Player::getPlaylist() == playlist && Player::instance()->state() == EnginePlayer::k_state_playing;
    }
    /// Waits for the channel to settle in the given state with the
    /// dispatcher idle.
    void waitChannel(bool on) {
        ASSERT_TRUE(waitFor([&] { return playing() == on; })) << "channel playing " << on;
        settle();
    }
    Strings requests(const boost::shared_ptr<device::OrvelInfo>& d) { return m_speakers->requests(d); }

    std::unique_ptr<Speakers> m_speakers;
    boost::shared_ptr<device::OrvelInfo> chosen, other;
    FakeSelection m_selection;
    FakeGui m_gui;
};

class SlowPlayerChannelTest : public PlayerChannelTest {
protected:
    // Long enough that the second play always comes while the first job waits.
    int pauseMs() override { return 1500; }
};

const int kKeep = frm::PlayerChannel::kKeepVolume;

}  // namespace

TEST_F(PlayerChannelTest, RefusalsComeInOrderAndQueueNothing) {
    auto playlist = list("a");
    channel().play(playlist, {}, 80);
    EXPECT_EQ(logged(L"Нет устройств для воспроизведения", "WARN"), 1);

    // A loudspeaker on a notification channel carries the voice code. The
    // check may ask an Orvel-510 about its memory: the job makes it.
    ASSERT_TRUE(other->switchChannel(device::CHANNEL_NOTICE_HIGH));
    channel().play(playlist, {chosen, other}, 80);
    settle();
    EXPECT_EQ(logged(L"запущено оповещение с более высоким приоритетом", "NOTICE"), 1);
    ASSERT_TRUE(other->switchChannel(device::CHANNEL_NOTICE_LOW));
    channel().play(playlist, {other}, 80);
    settle();
    EXPECT_EQ(logged(L"запущено оповещение с более высоким приоритетом", "NOTICE"), 2);
    EXPECT_FALSE(playing());
    EXPECT_EQ(requests(chosen), Strings{});
    EXPECT_EQ(Player::getPlaylist(), nullptr);
}

TEST_F(PlayerChannelTest, PlayMutesTheOthersSetsTheVolumeAndStopGivesEverythingBack) {
    auto playlist = list("a");
    channel().play(playlist, {chosen}, 80);
    waitChannel(true);
    EXPECT_TRUE(playerPlays(playlist));
    EXPECT_EQ(requests(chosen), Strings{"set vol -6"});
    EXPECT_EQ(requests(other), Strings{"set vol -96"});

    // The same request again is skipped; another volume is played anew.
    channel().play(playlist, {chosen}, 80);
    EXPECT_EQ(logged(L"Skip playing the same playlist and devices", "INFO"), 1);

    channel().stop();
    waitChannel(false);
    EXPECT_EQ(requests(chosen), (Strings{"set vol -6", "set vol -15"}));
    ASSERT_EQ(requests(other).size(), 2u);
    EXPECT_NE(requests(other)[1], "set vol -96") << "volume switched back on";
    EXPECT_TRUE(other->isVolumeEnabled());
    EXPECT_EQ(Player::getPlaylist(), nullptr) << "the player was idle without a playlist: reset";
}

TEST_F(SlowPlayerChannelTest, TwoQuickPlaysQueueOneJobThatPlaysTheSecond) {
    auto first = list("first");
    auto second = list("second");
    channel().play(first, {chosen}, kKeep);
    // The second play comes while the first job pauses with the channel's
    // lock let go (before that pause a play is refused: "wait for the
    // previous operation").
    ASSERT_TRUE(waitFor([&] { return logged(L"waiting stopping 2") == 1; }));
    channel().play(second, {chosen}, 60);
    waitChannel(true);
    EXPECT_EQ(logged(L"Player channel: skip play", "EXTERN"), 1);
    EXPECT_TRUE(playerPlays(second));
    for (const auto& p : plays()) EXPECT_EQ(p.find("first"), std::string::npos) << p;
    EXPECT_EQ(requests(chosen), Strings{"set vol -12"});
}

TEST_F(PlayerChannelTest, PlayWhilePlayingRestoresFirstThenStartsTheNewRequest) {
    auto first = list("first");
    auto second = list("second");
    channel().play(first, {chosen}, 80);
    waitChannel(true);
    channel().play(second, {other}, 60);
    ASSERT_TRUE(waitFor([&] { return playerPlays(second) && playing(); }));
    settle();
    // chosen: raised, restored, then muted as one of the others of the new request.
    EXPECT_EQ(requests(chosen), (Strings{"set vol -6", "set vol -15", "set vol -96"}));
    // other: muted, switched back on, then given the new volume.
    const Strings o = requests(other);
    ASSERT_EQ(o.size(), 3u);
    EXPECT_EQ(o[0], "set vol -96");
    EXPECT_EQ(o[2], "set vol -12");
}

// A play refused because one of its loudspeakers plays a higher notice,
// while another message plays: the refusal is told, and the running message
// plays on with every loudspeaker as it was until its own stop. Before, the
// running message was stopped and its volumes given back first.
TEST_F(PlayerChannelTest, APlayRefusedWhilePlayingLeavesTheRunningPlaybackAndTheLoudspeakers) {
    auto first = list("first");
    auto second = list("second");
    channel().play(first, {chosen}, 80);
    waitChannel(true);
    ASSERT_TRUE(other->switchChannel(device::CHANNEL_NOTICE_HIGH));
    const Strings chosenBefore = requests(chosen);
    const Strings otherBefore = requests(other);

    channel().play(second, {chosen, other}, 60);
    settle();
    EXPECT_EQ(logged(L"запущено оповещение с более высоким приоритетом", "NOTICE"), 1);
    EXPECT_TRUE(playing());
    EXPECT_TRUE(playerPlays(first));
    EXPECT_EQ(requests(chosen), chosenBefore);
    EXPECT_EQ(requests(other), otherBefore);

    // The running request is the one kept: played again, it is skipped.
    channel().play(first, {chosen}, 80);
    EXPECT_EQ(logged(L"Skip playing the same playlist and devices", "INFO"), 1);
    channel().stop();
    waitChannel(false);
    EXPECT_EQ(requests(chosen), (Strings{"set vol -6", "set vol -15"}));
}

// A stop asked after a play that waits to replace the playback wins: the
// playback stops and the play is dropped with it; a play after a stop
// starts once the stop is done.
TEST_F(PlayerChannelTest, OfAPlayAndAStopWhilePlayingTheLaterOneWins) {
    auto first = list("first");
    auto second = list("second");
    channel().play(first, {chosen}, 80);
    waitChannel(true);
    channel().play(second, {chosen}, 60);
    channel().stop();
    settle();
    waitChannel(false);
    EXPECT_EQ(Player::getPlaylist(), nullptr);

    channel().play(first, {chosen}, 80);
    waitChannel(true);
    channel().stop();
    channel().play(second, {chosen}, 60);
    settle();
    ASSERT_TRUE(waitFor([&] { return playerPlays(second) && playing(); }));
    settle();
    EXPECT_TRUE(playerPlays(second));
}

TEST_F(PlayerChannelTest, ThePlayerGetsItsPlaylistBackAsItWas) {
    auto own = list("own");
    auto borrowed = list("borrowed");

    // Set but not playing: set back without playing. A kept volume is left
    // alone; the others are still muted and restored.
    Player::instance()->setPlaylist(own);
    channel().play(borrowed, {chosen}, kKeep);
    waitChannel(true);
    EXPECT_EQ(requests(chosen), Strings{});
    EXPECT_EQ(requests(other), Strings{"set vol -96"});
    channel().stop();
    waitChannel(false);
    EXPECT_EQ(requests(chosen), Strings{});
    EXPECT_EQ(requests(other).size(), 2u);
    EXPECT_EQ(Player::getPlaylist(), own);
    EXPECT_NE(Player::instance()->state(), EnginePlayer::k_state_playing);

    // Playing: resumed.
    Player::play(own);
    channel().play(borrowed, {chosen}, kKeep);
    waitChannel(true);
    EXPECT_TRUE(playerPlays(borrowed));
    channel().stop();
    waitChannel(false);
    EXPECT_TRUE(playerPlays(own));

    // Forgotten (an alarm of priority 4 came between): reset instead.
    channel().play(borrowed, {chosen}, kKeep);
    waitChannel(true);
    frm::PlayerChannel::resetLastPlayback();
    channel().stop();
    waitChannel(false);
    EXPECT_EQ(Player::getPlaylist(), nullptr);
}

TEST_F(PlayerChannelTest, TheEndOfARepeatingPlaylistStopsTheChannelAndResumesThePlayer) {
    auto own = list("own");
    Player::play(own);
    ::setenv("SONVAR_FIXTURE_EOF_MS", "50", 1);
    auto message = list("message");
    channel().play(message, {chosen}, 80);
    ASSERT_TRUE(waitFor([&] { return playing(); }));
    ASSERT_TRUE(waitFor([&] { return !playing(); }, 8000)) << "the end callback stopped the channel";
    ::unsetenv("SONVAR_FIXTURE_EOF_MS");
    settle();
    EXPECT_EQ(Player::getPlaylist(), own);
    EXPECT_EQ(requests(chosen), (Strings{"set vol -6", "set vol -15"}));
    EXPECT_TRUE(other->isVolumeEnabled());
}

// The check for notices of the loudspeakers' own ends within the message's
// pause: an Orvel-510 that answers its memory's state 1.9 s late counts as
// playing none, and the message starts by its deadline; a loudspeaker that
// plays one refuses the message, and the player plays on what the message
// stopped. Before, the check waited for the late answer before the pause.
TEST_F(PlayerChannelTest, TheOwnNoticeCheckEndsWithinThePauseAndARefusalLeavesThePlayerPlaying) {
    const auto orvel510 = m_speakers->add(5);
    m_speakers->setReplyDelay(orvel510, std::chrono::milliseconds(1900));
    auto message = list("message");
    const auto played = std::chrono::steady_clock::now();
    channel().play(message, {orvel510}, kKeep);
    ASSERT_TRUE(waitFor([&] { return playing(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - played, std::chrono::milliseconds(1900));
    ASSERT_FALSE(requests(orvel510).empty());
    EXPECT_EQ(requests(orvel510).front(), "mem state") << "asked all the same";
    channel().stop();
    waitChannel(false);

    auto own = list("own");
    Player::play(own);
    for (const auto& d : {chosen, other}) m_speakers->sim(d).clearReceived();
    m_speakers->sim(chosen).startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), 9}, 0ms);
    chosen->setPlaybackTypeForce(device::playback::kScenarioServer);
    channel().play(message, {chosen}, 80);
    ASSERT_TRUE(waitFor([&] { return logged(L"запущено оповещение с более высоким приоритетом") == 1; }));
    settle();
    EXPECT_FALSE(playing());
    EXPECT_TRUE(playerPlays(own));
    EXPECT_EQ(requests(chosen), Strings{});
    EXPECT_EQ(requests(other), Strings{}) << "nobody muted";
}
