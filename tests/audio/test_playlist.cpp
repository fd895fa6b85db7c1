#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "audio/playlist.h"
#include "tests/audio/player_fixture.h"

// The playlist on its own; its observers are queued on the dispatcher.

using namespace player_test;

namespace {

class PlaylistTest : public PlayerEnvironment {
protected:
    /// A playlist of files named "0.mp3" .. "<count-1>.mp3".
    boost::shared_ptr<Playlist> numbered(unsigned count, bool repeat = true) {
        auto playlist = boost::make_shared<Playlist>(L"list", repeat);
        for (unsigned i = 0; i < count; ++i)
            EXPECT_TRUE(playlist->add(std::to_wstring(i), file(std::to_string(i) + ".mp3")));
        return playlist;
    }
};

using PlaylistDeathTest = PlaylistTest;

}  // namespace

TEST_F(PlaylistTest, RefusedAddsUseUpIdsAndOnlyKnownSourcesSkipTheDisk) {
    Playlist playlist(L"list", true);
    const std::wstring song = file("song.mp3");
    EXPECT_FALSE(playlist.add(L"", song));         // id 0 used up
    EXPECT_TRUE(playlist.add(L"Song", song));      // id 1
    EXPECT_FALSE(playlist.add(L"Gone", L"/nowhere/gone.mp3"));  // id 2
    EXPECT_TRUE(playlist.add(L"Folder", m_dir.widePath()));     // an existing folder is fine
    // The four schemes count anywhere in the text; others are looked up on disk.
    EXPECT_TRUE(playlist.add(L"Radio", L"http://radio.example/live"));
    EXPECT_TRUE(playlist.add(L"Tone", L"sine://1000"));
    EXPECT_TRUE(playlist.add(L"Mic", L"adev://Mic 1"));
    EXPECT_TRUE(playlist.add(L"Line", L"see line://1"));
    EXPECT_FALSE(playlist.add(L"Windows media", L"mms://radio.example/live"));
    const auto items = playlist.getItems();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].id, 1u);
    EXPECT_EQ(items[1].id, 3u);
    EXPECT_EQ(items[5].id, 7u);

    // A bad path is told twice, a missing title once.
    EXPECT_EQ(logged(L"Skip adding into playlist (name 'list'). id '2', title 'Gone', path '/nowhere/gone.mp3'"), 1);
    EXPECT_EQ(logged(L"Путь некорректный '/nowhere/gone.mp3'", "WARN"), 1);
    EXPECT_EQ(logged(L"Skip adding into playlist (name 'list'). id '0', title ''"), 1);
    EXPECT_EQ(logged(L"Путь некорректный '" + song), 0);

    // A list of items gets ids of its own; the given ones do not count.
    Playlist other(L"other", false);
    other.add({{L"A", song, 40}, {L"", song, 0}, {L"C", L"http://c", 7}});
    const auto added = other.getItems();
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].id, 0u);
    EXPECT_EQ(added[1].id, 2u);

    // Edit finds the item by id and checks the new content.
    EXPECT_TRUE(other.edit({L"C2", L"http://c2", 2}));
    EXPECT_FALSE(other.edit({L"C3", L"/nowhere/c3.mp3", 2}));
    EXPECT_FALSE(other.edit({L"X", song, 1}));   // id 1 was refused: no such item
    EXPECT_FALSE(other.edit({L"X", song, 9}));   // above every id given so far
    EXPECT_EQ(other.getItems()[1].title, L"C2");

    // clear starts the ids again.
    other.clear();
    EXPECT_TRUE(other.add(L"again", song));
    EXPECT_EQ(other.getItems()[0].id, 0u);
}

TEST_F(PlaylistTest, NextWrapsSignallingTheEndAndEndsOnlyANonRepeatingList) {
    auto repeating = numbered(3, true);
    auto toldRepeating = observe(*repeating);
    repeating->setCurrent(2);
    EXPECT_EQ(repeating->next().title, L"0");
    EXPECT_TRUE(repeating->isPlayable());
    EXPECT_EQ(repeating->previous().title, L"2");   // from the first to the last, no end signal
    EXPECT_EQ(repeating->previous().title, L"1");

    auto once = numbered(2, false);
    auto toldOnce = observe(*once);
    EXPECT_EQ(once->next().title, L"1");
    EXPECT_EQ(once->next().title, L"0");
    EXPECT_FALSE(once->isPlayable());
    EXPECT_FALSE(once->isEmpty());
    once->setCurrent(1);
    EXPECT_TRUE(once->isPlayable());

    ASSERT_TRUE(waitFor([&] { return toldRepeating->ends == 1 && toldOnce->ends == 1; }));
    // The end observer stays: a second end is told again.
    once->next();
    ASSERT_TRUE(waitFor([&] { return toldOnce->ends == 2; }));
    settle();
    EXPECT_EQ(toldRepeating->ends, 1);
}

TEST_F(PlaylistTest, StopIsToldOnceAndPlayingCarriesItsValue) {
    auto playlist = numbered(1);
    auto told = observe(*playlist);
    playlist->notifyStop();
    playlist->notifyStop();
    playlist->notifyPlaying(true);
    playlist->notifyPlaying(false);
    playlist->notifyPlaying(false);
    ASSERT_TRUE(waitFor([&] { return told->stops == 1 && told->playingTrue == 1 && told->playingFalse == 2; }));
    settle();
    EXPECT_EQ(told->stops, 1);
    // A newly installed stop observer is told again.
    playlist->setCallbackIfStop([told] { told->stops += 10; });
    playlist->notifyStop();
    ASSERT_TRUE(waitFor([&] { return told->stops == 11; }));
}

TEST_F(PlaylistTest, DeletingRowsKeepsTheCurrentItemWhenItSurvivesAndEachRowGoesOnce) {
    auto playlist = numbered(5);
    playlist->setCurrent(2);
    playlist->setSelection({1, 3});
    playlist->deleteSelected();
    EXPECT_EQ(titles(*playlist), (std::vector<std::wstring>{L"0", L"2", L"4"}));
    EXPECT_EQ(playlist->getCurrentPosition(), 1u);
    EXPECT_TRUE(playlist->getSelection().empty());

    playlist->setSelection({1});
    playlist->deleteSelected();
    EXPECT_EQ(playlist->getCurrentPosition(), 0u);   // the current item went

    // A bad index stops the deletion before anything goes; the selection is cleared.
    auto more = numbered(3);
    more->setSelection({1, 9});
    more->deleteSelected();
    EXPECT_EQ(titles(*more).size(), 3u);
    EXPECT_TRUE(more->getSelection().empty());
    EXPECT_EQ(logged(L"Internal error. list index out of bounds. size 3, index 9"), 1);

    // A repeated row is deleted once, not the row after it too.
    more->setSelection({1, 1});
    more->deleteSelected();
    EXPECT_EQ(titles(*more), (std::vector<std::wstring>{L"0", L"2"}));
}

TEST_F(PlaylistTest, MovingARowCarriesOrShiftsTheCurrentPosition) {
    auto playlist = numbered(6);
    playlist->setCurrent(2);
    EXPECT_EQ(playlist->moveItem(2, 5), 5);
    EXPECT_EQ(playlist->getCurrentPosition(), 5u);
    EXPECT_EQ(titles(*playlist), (std::vector<std::wstring>{L"0", L"1", L"3", L"4", L"5", L"2"}));

    playlist->setCurrent(3);
    EXPECT_EQ(playlist->moveItem(5, 1), 1);
    EXPECT_EQ(playlist->getCurrentPosition(), 4u);
    EXPECT_EQ(playlist->current().title, L"4");
    EXPECT_EQ(playlist->moveItem(0, 2), 2);         // current item below both: stays
    EXPECT_EQ(playlist->getCurrentPosition(), 4u);
    EXPECT_EQ(playlist->moveItem(4, 4), 4);
    EXPECT_EQ(playlist->getCurrentPosition(), 4u);

    const auto before = titles(*playlist);
    EXPECT_EQ(playlist->moveItem(6, 0), -1);
    EXPECT_EQ(playlist->moveItem(0, 6), -1);
    EXPECT_EQ(titles(*playlist), before);
}

TEST_F(PlaylistDeathTest, OutOfRangeAndEmptyAccessEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto playlist = boost::make_shared<Playlist>(L"empty", true);
    EXPECT_EXIT(playlist->current(), ::testing::ExitedWithCode(1),
                "Data index out of bounds. size 0, index 0. Place Playlist::current");
    EXPECT_EXIT(playlist->next(), ::testing::ExitedWithCode(1), "Data are not available. Place Playlist::next");
    EXPECT_EXIT(playlist->previous(), ::testing::ExitedWithCode(1),
                "Data are not available. Place Playlist::previous");
    playlist->add(L"one", L"http://one");
    EXPECT_EXIT(playlist->setCurrent(1), ::testing::ExitedWithCode(1), "size 1, index 1");
}
