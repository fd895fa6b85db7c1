#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "audio/out_module.h"
#include "audio/player_engine.h"
#include "base/log.h"
#include "tests/audio/engine_fixture.h"
#include "tests/audio/ring_drain.h"

// The plug-in host with the fixture plug-ins of <build>/tests/plugins.

using namespace engine_test;

namespace {

class Engine : public EngineEnvironment {
protected:
    std::unique_ptr<PlayerEngine> make_engine(const std::wstring& folder = fixture_folder()) {
        auto engine = std::make_unique<PlayerEngine>(m_window.handle(), &m_stream, folder);
        engine->set_host([this](std::function<void()> task) { m_pump.add(std::move(task)); },
                         [this](const std::wstring& title) { m_titles.push_back(title); });
        engine->register_player(&m_player);
        return engine;
    }

    mp3stream m_stream{2000};
    FakePlayer m_player;
    std::vector<std::wstring> m_titles;
};

using EngineDeathTest = Engine;

}  // namespace

TEST_F(Engine, AcceptsOnlyDecodersThatUseTheOutputModuleInNameOrder) {
    auto engine = make_engine();
    // in_unicode, in_noout, in_noentry, in_nullrec are refused; out_x.so is not
    // an in_*.so; what remains is loaded in name order.
    EXPECT_EQ(engine->plugin_count(), 4u);
    EXPECT_EQ(trace(), "in_fake_mp3 init\nin_fake_ogg init\nin_fake_wma init\nin_fakeline init\n");
    // The pattern list and the dialog filter, from the extension lists.
    EXPECT_EQ(engine->getFileFilter(true), L"*.mp3;*.mp2;*.ogg;*.wma;*.asf;");
    EXPECT_EQ(engine->getFileFilter(false),
              L"Все поддерживаемые форматы|*.mp3;*.mp2;*.ogg;*.wma;*.asf|MPEG audio|*.mp3;*.mp2|Ogg Vorbis|*.ogg|"
              L"Windows Media audio|*.wma;*.asf|Все файлы (*.*)|*");
    engine.reset();
    EXPECT_NE(trace().find("in_fake_mp3 quit\n"), std::string::npos);
}

TEST_F(EngineDeathTest, NoAcceptedDecoderEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing_support::TempDir refused("refused");
    for (const char* name : {"in_unicode.so", "in_noout.so", "in_noentry.so", "in_nullrec.so", "out_x.so"}) {
        const std::string from = executable_folder() + "/plugins/" + name;
        std::ifstream in(from, std::ios::binary);
        ASSERT_TRUE(in.good()) << from;
        std::ofstream out(refused.path() + "/" + name, std::ios::binary);
        out << in.rdbuf();
    }
    EXPECT_EXIT(
        {
            base::Log::create(L"", base::Log::TRACE, true);
            PlayerEngine engine(m_window.handle(), &m_stream, refused.widePath());
        },
        ::testing::ExitedWithCode(1),
        "Plugin \"in_noout.so\" not using output plugin(.|\n)*Unicode plugins \"in_unicode.so\" not "
        "supported(.|\n)*Не найдено ни одной библиотеки декодирования");
    // An empty or missing folder is the same.
    EXPECT_EXIT(PlayerEngine(m_window.handle(), &m_stream, m_dir.widePath() + L"/none"),
                ::testing::ExitedWithCode(1), "");
}

TEST_F(Engine, FindModuleSearchesExtensionTextsOnly) {
    auto engine = make_engine();
    const auto mp3 = engine->findModule(".mp3");
    ASSERT_TRUE(mp3);
    EXPECT_EQ(engine->findModule("mp"), mp3);     // a part of "mp3;mp2"
    EXPECT_EQ(engine->findModule(".MP2"), mp3);   // case does not matter
    EXPECT_EQ(engine->findModule("3;m"), mp3);    // the text is searched whole
    ASSERT_TRUE(engine->findModule("asf"));
    EXPECT_NE(engine->findModule("asf"), mp3);
    EXPECT_EQ(engine->findModule("asf"), engine->findModule("WMA"));
    EXPECT_FALSE(engine->findModule(""));
    EXPECT_FALSE(engine->findModule(nullptr));
    EXPECT_FALSE(engine->findModule(".flac"));
    EXPECT_FALSE(engine->findModule("audio"));    // descriptions are not extensions
    EXPECT_FALSE(engine->findModule("outx"));     // out_x.so was never loaded
}

TEST_F(Engine, RoutesFilesAddressesAndTones) {
    auto engine = make_engine();
    const std::vector<std::pair<std::wstring, std::string>> routes = {
        {L"/music/a.ogg", "in_fake_ogg play /music/a.ogg"},
        {L"/music/Песня.MP3", "in_fake_mp3 play /music/Песня.MP3"},
        {L"http://radio.example/live.ogg", "in_fake_ogg play http://radio.example/live.ogg"},
        {L"http://radio.example/live", "in_fake_mp3 play http://radio.example/live"},
        {L"mms://radio.example/live.ogg", "in_fake_wma play mms://radio.example/live.ogg"},
        {L"http://radio.example/a.wma", "in_fake_wma play http://radio.example/a.wma"},
        {L"line://1", "in_fakeline play line://1"},
    };
    for (const auto& route : routes) {
        EXPECT_TRUE(engine->play(route.first)) << base::toUtf8(route.first);
        EXPECT_TRUE(trace_has(route.second)) << route.second;
        EXPECT_EQ(engine->current_source(), route.first);
    }
    // The title comes from the playing plug-in, on the host's thread, and
    // again when the plug-in says that it changed.
    m_pump.run();
    ASSERT_FALSE(m_titles.empty());
    EXPECT_EQ(m_titles.back(), L"in_fakeline: line://1");
    m_titles.clear();
    PostMessage(m_window.handle(), WM_WA_IPC, 0, IPC_UPDTITLE);
    EXPECT_TRUE(m_titles.empty());
    m_pump.run();
    EXPECT_EQ(m_titles, std::vector<std::wstring>{L"in_fakeline: line://1"});

    // Each start stopped the one before: seven plays, six stops so far.
    EXPECT_EQ(trace_count(" stop"), 6u);

    EXPECT_FALSE(engine->play(L"sine://-1"));   // no tone: a file without a known extension
    EXPECT_FALSE(engine->play(L"/music/a.flac"));
    EXPECT_EQ(engine->current_source(), L"");

    m_pump.run();
    m_titles.clear();
    EXPECT_TRUE(engine->play(L"sine://1000"));
    EXPECT_FALSE(engine->play_sine(9));
    EXPECT_FALSE(engine->play_sine(20001));
    EXPECT_TRUE(engine->play_sine(10));
    EXPECT_TRUE(engine->play_sine(20000));
    EXPECT_TRUE(engine->play(L"sine://min:100;max:1000;time:5"));
    EXPECT_TRUE(engine->play_sine_manual(10, 40000, 1));
    EXPECT_FALSE(engine->play_sine_manual(40001, 100, 1));
    EXPECT_FALSE(engine->play_sine_manual(100, 40001, 1));
    EXPECT_TRUE(engine->play_sine_manual(1000, 100, 0));  // reversed bounds, period 0: a steady tone
    m_pump.run();
    ASSERT_FALSE(m_titles.empty());
    EXPECT_EQ(m_titles.front(), L"");  // the stop before the start
    EXPECT_EQ(m_titles.at(1), L"Синусоида с частотой 1000 Гц");
    EXPECT_EQ(m_titles.back(),
              L"Синусоида с частотой от 1000 Гц до 100 Гц, время смены 'min-max-min' = 0 секунд");
    engine->stop(true);
    m_pump.run();
    EXPECT_EQ(m_titles.back(), L"");
}

TEST_F(Engine, FailedPlayLeavesTheEngineIdle) {
    auto engine = make_engine();
    ::setenv("SONVAR_FIXTURE_FAIL", "in_fake_mp3,in_fake_wma", 1);
    m_player.m_switching = true;  // the player's own start
    EXPECT_FALSE(engine->play(L"/a.mp3"));
    EXPECT_FALSE(engine->play(L"mms://radio/x"));
    EXPECT_TRUE(trace_has("in_fake_mp3 play-failed /a.mp3"));
    // A file whose Play failed is not stopped; an address is.
    EXPECT_FALSE(trace_has("in_fake_mp3 stop"));
    EXPECT_TRUE(trace_has("in_fake_wma stop"));
    EXPECT_EQ(engine->current_source(), L"");
    EXPECT_TRUE(engine->play(L"/b.ogg"));

    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.commonStream.active", pref::Type::TypeBoolean) = false;
    }
    EXPECT_FALSE(engine->play(L"/c.ogg"));
    EXPECT_FALSE(trace_has("in_fake_ogg play /c.ogg"));
}

TEST_F(Engine, EndOfTrackStopsThePlugInAndAdvancesThePlayer) {
    ::setenv("SONVAR_FIXTURE_EOF_MS", "20", 1);
    auto engine = make_engine();
    m_player.m_on_next = [&] { engine->play(L"/second.ogg"); };
    ASSERT_TRUE(engine->play(L"/first.mp3"));
    ASSERT_TRUE(m_pump.run_until([&] { return trace_has("in_fake_mp3 stop"); }, 5000));
    ASSERT_TRUE(m_pump.run_until([&] { return trace_has("in_fake_ogg play /second.ogg"); }, 5000));
    EXPECT_TRUE(m_pump.run_until([&] { return m_player.m_nexts.load() >= 1; }, 5000));

    // The player's own stop (switching) and a paused player do not advance it.
    ASSERT_TRUE(m_pump.run_until([&] { return m_player.m_nexts.load() == 2; }, 5000));
    m_player.m_on_next = nullptr;
    m_player.m_state = 0;
    ::unsetenv("SONVAR_FIXTURE_EOF_MS");
    ASSERT_TRUE(engine->play(L"/third.mp3"));
    engine->stop(true);
    m_player.m_state = EnginePlayer::k_state_playing;
    m_player.m_switching = true;
    ASSERT_TRUE(engine->play(L"/fourth.mp3"));
    engine->stop(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_player.m_nexts.load(), 2);
}

TEST_F(Engine, EndOfTrackOfAReplacedItemIsDropped) {
    ::setenv("SONVAR_FIXTURE_EOF_MS", "10", 1);
    auto engine = make_engine();
    ASSERT_TRUE(engine->play(L"/old.mp3"));
    // The end of /old.mp3 is posted but not yet handled when the next item starts.
    const auto posted = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!trace_has("in_fake_mp3 eof /old.mp3") && std::chrono::steady_clock::now() < posted)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(trace_has("in_fake_mp3 eof /old.mp3"));
    ::unsetenv("SONVAR_FIXTURE_EOF_MS");
    m_player.m_switching = true;  // the player's own start of its next item
    ASSERT_TRUE(engine->play(L"/new.ogg"));
    m_player.m_switching = false;
    m_pump.run_until([] { return false; }, 100);
    EXPECT_EQ(engine->current_source(), L"/new.ogg");
    EXPECT_FALSE(trace_has("in_fake_ogg stop"));
    // stop(true) from the player and from the old track's end: the old plug-in's
    // Stop ran once, when /new.ogg replaced it.
    EXPECT_EQ(trace_count("in_fake_mp3 stop"), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(m_player.m_nexts.load(), 0);
}

TEST_F(Engine, ShutdownStopsEverythingOnce) {
    auto engine = make_engine();
    ASSERT_TRUE(engine->play(L"/a.mp3"));
    engine->shutdown();
    EXPECT_TRUE(trace_has("in_fake_mp3 stop"));
    EXPECT_FALSE(engine->play(L"/b.mp3"));
    EXPECT_EQ(engine->getFileFilter(true), L"");
    engine->shutdown();
    engine.reset();
    EXPECT_TRUE(trace_has("in_fake_mp3 quit"));
}

// Several threads play, stop and advance while fixture tracks end every few
// milliseconds; the player takes its own lock around its calls to the
// engine, as the real one does. ThreadSanitizer reports races; a deadlock
// shows as a timeout.
TEST_F(Engine, ConcurrentPlayStopAndEndOfTrack) {
    ::setenv("SONVAR_FIXTURE_EOF_MS", "3", 1);
    ::setenv("SONVAR_FIXTURE_WRITE", "1", 1);
    auto engine = make_engine();
    std::recursive_mutex player_lock;
    std::atomic<int> item{0};
    m_player.m_on_next = [&] {
        std::lock_guard<std::recursive_mutex> lock(player_lock);
        engine->play(++item % 2 ? L"/a.mp3" : L"/b.ogg");
    };
    std::atomic<bool> done{false};
    RingDrain drain(m_stream);
    std::thread gui([&] {
        while (!done) m_pump.run_until([&] { return done.load(); }, 50);
    });
    std::vector<std::thread> players;
    for (int t = 0; t < 3; ++t)
        players.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                std::lock_guard<std::recursive_mutex> lock(player_lock);
                m_player.m_switching = (i % 3) == 0;
                if ((i + t) % 4 == 0) engine->stop(true);
                else engine->play((i + t) % 4 == 1 ? L"/c.wma" : L"/d.mp3");
                m_player.m_switching = false;
            }
        });
    for (auto& thread : players) thread.join();
    done = true;
    gui.join();
    drain.stop();
    engine->stop(true);
    base::ThreadDispatcher::instance()->shutdown();  // no next() after this
    m_player.m_on_next = nullptr;
    engine.reset();
    EXPECT_TRUE(trace_has("in_fake_mp3 quit"));
}
