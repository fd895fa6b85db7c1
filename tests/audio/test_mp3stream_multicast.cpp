// ctest-labels: net
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "base/clock.h"
#include "audio/stream_options.h"
#include "tools/stream_probe.h"
#include "tests/audio/wire_fixture.h"
#include "tests/support/temp_dir.h"

// The common stream on the wire: datagrams checked by a sniffer, audio decoded
// by ffmpeg on the group. Each test has its own group and port.

using namespace stream_probe;

namespace {

const std::vector<double> k_tones = {400, 600, 800, 1000, 1200, 1400};

/// Writes interleaved PCM in chunks the way the output module does: a
/// refused chunk is retried a little later.
void write_all(mp3stream& stream, const std::vector<std::int16_t>& pcm, std::size_t chunk_bytes) {
    const char* bytes = reinterpret_cast<const char*>(pcm.data());
    const std::size_t total = pcm.size() * 2;
    for (std::size_t at = 0; at < total;) {
        const auto n = static_cast<std::uint32_t>(std::min(chunk_bytes, total - at));
        if (stream.write_pcm(bytes + at, n)) at += n;
        else sleep_ms(5);
    }
}

/// Waits, as the output module's IsPlaying does, until libvlc has been handed
/// nothing but silence for the stream's buffer time.
void wait_until_played(mp3stream& stream, int timeout_ms = 15000) {
    const std::int64_t end = steady_us() + timeout_ms * 1000ll;
    while (steady_us() < end) {
        const std::uint64_t start = stream.silence_start_us();
        if (start != 0 && static_cast<std::uint64_t>(nowMicroseconds()) - start >= stream.buffer_time_ms() * 1000ull) return;
        sleep_ms(10);
    }
    ADD_FAILURE() << "the stream never fell silent";
}

}  // namespace

TEST(CommonStreamMulticast, ToneArrivesWholeAsMpegAudioInTransportStream) {
    const std::string group = "224.0.224.21";
    const std::uint16_t port = 12101;
    testing_support::TempDir dir("mp3stream");
    GroupSniffer sniffer(group, port);
    ASSERT_TRUE(sniffer.ok());
    auto stream = wire_test::make_common_stream(group, port, 3);
    // Started once libvlc is ready: ffmpeg gives up after 3 s without data.
    LiveReceiver receiver(group, port, dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());
    ASSERT_TRUE(stream->stream_start());
    const std::int64_t started = steady_us();
    // Six tones of 500 ms: a lost start or tail shows as a short first or last tone.
    write_all(*stream, stepped_tone(k_tones, 500, 44100, 2), 4096);
    wait_until_played(*stream);
    EXPECT_TRUE(stream->stream_stop());
    EXPECT_FALSE(stream->stream_stop());
    const std::size_t at_stop = sniffer.count();
    sleep_ms(1000);
    EXPECT_EQ(sniffer.count(), at_stop) << "datagrams after stop";

    const auto seen = sniffer.snapshot();
    ASSERT_GT(seen.size(), 50u);  // 128 kbit/s: about 12 datagrams a second
    EXPECT_LT(seen.front().at_us - started, 3000000) << "first datagram too late";
    for (const Datagram& d : seen) {
        ASSERT_EQ(d.bytes.size(), 1316u);
        EXPECT_EQ(d.ttl, 3);
        for (std::size_t at = 0; at < d.bytes.size(); at += 188) ASSERT_EQ(d.bytes[at], 0x47);
    }
    write_capture(seen, dir.path() + "/capture.ts");
    EXPECT_EQ(probe_audio(dir.path() + "/capture.ts", dir.path() + "/probe.txt"),
              "codec_name=mp2\nsample_rate=44100\nchannels=1\nbit_rate=128000\n");

    wire_test::expect_tones_whole(receiver.samples(), k_tones, 8);
}

TEST(CommonStreamMulticast, FormatChangeWhileStreamingKeepsTheOutputFormat) {
    const std::string group = "224.0.224.22";
    const std::uint16_t port = 12102;
    testing_support::TempDir dir("mp3stream");
    GroupSniffer sniffer(group, port);
    auto stream = wire_test::make_common_stream(group, port);
    LiveReceiver receiver(group, port, dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());
    ASSERT_TRUE(stream->stream_start());
    write_all(*stream, stepped_tone({k_tones[0], k_tones[1], k_tones[2]}, 500, 44100, 2), 8192);
    wait_until_played(*stream);
    // Stops, rebuilds the media for 22.05 kHz mono and starts again.
    ASSERT_TRUE(stream->set_pcm_fmt(22050, 1, 16));
    write_all(*stream, stepped_tone({k_tones[3], k_tones[4], k_tones[5]}, 500, 22050, 1), 2048);
    wait_until_played(*stream);
    EXPECT_TRUE(stream->stream_stop());

    const auto seen = sniffer.snapshot();
    for (const Datagram& d : seen) EXPECT_EQ(d.ttl, 1);
    // Only what was sent after the change: still 44.1 kHz mono.
    std::vector<Datagram> after;
    const std::int64_t mid = seen.empty() ? 0 : seen.back().at_us - 1500000;
    for (const Datagram& d : seen)
        if (d.at_us >= mid) after.push_back(d);
    write_capture(after, dir.path() + "/after.ts");
    EXPECT_EQ(probe_audio(dir.path() + "/after.ts", dir.path() + "/probe.txt"),
              "codec_name=mp2\nsample_rate=44100\nchannels=1\nbit_rate=128000\n");

    wire_test::expect_tones_whole(receiver.samples(), k_tones, 7);
}

TEST(CommonStreamMulticast, MulticastInterfaceIsFoundByItsAddress) {
    EXPECT_EQ(interface_name_for_address("127.0.0.1"), "lo");
    EXPECT_EQ(interface_name_for_address("203.0.113.77"), "");
    EXPECT_EQ(interface_name_for_address(""), "");
    EXPECT_EQ(interface_name_for_address("not an address"), "");
}
