#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "audio/mp3streamf.h"
#include "audio/stream_options.h"
#include "audio/vlc_support.h"

// The libvlc argument lists and stream-output chains of both streams.

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool any_starts_with(const std::vector<std::string>& list, const std::string& prefix) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
}

// libvlc_new must accept the list: an unknown option makes it return null.
void expect_libvlc_accepts(const std::vector<std::string>& args) {
    libvlc_instance_t* instance = vlc_new_instance(args);
    EXPECT_NE(instance, nullptr) << "refused: " << ::testing::PrintToString(args);
    if (instance != nullptr) libvlc_release(instance);
}

}  // namespace

TEST(StreamOptions, CaptureChainFollowsTheWriteFlags) {
    const std::string endpoint = "224.0.224.1:11992";
    const std::string file = "/tmp/rec.mp3";
    struct Row {
        bool network, file, pcm;
        std::string chain;
    } rows[] = {
        {true, true, false,
         "#transcode{aenc=avcodec,acodec=mpga,ab=128,channels=1,samplerate=44100}:duplicate{dst=file{dst=\"/tmp/"
         "rec.mp3\"},dst=std{access=udp,mux=ts,dst=224.0.224.1:11992}}"},
        {true, true, true,  // the PCM debug chain is only for network-only
         "#transcode{aenc=avcodec,acodec=mpga,ab=128,channels=1,samplerate=44100}:duplicate{dst=file{dst=\"/tmp/"
         "rec.mp3\"},dst=std{access=udp,mux=ts,dst=224.0.224.1:11992}}"},
        {false, true, false,
         "#transcode{aenc=avcodec,acodec=mpga,ab=128,channels=1,samplerate=44100}:file{dst=\"/tmp/rec.mp3\"}"},
        {true, false, true,
         "#transcode{acodec=s16l,ab=16,channels=1,samplerate=44100}:std{access=udp,mux=wav,dst="
         "224.0.224.1:11992}"},
        {true, false, false,
         "#transcode{aenc=avcodec,acodec=mpga,ab=128,channels=1,samplerate=44100}:std{access=udp,mux=ts,dst="
         "224.0.224.1:11992}"},
        {false, false, false, ""},
        {false, false, true, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(capture_sout_chain(row.network, row.file, row.pcm, 128, 1, 44100, file, endpoint),
                  row.chain)
            << row.network << row.file << row.pcm;

    // A path with quotes or backslashes can't end the value early.
    EXPECT_EQ(capture_sout_chain(false, true, false, 64, 1, 44100, "/tmp/a\"b\\c.mp3", endpoint),
              "#transcode{aenc=avcodec,acodec=mpga,ab=64,channels=1,samplerate=44100}:file{dst=\"/tmp/a\\\"b\\\\c.mp3\"}");
}

TEST(StreamOptions, CommonArgumentsCarryNoOptionLibvlc3Refuses) {
    const auto args = common_instance_args(2000, 3, "lo");
    EXPECT_EQ(args, (std::vector<std::string>{"--intf=dummy", "--ignore-config", "--no-file-logging",
                                              "--quiet", "--no-audio", "--sout-mux-caching=2000",
                                              "--sout-udp-caching=0", "--ttl=3", "--sout-keep", "--miface=lo"}));
    EXPECT_FALSE(any_starts_with(common_instance_args(500, 1, ""), "--miface"));
    for (const auto& list : {common_instance_args(500, 1, ""),
                             capture_instance_args(true, false, {}, 1, "lo"),
                             capture_instance_args(false, true, {"--aout=pulse"}, 1, "")}) {
        EXPECT_FALSE(contains(list, "--high-priority"));
        EXPECT_FALSE(any_starts_with(list, "--sout="));  // media players ignore it
        EXPECT_FALSE(any_starts_with(list, "--miface-addr"));
        EXPECT_FALSE(any_starts_with(list, "--extraintf"));
    }
}

// libvlc_new keeps the first of a repeated option: each stream's list, as
// the stream gives it to libvlc, names every option once, with its value.
TEST(StreamOptions, EachStreamGivesLibvlcEveryOptionOnceWithItsOwnCaching) {
    const auto value_of = [](const std::vector<std::string>& args, const std::string& name) {
        std::string value = "(absent)";
        int seen = 0;
        for (const std::string& arg : args) {
            if (arg.rfind(name + "=", 0) != 0) continue;
            value = arg.substr(name.size() + 1);
            ++seen;
        }
        EXPECT_LE(seen, 1) << name << " given " << seen << " times";
        return value;
    };
    const auto names_once = [](const std::vector<std::string>& args) {
        std::vector<std::string> names;
        for (const std::string& arg : args) names.push_back(arg.substr(0, arg.find('=')));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << ::testing::PrintToString(args);
    };

    mp3stream common(2000);  // the common stream: the buffer time is the silence rule only
    common.set_stream_ttl(2);
    const auto common_args = common.instance_args();
    names_once(common_args);
    EXPECT_EQ(value_of(common_args, "--sout-mux-caching"), "300");
    EXPECT_EQ(value_of(common_args, "--sout-udp-caching"), "0");
    EXPECT_EQ(value_of(common_args, "--ttl"), "2");
    EXPECT_EQ(common.buffer_time_ms(), 2000u);

    mp3streamf notices;  // file mode
    const auto notice_args = notices.instance_args();
    names_once(notice_args);
    EXPECT_EQ(value_of(notice_args, "--sout-mux-caching"), "500");
    EXPECT_EQ(value_of(notice_args, "--sout-udp-caching"), "0");
    EXPECT_EQ(notices.buffer_time_ms(), 500u);

    // The capture mode keeps its own values.
    const auto capture = capture_instance_args(false, false, {}, 1, "lo");
    names_once(capture);
    EXPECT_EQ(value_of(capture, "--sout-mux-caching"), "10");
    EXPECT_EQ(value_of(capture, "--sout-udp-caching"), "0");
}

TEST(StreamOptions, ImemOptionsCarryWholePointersAndTheChainLast) {
    const std::uintptr_t high = (std::uintptr_t{0x7f12} << 32) | 0x3456789a;
    const auto options = imem_media_options(high, high + 16, high + 32, 22050, 1, "#chain");
    EXPECT_EQ(options, (std::vector<std::string>{
                           ":imem-get=" + std::to_string(high),
                           ":imem-release=" + std::to_string(high + 16),
                           ":imem-data=" + std::to_string(high + 32), ":imem-cookie=0",
                           ":imem-cat=1", ":imem-codec=s16l", ":imem-samplerate=22050",
                           ":imem-channels=1", ":sout=#chain"}));
    EXPECT_EQ(imem_media_options(1, 2, 3, 44100, 2, "").back(), ":imem-channels=2");
}

TEST(StreamOptions, CaptureLocationAndOptions) {
    EXPECT_EQ(capture_location("default"), "alsa://default");
    EXPECT_EQ(capture_location("plughw:1,0"), "alsa://plughw:1,0");
    EXPECT_EQ(capture_location("pulse://alsa_input.usb"), "pulse://alsa_input.usb");
    const auto options = capture_media_options(44100, "#x");
    EXPECT_TRUE(contains(options, ":alsa-samplerate=44100"));
    EXPECT_TRUE(contains(options, ":no-alsa-stereo"));
    EXPECT_EQ(options.back(), ":sout=#x");
    EXPECT_FALSE(any_starts_with(capture_media_options(44100, ""), ":sout"));
}

TEST(StreamOptions, LibvlcAcceptsEveryListWeBuild) {
    for (const auto& args :
         {common_instance_args(2000, 1, ""), common_instance_args(500, 3, "lo"),
          capture_instance_args(false, false, {"--aout=pulse"}, 1, "lo"), capture_instance_args(true, false, {}, 1, ""),
          capture_instance_args(true, true, {"--aout=pulse"}, 1, ""),
          capture_instance_args(false, true, {"--aout=afile", "--audiofile-file=/tmp/x.wav", "--audiofile-wav"}, 1, "")})
        expect_libvlc_accepts(args);
    // The guard works: the option that libvlc 3 on Linux refuses.
    libvlc_instance_t* refused = vlc_new_instance({"--intf=dummy", "--quiet", "--high-priority"});
    EXPECT_EQ(refused, nullptr);
    if (refused != nullptr) libvlc_release(refused);
}
