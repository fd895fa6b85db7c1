#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "audio/player.h"
#include "audio/playlist.h"
#include "tests/audio/player_fixture.h"

// The player on the real plug-in host with the fixture plug-ins.

using namespace player_test;

namespace {

class PlayerTest : public PlayerEnvironment {
protected:
    /// "a.mp3", "b.ogg", "c.wma": each goes to another fixture plug-in.
    boost::shared_ptr<Playlist> threeFiles(bool repeat) {
        auto playlist = boost::make_shared<Playlist>(L"three", repeat);
        for (const char* name : {"a.mp3", "b.ogg", "c.wma"}) playlist->add(base::fromUtf8(name), file(name));
        return playlist;
    }
    std::string path(const std::string& name) const { return m_dir.path() + "/" + name; }
    Player& player() { return *Player::instance(); }
};

using PlayerDeathTest = PlayerTest;

}  // namespace

TEST_F(PlayerTest, ItemsThatEndMoveOnAndARepeatingListWrapsWithOneEndSignal) {
    ::setenv("SONVAR_FIXTURE_EOF_MS", "20", 1);
    auto playlist = threeFiles(true);
    auto told = observe(*playlist);
    Player::play(playlist);
    ASSERT_TRUE(waitFor([&] { return plays().size() >= 4; })) << trace();
    player().stop(false);
    const auto played = plays();
    EXPECT_EQ(std::vector<std::string>(played.begin(), played.begin() + 4),
              (std::vector<std::string>{path("a.mp3"), path("b.ogg"), path("c.wma"), path("a.mp3")}));
    ASSERT_TRUE(waitFor([&] { return told->ends >= 1; }));
    settle();
    EXPECT_EQ(told->ends, 1);
    EXPECT_EQ(player().state(), 0);
}

TEST_F(PlayerTest, ANonRepeatingListEndsAndLeavesThePlayerStopped) {
    ::setenv("SONVAR_FIXTURE_EOF_MS", "20", 1);
    auto playlist = threeFiles(false);
    auto told = observe(*playlist);
    playlist->setCurrent(1);
    Player::play(playlist);
    ASSERT_TRUE(waitFor([&] { return told->ends == 1; })) << trace();
    settle();
    EXPECT_EQ(plays(), (std::vector<std::string>{path("b.ogg"), path("c.wma")}));
    EXPECT_EQ(player().state(), 0);
    EXPECT_FALSE(playlist->isPlayable());
    EXPECT_EQ(told->playingTrue, 2);
    EXPECT_EQ(told->playingFalse, 2);
    EXPECT_EQ(told->stops, 0);   // the end is no stop by request
    // playAt clears the end mark and plays again.
    ::unsetenv("SONVAR_FIXTURE_EOF_MS");
    Player::playAt(0);
    EXPECT_EQ(plays().back(), path("a.mp3"));
    EXPECT_EQ(player().state(), EnginePlayer::k_state_playing);
}

TEST_F(PlayerTest, PreviousFromTheFirstItemPlaysTheLastWithoutEndSignal) {
    auto playlist = threeFiles(true);
    auto told = observe(*playlist);
    Player::play(playlist);
    Player::previous();
    Player::previous();
    EXPECT_EQ(plays(), (std::vector<std::string>{path("a.mp3"), path("c.wma"), path("b.ogg")}));
    settle();
    EXPECT_EQ(told->ends, 0);
    // next by hand from the last item wraps and tells the end.
    player().next();
    player().next();
    EXPECT_EQ(plays().back(), path("a.mp3"));
    ASSERT_TRUE(waitFor([&] { return told->ends == 1; }));
}

TEST_F(PlayerTest, AnAudioInputIsFoundOnlyByItsExactName) {
    m_captureDevices = {{L"Mic 10", 2, "hw:2"}, {L"Mic 1", 7, "hw:7"}, {L"Mic 1", 9, "hw:9"}};
    auto playlist = boost::make_shared<Playlist>(L"inputs", true);
    playlist->add(L"exact", L"adev://Mic 1");
    playlist->add(L"case", L"adev://mic 1");
    auto told = observe(*playlist);
    Player::play(playlist);
    EXPECT_EQ(plays(), (std::vector<std::string>{"line://dev=7"}));
    EXPECT_EQ(player().state(), EnginePlayer::k_state_playing);

    Player::playAt(1);
    EXPECT_EQ(plays().size(), 1u);
    EXPECT_EQ(player().state(), 0);
    EXPECT_EQ(logged(L"Неизвестное аудио-устройство 'mic 1' (возможно было отключено)", "WARN"), 1);
    settle();
    EXPECT_EQ(told->playingTrue, 1);
    EXPECT_EQ(told->playingFalse, 0);   // a missing input tells nobody
}

TEST_F(PlayerTest, OnlyAStopWithNotifyTellsTheStopObserver) {
    auto playlist = threeFiles(true);
    auto told = observe(*playlist);
    Player::play(playlist);
    player().stop(false);
    ASSERT_TRUE(waitFor([&] { return told->playingFalse == 1; }));
    Player::play(playlist);   // same playlist again: switching to it is a stop by request
    ASSERT_TRUE(waitFor([&] { return told->stops == 1; }));
    told->stops = 0;
    playlist->setCallbackIfStop([told] { ++told->stops; });
    player().stop(true);
    ASSERT_TRUE(waitFor([&] { return told->stops == 1 && told->playingFalse == 2; }));

    // Another playlist takes over: the first one is told it was stopped.
    auto other = threeFiles(true);
    Player::play(playlist);
    playlist->setCallbackIfStop([told] { told->stops += 10; });
    Player::play(other);
    ASSERT_TRUE(waitFor([&] { return told->stops == 11; }));
    EXPECT_EQ(Player::getPlaylist(), other);

    // Without a playlist nothing is told, and reset drops the playlist.
    Player::reset();
    EXPECT_FALSE(Player::getPlaylist());
    player().stop(true);
    Player::playAt(0);
    EXPECT_EQ(logged(L"Аудио не запущено", "WARN"), 1);
    settle();
    EXPECT_EQ(told->stops, 11);
}

TEST_F(PlayerTest, AFailedStartLeavesThePlayerStoppedAndSaysSo) {
    ::setenv("SONVAR_FIXTURE_FAIL", "all", 1);
    auto playlist = threeFiles(true);
    auto told = observe(*playlist);
    Player::play(playlist);
    EXPECT_EQ(player().state(), 0);
    ASSERT_TRUE(waitFor([&] { return told->playingFalse == 1; }));
    EXPECT_EQ(told->playingTrue, 0);
}

TEST_F(PlayerTest, AfterShutdownHasBegunNothingPlaysOrStops) {
    auto playlist = threeFiles(true);
    auto told = observe(*playlist);
    Player::play(playlist);
    player().setShuttingDown();
    player().stop(true);
    EXPECT_EQ(player().state(), EnginePlayer::k_state_playing);
    EXPECT_EQ(m_engine->current_source(), base::fromUtf8(path("a.mp3")));
    Player::playAt(2);
    EXPECT_EQ(plays().size(), 1u);
    settle();
    EXPECT_EQ(told->stops, 0);
}

TEST_F(PlayerDeathTest, NoEngineOrNoPlaylistEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Player(nullptr), ::testing::ExitedWithCode(1), "player pointer == NULL");
    EXPECT_EXIT(player().playItem(), ::testing::ExitedWithCode(1), "Pointer isn't set. Place Player::play");
    EXPECT_EXIT(player().next(), ::testing::ExitedWithCode(1), "Pointer isn't set. Place Player::next");
    auto empty = boost::make_shared<Playlist>(L"empty", true);
    Player::play(empty);   // not playable: nothing happens
    EXPECT_EQ(plays().size(), 0u);
}
