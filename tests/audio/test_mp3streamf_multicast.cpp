// ctest-labels: net
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "audio/mp3streamf.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "tests/audio/wire_fixture.h"
#include "tools/stream_probe.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_file.h"

// The notification stream on the wire, heard by ffmpeg on the group: a cut
// start or tail shows as a short first or last tone. Each test has its own
// group and port.

using namespace stream_probe;

namespace {

const std::vector<double> k_tones = {400, 600, 800, 1000, 1200, 1400};

std::unique_ptr<mp3streamf> make_stream(const std::string& group, std::uint16_t port,
                                        unsigned ttl = 1) {
    if (g_pref == nullptr) pref_init(L"");  // settings in memory only
    auto stream = std::make_unique<mp3streamf>();
    stream->set_stream_endp((group + ":" + std::to_string(port)).c_str());
    EXPECT_TRUE(stream->set_stream_fmt(128));
    EXPECT_TRUE(stream->set_stream_ttl(ttl));
    stream->set_address_interface("127.0.0.1", 9);
    return stream;
}

std::wstring wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

struct Played {
    std::int64_t play_us = 0;  // play_file called
    std::int64_t done_us = 0;  // done event seen
};

/// One message the way the alarm channel plays it.
Played play_message(mp3streamf& stream, const std::string& path, std::uint32_t silence_ms) {
    Played played;
    sync_event done(true);
    EXPECT_TRUE(stream.set_read_mode(mp3streamf::READ_FILE));
    EXPECT_TRUE(stream.set_write_mode(true, false));
    stream.stream_create();
    EXPECT_TRUE(stream.is_stream());
    played.play_us = steady_us();
    EXPECT_TRUE(stream.play_file(silence_ms, wide(path), &done));
    EXPECT_EQ(done.wait(30000), sync_event::signalled);
    played.done_us = steady_us();
    stream.stop();
    stream.stream_close();
    EXPECT_FALSE(stream.is_stream());
    return played;
}

/// A message file made from the PCM, played after the leading silence, as
/// ffmpeg heard it on the group.
std::vector<std::int16_t> heard_message(const std::string& group, std::uint16_t port,
                                        const std::vector<std::int16_t>& pcm, unsigned rate,
                                        unsigned channels, std::uint32_t silence_ms) {
    testing_support::TempDir dir("mp3streamf");
    const std::string path = dir.path() + "/message.mp3";
    EXPECT_TRUE(write_mp3(path, pcm, rate, channels));
    LiveReceiver receiver(group, port, dir.path() + "/heard.raw");
    EXPECT_TRUE(receiver.joined());
    auto stream = make_stream(group, port);
    play_message(*stream, path, silence_ms);
    return receiver.samples();
}

void expect_whole(const std::vector<std::int16_t>& heard, int min_windows) {
    const auto track = wire_test::expect_tones_whole(heard, k_tones, min_windows);
    // Silence after the last tone: the stream stopped with time to spare.
    int last = -1;
    for (std::size_t i = 0; i < track.size(); ++i)
        if (track[i] >= 0) last = static_cast<int>(i);
    const int trailing_ms = (static_cast<int>(track.size()) - 1 - last) * 50;
    EXPECT_GE(trailing_ms, 150) << "the tail was cut or nearly so";
}

/// The capture tests: a group and port of their own, a 16-bit WAV of the
/// tones standing in for the capture device (libvlc opens "file://..." as
/// the microphone's location), and a sniffer on the group.
struct Capture {
    Capture(const std::string& group_, std::uint16_t port_, const std::vector<double>& tones, unsigned ms)
        : group(group_), port(port_), sniffer(group, port) {
        testing_support::writeBytes(wav, testing_support::wavFile(stepped_tone(tones, ms, 44100, 1), 44100, 1));
    }
    /// The stream reading the stand-in, sending and writing as told.
    std::unique_ptr<mp3streamf> stream(bool network, bool file, unsigned ttl = 1) {
        auto made = make_stream(group, port, ttl);
        EXPECT_TRUE(made->set_read_mode(mp3streamf::READ_MICROPHONE));
        EXPECT_TRUE(made->set_write_mode(network, file));
        made->set_microphone_name(wide("file://" + wav));
        return made;
    }

    std::string group;
    std::uint16_t port;
    testing_support::TempDir dir{"mp3streamf"};
    std::string wav = dir.path() + "/voice.wav";
    GroupSniffer sniffer;
};

}  // namespace

TEST(NotificationStreamMulticast, MonoMessageArrivesWholeWithItsTail) {
    const std::string group = "224.0.224.31";
    const std::uint16_t port = 12201;
    testing_support::TempDir dir("mp3streamf");
    const std::string path = dir.path() + "/message.mp3";
    ASSERT_TRUE(write_mp3(path, stepped_tone(k_tones, 500, 44100, 1), 44100, 1));
    GroupSniffer sniffer(group, port);
    LiveReceiver receiver(group, port, dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());

    auto stream = make_stream(group, port, 2);
    const Played played = play_message(*stream, path, 50);

    // Done only after the file (3 s) and the play-out silence; libvlc reads
    // a little ahead of real time when it starts.
    EXPECT_GE(played.done_us - played.play_us,
              2700000 + (stream->buffer_time_ms() + mp3streamf::playout_margin_ms) * 1000ll);
    const auto seen = sniffer.snapshot();
    ASSERT_FALSE(seen.empty());
    EXPECT_LE(seen.back().at_us, played.done_us) << "the stream still ran after done";
    for (const Datagram& d : seen) {
        ASSERT_EQ(d.bytes.size(), 1316u);
        EXPECT_EQ(d.ttl, 2);
    }
    write_capture(seen, dir.path() + "/capture.ts");
    EXPECT_EQ(probe_audio(dir.path() + "/capture.ts", dir.path() + "/probe.txt"),
              "codec_name=mp2\nsample_rate=44100\nchannels=1\nbit_rate=128000\n");
    // Ten windows per tone; the last one must not lose its end.
    expect_whole(receiver.samples(), 8);
}

TEST(NotificationStreamMulticast, StereoMessageAt22kArrivesWhole) {
    const auto heard = heard_message("224.0.224.32", 12202, stepped_tone(k_tones, 500, 22050, 2),
                                     22050, 2, 50);
    expect_whole(heard, 8);
}

TEST(NotificationStreamMulticast, MessageWithoutLeadingSilenceStartsUnbroken) {
    // libvlc takes its first read-ahead before the decoder has filled the
    // ring: blocks of silence handed out then cut the message after its
    // first frame. Twice on one stream, as the alarm channel plays notices:
    // the first changes the input format (the stream restarts), the second
    // finds the stream already running in the message's format.
    const std::string group = "224.0.224.40";
    const std::uint16_t port = 12210;
    testing_support::TempDir dir("mp3streamf");
    const std::string path = dir.path() + "/message.mp3";
    ASSERT_TRUE(write_mp3(path, stepped_tone({k_tones[1], k_tones[2], k_tones[3]}, 400, 44100, 1), 44100, 1));
    auto stream = make_stream(group, port);
    for (int round = 0; round < 2; ++round) {
        std::vector<int> track;
        {
            LiveReceiver receiver(group, port, dir.path() + "/heard" + std::to_string(round) + ".raw");
            ASSERT_TRUE(receiver.joined());
            play_message(*stream, path, 0);
            track = tone_track(receiver.samples(), k_tones);
        }
        const int first = first_tone_window(track);
        ASSERT_GE(first, 0) << "round " << round;
        EXPECT_LE(first, 2) << "round " << round << ": " << ::testing::PrintToString(track);
        int last = first, run = 0, longest_silence = 0;
        for (std::size_t i = static_cast<std::size_t>(first); i < track.size(); ++i)
            if (track[i] >= 0) last = static_cast<int>(i);
        // A window across a change of tone names neither: one, never two in a row.
        for (int i = first; i <= last; ++i) {
            run = track[static_cast<std::size_t>(i)] < 0 ? run + 1 : 0;
            longest_silence = std::max(longest_silence, run);
        }
        EXPECT_LE(longest_silence, 1) << "round " << round << ": " << ::testing::PrintToString(track);
        EXPECT_GE(last - first, 20) << "round " << round;  // 1.2 s of tones
    }
}

TEST(NotificationStreamMulticast, LeadingSilenceDelaysTheMessage) {
    struct Case {
        const char* group;
        std::uint16_t port;
        unsigned channels;
        std::uint32_t silence_ms;
        int min_ms, max_ms;
    };
    // Stereo is the stream's starting format. Mono changes it, and the
    // rebuild restarts the stream: before the silence, not after it, where
    // the restart threw the stream's start-up time (about 0.6 s) of it away.
    for (const Case c : {Case{"224.0.224.33", 12203, 2, 2000, 1800, 2600},
                         Case{"224.0.224.39", 12209, 1, 1000, 950, 2000}}) {
        const auto heard = heard_message(c.group, c.port, stepped_tone({k_tones[2], k_tones[3]}, 400, 44100, c.channels),
                                         44100, c.channels, c.silence_ms);
        const int first = first_tone_window(tone_track(heard, k_tones));
        ASSERT_GE(first, 0) << "no tone heard, channels " << c.channels;
        EXPECT_GE(first * 50, c.min_ms) << "message came too early, channels " << c.channels;
        EXPECT_LE(first * 50, c.max_ms) << "message came too late, channels " << c.channels;
    }
}

TEST(NotificationStreamMulticast, StopMidMessageEndsItEarly) {
    const std::string group = "224.0.224.34";
    const std::uint16_t port = 12204;
    testing_support::TempDir dir("mp3streamf");
    const std::string path = dir.path() + "/long.mp3";
    ASSERT_TRUE(write_mp3(path, stepped_tone(k_tones, 1000, 44100, 1), 44100, 1));
    LiveReceiver receiver(group, port, dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());

    auto stream = make_stream(group, port);
    sync_event done(true);
    ASSERT_TRUE(stream->set_read_mode(mp3streamf::READ_FILE));
    ASSERT_TRUE(stream->set_write_mode(true, false));
    stream->stream_create();
    ASSERT_TRUE(stream->play_file(0, wide(path), &done));
    sleep_ms(2000);
    const std::int64_t before = steady_us();
    stream->stop();
    // The queued blocks and the buffer time of silence still go out, but not
    // the margin that keeps a natural end whole: it held up for a second an
    // alarm replacing this message.
    const std::int64_t took = steady_us() - before;
    EXPECT_GE(took, stream->buffer_time_ms() * 900ll);
    EXPECT_LT(took, 1400000);
    EXPECT_TRUE(done.is_set());
    stream->stream_close();

    const auto counts = tone_counts(tone_track(receiver.samples(), k_tones), k_tones.size());
    EXPECT_GT(counts[0], 0);
    EXPECT_EQ(counts[4] + counts[5], 0) << ::testing::PrintToString(counts);
}

// The window asks whether an alarm runs (through the alarm channel) while the
// alarm thread has libvlc make or end the stream: it waited for libvlc, up to
// half a second a time. Such a stream counts as running, told at once.
TEST(NotificationStreamMulticast, WhetherItRunsIsToldWithoutWaitingForLibvlc) {
    auto stream = make_stream("224.0.224.35", 12206);
    std::atomic<bool> done{false};
    std::int64_t longest_change_us = 0;
    std::thread changer([&] {
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(stream->set_read_mode(mp3streamf::READ_FILE));
            ASSERT_TRUE(stream->set_write_mode(true, false));
            std::int64_t at = steady_us();
            stream->stream_create();
            longest_change_us = std::max(longest_change_us, steady_us() - at);
            at = steady_us();
            stream->stop();
            stream->stream_close();
            longest_change_us = std::max(longest_change_us, steady_us() - at);
        }
        done = true;
    });
    std::int64_t longest_ask_us = 0;
    while (!done) {
        const std::int64_t at = steady_us();
        stream->is_stream();
        longest_ask_us = std::max(longest_ask_us, steady_us() - at);
        sleep_ms(1);
    }
    changer.join();
    EXPECT_FALSE(stream->is_stream());
    // libvlc's part is tenths of a second; a question is a lock's moment.
    ASSERT_GT(longest_change_us, 60000) << "nothing slow to wait for";
    EXPECT_LT(longest_ask_us, longest_change_us / 2);
}

TEST(NotificationStreamMulticast, CaptureIsSentToTheGroupAndToTheFile) {
    Capture capture("224.0.224.35", 12205, {k_tones[1], k_tones[3]}, 600);
    const std::string record = capture.dir.path() + "/record.mp3";
    LiveReceiver receiver(capture.group, capture.port, capture.dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());

    auto stream = capture.stream(true, true, 4);
    stream->set_write_file(wide(record));
    stream->stream_create();
    EXPECT_TRUE(stream->is_stream());
    EXPECT_FALSE(stream->set_read_mode(mp3streamf::READ_FILE));  // not while the objects exist
    sleep_ms(2500);
    stream->stream_close();

    const auto seen = capture.sniffer.snapshot();
    ASSERT_FALSE(seen.empty());
    for (const Datagram& d : seen) {
        ASSERT_EQ(d.bytes.size(), 188u);  // MTU 356: one TS packet each
        EXPECT_EQ(d.ttl, 4);
    }
    const auto counts = tone_counts(tone_track(receiver.samples(), k_tones), k_tones.size());
    EXPECT_GE(counts[1], 8);
    EXPECT_GE(counts[3], 8);

    const auto recorded = decode_file(record, capture.dir.path() + "/record.raw");
    const auto in_file = tone_counts(tone_track(recorded, k_tones), k_tones.size());
    EXPECT_GE(in_file[1], 8);
    EXPECT_GE(in_file[3], 8);
}

TEST(NotificationStreamMulticast, CaptureAsPcmForDebuggingWithLibvlcLog) {
    Capture capture("224.0.224.36", 12206, {k_tones[2]}, 1500);
    const std::string log_dir = capture.dir.path() + "/log";
    ::mkdir(log_dir.c_str(), 0755);
    base::Log::create(base::fromUtf8(log_dir), base::Log::TRACE2, false);

    auto stream = capture.stream(true, false);
    pref::create(g_pref, "debug.enablePCM", pref::Type::TypeBoolean) = true;
    pref::create(g_pref, "debug.log.vlclib", pref::Type::TypeBoolean) = true;
    stream->stream_create();
    sleep_ms(2000);
    stream->stream_close();
    stream.reset();
    pref::create(g_pref, "debug.enablePCM", pref::Type::TypeBoolean) = false;
    pref::create(g_pref, "debug.log.vlclib", pref::Type::TypeBoolean) = false;
    base::Log::destroy();

    const std::string capture_file = capture.dir.path() + "/capture.wav";
    write_capture(capture.sniffer.snapshot(), capture_file);
    const std::string probe = probe_audio(capture_file, capture.dir.path() + "/probe.txt");
    EXPECT_NE(probe.find("codec_name=pcm_s16le"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=1"), std::string::npos) << probe;

    // libvlc's own messages went into our log.
    std::string logged;
    for (const auto& entry : boost::filesystem::directory_iterator(log_dir))
        logged += testing_support::readFile(entry.path().string());
    EXPECT_NE(logged.find("mp3streamf sout"), std::string::npos);
    EXPECT_NE(logged.find("VLC media player"), std::string::npos);
}

TEST(NotificationStreamMulticast, LocalMonitorPlaysTheCaptureWithoutSending) {
    Capture capture("224.0.224.37", 12207, {k_tones[4]}, 1500);
    const std::string monitor = capture.dir.path() + "/monitor.wav";
    auto stream = capture.stream(false, false);
    stream->set_local_monitor(true);
    stream->set_local_monitor_output({"--aout=afile", "--audiofile-file=" + monitor, "--audiofile-wav"});
    stream->stream_create();
    sleep_ms(2000);
    stream->stream_close();

    EXPECT_EQ(capture.sniffer.count(), 0u);
    const auto heard = decode_file(monitor, capture.dir.path() + "/monitor.raw");
    EXPECT_GE(tone_counts(tone_track(heard, k_tones), k_tones.size())[4], 20);
}

TEST(NotificationStreamMulticastDeathTest, CaptureWithNowhereToGoEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            base::Log::create(L"", base::Log::TRACE, true);  // shows the condition
            auto stream = make_stream("224.0.224.38", 12208);
            stream->set_read_mode(mp3streamf::READ_MICROPHONE);
            stream->set_write_mode(false, false);
            stream->set_microphone_name(L"default");
            stream->stream_create();
        },
        ::testing::ExitedWithCode(1), "libvlc sout is not set");
}
