// ctest-labels: net
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "audio/player_engine.h"
#include "base/clock.h"
#include "base/text.h"
#include "tests/audio/engine_fixture.h"
#include "tests/audio/wire_fixture.h"
#include "tests/support/test_index.h"
#include "tests/support/wav_file.h"
#include "tools/stream_probe.h"

// When the common stream runs and when the keep-alive datagrams go out, as a
// listener on the group sees it: the shipped in_wav plays, the keep-alive is
// on (as shipped) and goes to the stream's own group and port.

using namespace engine_test;
using namespace stream_probe;

namespace {

class StreamAroundItems : public EngineEnvironment {
protected:
    void SetUp() override {
        EngineEnvironment::SetUp();
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = true;
            pref::create(g_pref, "multicast.address", pref::Type::TypeString) = m_group.c_str();
            pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = m_port - 1;
        }
        m_stream = wire_test::make_common_stream(m_group, m_port);
        m_engine = std::make_unique<PlayerEngine>(m_window.handle(), m_stream.get(), product_folder());
        m_engine->set_host([this](std::function<void()> task) { m_pump.add(std::move(task)); }, nullptr);
        m_engine->register_player(&m_player);
    }
    void TearDown() override {
        m_engine->shutdown();
        m_engine.reset();
        m_stream.reset();
        EngineEnvironment::TearDown();
    }

    std::wstring wav(const std::string& name, const std::vector<double>& tones, unsigned ms, unsigned rate = 44100,
                     unsigned channels = 2) {
        const std::string path = m_dir.path() + "/" + name;
        testing_support::writeBytes(path,
                                    testing_support::wavFile(stepped_tone(tones, ms, rate, channels), rate, channels));
        return base::fromUtf8(path);
    }
    std::wstring mp3(const std::string& name, const std::vector<double>& tones, unsigned ms, unsigned rate,
                     unsigned channels) {
        const std::string path = m_dir.path() + "/" + name;
        EXPECT_TRUE(write_mp3(path, stepped_tone(tones, ms, rate, channels), rate, channels));
        return base::fromUtf8(path);
    }
    bool wait(const std::function<bool()>& done, int timeout_ms) { return m_pump.run_until(done, timeout_ms); }
    bool streaming() const { return m_stream->is_streaming(); }
    bool keepalive_after(std::int64_t at_us) const {
        for (const Datagram& d : m_wire.snapshot())
            if (d.bytes.empty() && d.at_us > at_us) return true;
        return false;
    }
    std::vector<Datagram> stream_datagrams() const {
        std::vector<Datagram> out;
        for (const Datagram& d : m_wire.snapshot())
            if (!d.bytes.empty()) out.push_back(d);
        return out;
    }
    /// Plays the items as the player does: the next one once the one before
    /// has ended (switching around its start), the player stopped after the
    /// last one or after a start that failed. True once that has happened.
    bool play_in_turn(const std::vector<std::wstring>& items, int timeout_ms) {
        const int before = m_player.m_nexts.load();
        m_player.m_state = EnginePlayer::k_state_playing;
        m_player.m_on_next = [this, items, before] {
            const auto at = static_cast<std::size_t>(m_player.m_nexts.load() - before) + 1;
            m_player.m_switching = true;
            if (at >= items.size() || !m_engine->play(items[at])) m_player.m_state = 0;
            m_player.m_switching = false;
        };
        if (!m_engine->play(items.front())) return false;
        return wait([&] { return m_player.m_state.load() == 0 && m_player.m_nexts.load() > before; }, timeout_ms);
    }
    std::vector<std::int16_t> heard() {
        write_capture(stream_datagrams(), m_dir.path() + "/heard.ts");
        return decode_file(m_dir.path() + "/heard.ts", m_dir.path() + "/heard.raw");
    }
    /// The keep-alive never sent while the stream runs: none within the
    /// stream's runs (datagrams less than 300 ms apart), none close to one.
    void expect_no_overlap() const {
        const auto all = m_wire.snapshot();
        const auto stream = stream_datagrams();
        for (const Datagram& k : all) {
            if (!k.bytes.empty()) continue;
            for (std::size_t i = 0; i < stream.size(); ++i) {
                EXPECT_GT(std::llabs(k.at_us - stream[i].at_us), 150000) << "keep-alive beside the stream";
                const bool running = i + 1 < stream.size() && stream[i + 1].at_us - stream[i].at_us < 300000;
                EXPECT_FALSE(running && k.at_us > stream[i].at_us && k.at_us < stream[i + 1].at_us)
                    << "keep-alive inside the stream";
            }
        }
    }

    // A group and port of each test's own: ctest runs them side by side.
    const int m_index = testing_support::indexInSuite();
    const std::string m_group = "224.0.225." + std::to_string(150 + m_index);
    const std::uint16_t m_port = static_cast<std::uint16_t>(12700 + 2 * m_index);
    GroupSniffer m_wire{m_group, m_port};
    std::unique_ptr<mp3stream> m_stream;
    std::unique_ptr<PlayerEngine> m_engine;
    FakePlayer m_player;
};

}  // namespace

TEST_F(StreamAroundItems, AnOperatorStopInTheMiddleOfAnItemStopsAtOnce) {
    ASSERT_TRUE(m_engine->play(wav("long.wav", {440}, 5000)));
    ASSERT_TRUE(wait([&] { return streaming() && !stream_datagrams().empty(); }, 5000));

    m_player.m_switching = true;  // the player's own stop
    const std::int64_t stopped = steady_us();
    m_engine->stop(true);
    EXPECT_FALSE(streaming());
    EXPECT_EQ(m_stream->queued_ms(), 0u) << "what was queued is dropped";
    m_player.m_switching = false;

    ASSERT_TRUE(wait([&] { return keepalive_after(stopped); }, 2500)) << "keep-alive back once idle";
    for (const Datagram& d : stream_datagrams()) EXPECT_LT(d.at_us, stopped + 20000) << "stream after the stop";
    EXPECT_EQ(m_player.m_nexts.load(), 0);
    expect_no_overlap();
}

TEST_F(StreamAroundItems, TheNextItemFollowsOnTheRunningStreamAndTheLastKeepsItsTail) {
    ASSERT_TRUE(play_in_turn({wav("first.wav", {400, 500, 600}, 400), wav("second.wav", {800, 900, 1000}, 400)},
                             15000));
    const std::int64_t ended = steady_us();

    // The last item has been handed over; libvlc still holds its end, and an
    // operator's stop now finds nothing to stop.
    EXPECT_TRUE(streaming());
    m_player.m_switching = true;
    m_engine->stop(true);
    m_player.m_switching = false;
    EXPECT_TRUE(streaming());
    ASSERT_TRUE(wait([&] { return !streaming(); }, 5000));
    EXPECT_GT(steady_us() - ended, 1000000) << "the stream stopped before its tail could leave";
    ASSERT_TRUE(wait([&] { return keepalive_after(ended); }, 2500));

    // One stream from the first item's start to the last one's end.
    const auto stream = stream_datagrams();
    ASSERT_FALSE(stream.empty());
    for (const Datagram& d : stream) EXPECT_EQ(d.from_port, stream.front().from_port) << "a new stream";
    EXPECT_EQ(wire_test::cc_errors(stream), 0);
    expect_no_overlap();
    wire_test::expect_tones_whole(heard(), {400, 500, 600, 800, 900, 1000}, 6);
}

// No playlist: the item's end is the end of playback, and the stream's stop
// itself waits until what libvlc took last has left it.
TEST_F(StreamAroundItems, ALoneItemKeepsItsTailBeforeTheKeepAliveReturns) {
    m_player.m_state = 0;
    ASSERT_TRUE(m_engine->play(wav("alone.wav", {600, 900}, 400)));
    ASSERT_TRUE(wait([&] { return m_stream->drained_at_us() != 0; }, 10000)) << trace();
    const std::uint64_t drained = m_stream->drained_at_us();
    ASSERT_TRUE(wait([&] { return !streaming(); }, 5000));
    const std::int64_t ended = steady_us();
    EXPECT_GE(static_cast<std::uint64_t>(nowMicroseconds()) - drained, 1900000u)
        << "the stream stopped before its tail could leave";
    EXPECT_EQ(m_player.m_nexts.load(), 0);
    ASSERT_TRUE(wait([&] { return keepalive_after(ended); }, 2500));
    expect_no_overlap();
    wire_test::expect_tones_whole(heard(), {600, 900}, 6);
}

TEST_F(StreamAroundItems, ANextItemThatFailsToStartStillEndsTheStreamAfterTheBufferTime) {
    // Two ways to fail: no plug-in for the name, and a file that is missing.
    for (const std::wstring& next : {m_dir.widePath() + L"/next.xyz", m_dir.widePath() + L"/missing.wav"}) {
        const std::int64_t started = steady_us();
        ASSERT_TRUE(play_in_turn({wav("short.wav", {700}, 400), next}, 10000)) << trace();
        const std::int64_t ended = steady_us();
        EXPECT_TRUE(streaming()) << "kept for the next item";
        ASSERT_TRUE(wait([&] { return !streaming(); }, 5000)) << base::toUtf8(next);
        EXPECT_GT(steady_us() - ended, 1000000);
        ASSERT_TRUE(wait([&] { return keepalive_after(ended); }, 2500));
        EXPECT_GT(stream_datagrams().back().at_us, started);
    }
    expect_no_overlap();
}

// The stream is rebuilt for another input format, which stops libvlc: the
// item before, still inside libvlc, goes out first. in_vlc meets the closed
// output while it sets up, in_wav while it writes.
TEST_F(StreamAroundItems, AnItemOfAnotherFormatLetsTheLastOneEndBeforeTheStreamIsRebuilt) {
    ASSERT_TRUE(play_in_turn({wav("first.wav", {400, 500}, 400), mp3("second.mp3", {600, 700, 800}, 400, 22050, 1),
                              wav("third.wav", {900, 1000, 1100}, 400, 32000, 1)},
                             20000))
        << trace();
    ASSERT_TRUE(wait([&] { return !streaming(); }, 5000));
    wire_test::expect_tones_whole(heard(), {400, 500, 600, 700, 800, 900, 1000, 1100}, 6);
    expect_no_overlap();
}
