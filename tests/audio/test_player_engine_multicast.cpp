// ctest-labels: net
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "audio/player_engine.h"
#include "base/text.h"
#include "tests/audio/engine_fixture.h"
#include "tests/audio/wire_fixture.h"
#include "tools/stream_probe.h"

// The engine on the wire: an MP3 item through the shipped in_vlc heard by
// ffmpeg on the group, and the keep-alive datagrams while nothing plays.

using namespace engine_test;
using namespace stream_probe;

namespace {

class EngineOnTheWire : public EngineEnvironment {
protected:
    std::unique_ptr<PlayerEngine> make_engine(mp3stream& stream, const std::wstring& folder) {
        auto engine = std::make_unique<PlayerEngine>(m_window.handle(), &stream, folder);
        engine->set_host([this](std::function<void()> task) { m_pump.add(std::move(task)); }, nullptr);
        return engine;
    }
};

}  // namespace

TEST_F(EngineOnTheWire, Mp3ItemThroughInVlcIsHeardWhole) {
    const std::vector<double> tones = {400, 600, 800, 1000, 1200};
    const std::string file = m_dir.path() + "/item.mp3";
    ASSERT_TRUE(write_mp3(file, stepped_tone(tones, 400, 44100, 2), 44100, 2));
    const std::string group = "224.0.224.42";
    const std::uint16_t port = 12142;
    auto stream = wire_test::make_common_stream(group, port);
    auto engine = make_engine(*stream, product_folder());
    FakePlayer player;
    player.m_on_next = [&] { player.m_state = 0; };
    engine->register_player(&player);

    LiveReceiver receiver(group, port, m_dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());
    ASSERT_TRUE(stream->stream_start());
    ASSERT_TRUE(engine->play(base::fromUtf8(file)));
    // The item ends once libvlc has taken its last sample; the stream stops
    // when that has left it.
    EXPECT_TRUE(m_pump.run_until([&] { return player.m_nexts.load() == 1; }, 20000)) << trace();
    EXPECT_TRUE(wire_test::stop_when_sent(*stream));
    engine->shutdown();
    wire_test::expect_tones_whole(receiver.samples(), tones, 6);
}

TEST_F(EngineOnTheWire, KeepAliveOnlyWhileNothingPlays) {
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = true;
    }
    GroupSniffer listener("224.0.224.1", 11991);
    ASSERT_TRUE(listener.ok());
    mp3stream stream(2000);  // no libvlc: only the keep-alive side is watched
    auto engine = make_engine(stream, fixture_folder());

    sleep_ms(3500);
    auto idle = listener.snapshot();
    EXPECT_GE(idle.size(), 3u);
    EXPECT_LE(idle.size(), 4u);
    for (const auto& d : idle) {
        EXPECT_EQ(d.bytes.size(), 0u);
        EXPECT_EQ(d.from_port, 11985u);
    }
    for (std::size_t i = 1; i < idle.size(); ++i)
        EXPECT_NEAR(double(idle[i].at_us - idle[i - 1].at_us), 1e6, 2e5);

    // Playing: the dispatcher stops the keep-alive before the stream starts.
    ASSERT_TRUE(engine->play(L"/a.mp3"));
    sleep_ms(300);
    const std::size_t at_play = listener.snapshot().size();
    sleep_ms(2500);
    EXPECT_EQ(listener.snapshot().size(), at_play) << "keep-alive while playing";

    // Stopped: the datagrams come back.
    engine->stop(false);
    sleep_ms(2300);
    EXPECT_GE(listener.snapshot().size(), at_play + 2);

    // The thread sleeps a second between datagrams; stopping it does not wait for that.
    const std::int64_t before = steady_us();
    engine->stop_ping();
    EXPECT_LT(steady_us() - before, 100000);
    const std::size_t at_stop = listener.snapshot().size();
    sleep_ms(1300);
    EXPECT_EQ(listener.snapshot().size(), at_stop);
}

// A message announces its stream before its pause ends, so that the quiet
// between the keep-alive and the stream is kept in the pause: the keep-alive
// stops at once. A stream that never follows (the message dropped) does not
// leave the group without keep-alive: it comes back by itself.
TEST_F(EngineOnTheWire, AQuietForAStreamThatNeverStartsEndsByItself) {
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = true;
    }
    GroupSniffer listener("224.0.224.1", 11991);
    ASSERT_TRUE(listener.ok());
    mp3stream stream(2000);
    auto engine = make_engine(stream, fixture_folder());
    sleep_ms(1500);
    ASSERT_GE(listener.snapshot().size(), 1u);

    engine->quiet_for_stream();
    const std::size_t at_quiet = listener.snapshot().size();
    sleep_ms(PlayerEngine::k_quiet_limit_ms - 200);
    EXPECT_EQ(listener.snapshot().size(), at_quiet) << "a keep-alive datagram in the quiet";
    sleep_ms(1500);
    EXPECT_GT(listener.snapshot().size(), at_quiet) << "the keep-alive never came back";
}
