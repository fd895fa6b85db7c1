// The player when an end of an item crosses a stop or a start, and when every
// item of a list fails at once: the fixture plug-ins end each item as it
// starts; the engine's ends and the waits between rounds are held until the
// test hands them on. Short files that play through, on the shipped WAV
// decoder, never count as failed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

#include <boost/make_shared.hpp>

#include "audio/failing_rounds.h"
#include "audio/player.h"
#include "audio/playlist.h"
#include "tests/audio/player_fixture.h"
#include "tests/audio/ring_drain.h"
#include "tests/support/wav_file.h"

using namespace player_test;
using namespace std::chrono_literals;
using Waits = std::vector<std::chrono::milliseconds>;

namespace {

const std::wstring kNotice = L"ни один элемент не воспроизводится";

/// Stands between the engine and the player: the ends of items that the
/// engine reports wait here until the test hands them on.
class HeldEnds : public EnginePlayer {
public:
    explicit HeldEnds(Player& player) : m_player(player) {}
    int state() const override { return m_player.state(); }
    bool switching() const override { return m_player.switching(); }
    std::uint64_t ticket() const override { return m_player.ticket(); }
    void next() override { m_player.next(); }
    void itemEnded(std::uint64_t ticket, std::uint32_t audioMs, std::int32_t) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ends.emplace_back(ticket, audioMs);
    }
    std::size_t held() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ends.size();
    }
    void handOn() {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> ends;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ends.swap(m_ends);
        }
        for (const auto& end : ends) m_player.itemEnded(end.first, end.second, -1);
    }

private:
    Player& m_player;
    std::mutex m_mutex;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> m_ends;
};

/// The player's timer: keeps the jobs it is given until the test runs them.
class HeldJobs {
public:
    void hold(Player::Pacing& pacing) {
        pacing.after = [this](std::chrono::milliseconds wait, std::function<void()> job) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_waits.push_back(wait);
            m_due[++m_lastId] = std::move(job);
            return m_lastId;
        };
        pacing.cancel = [this](std::uint32_t id) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_due.erase(id);
        };
    }
    Waits waits() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waits;
    }
    std::size_t due() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_due.size();
    }
    /// Runs the held jobs, as if their waits had passed.
    void run() {
        std::map<std::uint32_t, std::function<void()>> jobs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            jobs.swap(m_due);
        }
        for (auto& job : jobs) job.second();
    }

private:
    std::mutex m_mutex;
    Waits m_waits;
    std::map<std::uint32_t, std::function<void()>> m_due;
    std::uint32_t m_lastId = 0;
};

class FailingItems : public PlayerEnvironment {
protected:
    void SetUp() override {
        PlayerEnvironment::SetUp();
        ::setenv("SONVAR_FIXTURE_EOF_MS", "0", 1);
    }
    /// The program's timing; the timer is the test's, and the clock runs
    /// ahead by what the test skips.
    Player::Pacing pacing() override {
        Player::Pacing pacing;
        m_held.hold(pacing);
        pacing.now = [this] { return std::chrono::steady_clock::now() + m_skipped.load(); };
        return pacing;
    }
    boost::shared_ptr<Playlist> stations(std::initializer_list<const wchar_t*> urls) {
        auto playlist = boost::make_shared<Playlist>(L"Радио", true);
        for (const wchar_t* url : urls) playlist->add(L"station", url);
        return playlist;
    }
    Player& player() { return *Player::instance(); }
    /// How many of the player's INFO lines in the day's log have a word in
    /// Latin letters.
    long englishInfoLines() {
        base::Log::instance()->flush();
        static const std::regex english(R"( INFO\t\[Player\].*[A-Za-z]{2})");
        const auto lines = linesOf("20261206");
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& line) { return std::regex_search(line, english); });
    }

    HeldJobs m_held;
    std::atomic<std::chrono::milliseconds> m_skipped{std::chrono::milliseconds(0)};
};

/// The shipped WAV decoder alone, and the common stream's ring emptied as
/// fast as it fills, as libvlc would in its own time: each item's audio goes
/// out at once and the item ends.
class ShortFiles : public FailingItems {
protected:
    void SetUp() override {
        FailingItems::SetUp();
        m_drain.emplace(m_stream);
    }
    void TearDown() override {
        player().stop(false);
        m_drain.reset();
        FailingItems::TearDown();
    }
    std::wstring pluginFolder() override {
        const std::string folder = m_dir.path() + "/decoders";
        ::mkdir(folder.c_str(), 0755);
        const std::wstring product = engine_test::product_folder() + L"/in_wav.so";
        EXPECT_EQ(::symlink(base::toUtf8(product).c_str(), (folder + "/in_wav.so").c_str()), 0);
        return base::fromUtf8(folder);
    }
    /// A tone of `ms` in a WAV file of the temporary folder.
    std::wstring tone(const std::string& name, int ms) {
        const std::string path = m_dir.path() + "/" + name;
        std::vector<std::int16_t> pcm(static_cast<std::size_t>(44100 * ms / 1000) * 2);
        for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::int16_t>((i / 2) % 100 * 100);
        testing_support::writeBytes(path, testing_support::wavFile(pcm, 44100, 2));
        return base::fromUtf8(path);
    }

    std::optional<RingDrain> m_drain;
};

}  // namespace

TEST(FailingRounds, OnlyWholeRoundsOfQuietQuickEndsWaitFromFiveSecondsUpToAMinute) {
    FailingRounds rounds{FailingRounds::Timing()};
    Waits waits;
    for (int i = 0; i < 12; ++i) waits.push_back(rounds.ended(300ms, 0ms, 2));
    EXPECT_EQ(waits, (Waits{0ms, 5s, 0ms, 10s, 0ms, 20s, 0ms, 40s, 0ms, 60s, 0ms, 60s}));
    EXPECT_FALSE(rounds.firstWait());
    // A short file that played through, or an item that ran for a while,
    // ends the series: the next round that fails waits 5 s and is told again.
    const std::chrono::milliseconds playedAndAudio[][2] = {{1200ms, 1200ms}, {5s, 0ms}};
    for (const auto& item : playedAndAudio) {
        EXPECT_EQ(rounds.ended(item[0], item[1], 1), 0ms);
        EXPECT_EQ(rounds.ended(10ms, 0ms, 1), 5s);
        EXPECT_TRUE(rounds.firstWait());
    }
}

TEST_F(FailingItems, AnEndOnItsWayStartsNothingAfterAStopAndDoesNotMoveOnANewStart) {
    const std::string one = "http://one.invalid/stream";
    auto list = stations({L"http://one.invalid/stream", L"http://two.invalid/stream"});
    HeldEnds ends(player());
    m_engine->register_player(&ends);
    Player::play(list);
    ASSERT_TRUE(waitFor([&] { return ends.held() == 1; })) << trace();
    player().stop(true);
    ends.handOn();
    settle();
    EXPECT_EQ(plays(), (std::vector<std::string>{one}));
    EXPECT_EQ(player().state(), 0);

    // The same with the operator starting the first item again meanwhile; it now plays on.
    Player::play(list);
    ASSERT_TRUE(waitFor([&] { return ends.held() == 1; })) << trace();
    ::unsetenv("SONVAR_FIXTURE_EOF_MS");
    Player::playAt(0);
    ends.handOn();
    settle();
    EXPECT_EQ(plays(), (std::vector<std::string>{one, one, one}));
    EXPECT_EQ(player().state(), EnginePlayer::k_state_playing);
    EXPECT_EQ(list->getCurrentPosition(), 0u);
}

TEST_F(FailingItems, RoundsOfFailuresWaitLongerEachTimeTellTheOperatorOnceAndEndAtAStop) {
    const std::string one = "http://one.invalid/a", two = "http://two.invalid/b";
    auto list = stations({L"http://one.invalid/a", L"http://two.invalid/b"});
    auto told = observe(*list);
    Player::play(list);
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1; })) << trace();
    m_held.run();
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1 && m_held.waits().size() == 2; })) << trace();
    settle();
    EXPECT_EQ(plays(), (std::vector<std::string>{one, two, one, two}));
    EXPECT_EQ(m_held.waits(), (Waits{5s, 10s}));
    EXPECT_EQ(logged(kNotice, "WARN"), 1);
    EXPECT_EQ(told->ends, 2) << "each round still ends the list";
    EXPECT_EQ(player().state(), EnginePlayer::k_state_playing) << "the list stays on while it waits";

    // Стоп during the wait cancels the next round.
    player().stop(true);
    EXPECT_EQ(m_held.due(), 0u);
    EXPECT_EQ(player().state(), 0);

    // Played again, the list starts at once and a failed round waits 5 s again;
    // a station that is back in the next round plays on.
    Player::play(list);
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1; })) << trace();
    EXPECT_EQ(m_held.waits().back(), 5s);
    EXPECT_EQ(logged(kNotice, "WARN"), 2);
    ::unsetenv("SONVAR_FIXTURE_EOF_MS");
    m_held.run();
    settle();
    EXPECT_EQ(plays().size(), 7u);
    EXPECT_EQ(plays().back(), one);
    EXPECT_EQ(player().state(), EnginePlayer::k_state_playing);
    EXPECT_EQ(m_held.due(), 0u);
}

TEST(FailingRounds, AnItemThatGaveItsLengthNeverFailsOneThatGaveLittleOfItDoes) {
    FailingRounds rounds{FailingRounds::Timing()};
    // Tones of 0.6 s (the output counts a little less than the decoder's
    // length) and of 50 ms, played through round after round.
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(rounds.ended(650ms, 594ms, 3, 600ms), 0ms) << i;
        EXPECT_EQ(rounds.ended(60ms, 50ms, 3, 50ms), 0ms) << i;
    }
    // The decoder told a length, but the item gave no audio, or a little of
    // a longer one: both failed.
    EXPECT_EQ(rounds.ended(40ms, 0ms, 2, 600ms), 0ms);
    EXPECT_EQ(rounds.ended(900ms, 200ms, 2, 3000ms), 5s);
}

TEST_F(ShortFiles, AListOfSubSecondFilesPlaysOnRoundAfterRoundWithoutAWaitOrANotice) {
    auto list = boost::make_shared<Playlist>(L"Гонги", true);
    for (const char* name : {"one.wav", "two.wav", "three.wav"}) list->add(L"tone", tone(name, 600));
    Player::play(list);
    ASSERT_TRUE(waitFor([&] { return plays().size() >= 10 || m_held.due() > 0; }, 20000)) << trace();
    EXPECT_EQ(m_held.waits(), Waits{});
    EXPECT_EQ(logged(kNotice), 0);
    EXPECT_EQ(player().state(), EnginePlayer::k_state_playing);
}

TEST_F(FailingItems, ASpellOfFailuresIsToldOnceInRussianHoweverOftenTheOperatorTriesTheListAgain) {
    auto list = stations({L"http://one.invalid/a", L"http://two.invalid/b"});
    Player::play(list);
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1; })) << trace();
    // During the wait the operator presses "next", then "play": each try
    // fails at once again; so does the round that follows the wait.
    player().next();
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1 && m_held.waits().size() == 2; })) << trace();
    Player::play(list);
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1 && m_held.waits().size() == 3; })) << trace();
    m_held.run();
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1 && m_held.waits().size() == 4; })) << trace();
    settle();
    EXPECT_EQ(logged(kNotice, "WARN"), 1);
    EXPECT_EQ(m_held.waits().back(), 10s);
    // The daily log is the operator's from INFO up.
    EXPECT_EQ(englishInfoLines(), 0);

    // A station that is back and plays its first seconds ends the spell: the
    // next failing round is told again.
    ::unsetenv("SONVAR_FIXTURE_EOF_MS");
    player().next();
    settle();
    EXPECT_EQ(m_held.due(), 0u);
    m_skipped = 6s;
    ::setenv("SONVAR_FIXTURE_EOF_MS", "0", 1);
    player().next();
    ASSERT_TRUE(waitFor([&] { return m_held.due() == 1 && m_held.waits().size() == 5; })) << trace();
    settle();
    EXPECT_EQ(logged(kNotice, "WARN"), 2);
    EXPECT_EQ(m_held.waits().back(), 5s);
}
