#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "audio/host_window.h"
#include "audio/mp3stream.h"
#include "audio/out_module.h"
#include "audio/player_engine.h"
#include "tests/support/temp_dir.h"
#include "tools/stream_probe.h"

// The output module against a common stream whose libvlc side the test plays.

namespace {

class OutputModule : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_DATA_HOME", m_home.path().c_str(), 1);
        g_winamp_out_module.Init();
        out_module_bind(&m_stream, &m_active);
    }
    void TearDown() override { out_module_bind(nullptr, nullptr); }
    /// What libvlc's input thread does once: take a block, hand it back.
    void pull() {
        std::int64_t dts = 0, pts = 0;
        unsigned flags = 0;
        std::size_t size = 0;
        void* buffer = nullptr;
        mp3stream::imem_get(&m_stream, "", &dts, &pts, &flags, &size, &buffer);
        mp3stream::imem_release(&m_stream, "", size, buffer);
    }

    testing_support::TempDir m_home{"outmod"};
    mp3stream m_stream{2000};
    std::atomic<bool> m_active{true};
    std::vector<char> m_chunk = std::vector<char>(8192, 1);
};

}  // namespace

TEST_F(OutputModule, WrittenTimeCountsOnlyQueuedChunks) {
    // Before any Open there is no byte rate: nothing is counted, nothing divides by zero.
    EXPECT_EQ(g_winamp_out_module.Write(m_chunk.data(), 4000), 0);
    EXPECT_EQ(g_winamp_out_module.GetWrittenTime(), 0);
    pull();

    ASSERT_EQ(g_winamp_out_module.Open(44100, 2, 16, -1, -1), 2000);
    std::vector<char> tenth(17640, 0);
    EXPECT_EQ(g_winamp_out_module.Write(tenth.data(), 8192), 0);
    EXPECT_EQ(g_winamp_out_module.Write(tenth.data() + 8192, 8192), 0);
    EXPECT_EQ(g_winamp_out_module.Write(tenth.data() + 16384, 1256), 0);
    EXPECT_EQ(g_winamp_out_module.GetWrittenTime(), 46 + 46 + 7);  // 8192 B = 46.4 ms, truncated per chunk

    // 17640 bytes of 44.1 kHz stereo are 100 ms, written as the plug-ins
    // do in chunks of at most 8192 bytes.
    g_winamp_out_module.Flush(0);
    for (int i = 0; i < 10; ++i) {
        pull();
        ASSERT_EQ(g_winamp_out_module.Write(tenth.data(), 1764), 0);
    }
    EXPECT_EQ(g_winamp_out_module.GetWrittenTime(), 100);
    for (int i = 0; i < 8; ++i) pull();

    g_winamp_out_module.Flush(0);
    // The ring holds half a second: fill it, then a refused Write adds nothing.
    while (g_winamp_out_module.CanWrite() == 8192) ASSERT_EQ(g_winamp_out_module.Write(tenth.data(), 1764), 0);
    const int full = g_winamp_out_module.GetWrittenTime();
    EXPECT_EQ(full, 500);
    EXPECT_EQ(g_winamp_out_module.Write(tenth.data(), 1764), 1);
    EXPECT_EQ(g_winamp_out_module.Write(tenth.data(), 1764), 1);
    EXPECT_EQ(g_winamp_out_module.GetWrittenTime(), full);
    pull();
    EXPECT_EQ(g_winamp_out_module.CanWrite(), 8192);
    EXPECT_EQ(g_winamp_out_module.Write(tenth.data(), 1764), 0);
    EXPECT_EQ(g_winamp_out_module.GetOutputTime(), full + 10);

    g_winamp_out_module.Close();
    // After Close there is no byte rate: what is queued is not counted.
    while (g_winamp_out_module.Write(tenth.data(), 1764) == 0) {
    }
    EXPECT_EQ(g_winamp_out_module.Write(tenth.data(), 8192), 1);  // full
    EXPECT_EQ(g_winamp_out_module.GetWrittenTime(), 0);
}

TEST_F(OutputModule, OpenRefusesFormatsTheStreamRefuses) {
    EXPECT_EQ(g_winamp_out_module.Open(44100, 2, 8, -1, -1), -1);
    EXPECT_EQ(g_winamp_out_module.Open(96000, 2, 16, -1, -1), -1);
    EXPECT_EQ(g_winamp_out_module.Open(8000, 1, 16, -1, -1), 2000);
    out_module_bind(nullptr, nullptr);
    EXPECT_EQ(g_winamp_out_module.Open(8000, 1, 16, -1, -1), -1);
    EXPECT_EQ(g_winamp_out_module.Write(m_chunk.data(), 100), 1);
    EXPECT_EQ(g_winamp_out_module.CanWrite(), 0);
}

TEST_F(OutputModule, IsPlayingEndsOnceLibvlcHasTakenTheLastBlock) {
    ASSERT_EQ(g_winamp_out_module.Open(44100, 2, 16, -1, -1), 2000);
    ASSERT_EQ(g_winamp_out_module.Write(m_chunk.data(), 8192), 0);
    ASSERT_EQ(g_winamp_out_module.Write(m_chunk.data(), 8192), 0);
    EXPECT_EQ(g_winamp_out_module.IsPlaying(), 1);  // audio still queued
    pull();
    EXPECT_EQ(g_winamp_out_module.IsPlaying(), 1);
    // libvlc holds the last chunk: not yet handed over.
    std::int64_t dts = 0, pts = 0;
    unsigned flags = 0;
    std::size_t size = 0;
    void* buffer = nullptr;
    mp3stream::imem_get(&m_stream, "", &dts, &pts, &flags, &size, &buffer);
    EXPECT_EQ(g_winamp_out_module.IsPlaying(), 1);
    mp3stream::imem_release(&m_stream, "", size, buffer);
    // Taken whole, before libvlc asks for more: the next track may follow
    // without a block of silence between.
    EXPECT_EQ(g_winamp_out_module.IsPlaying(), 0);
    EXPECT_EQ(m_stream.silence_start_us(), 0u);
    // The next track's first chunk makes it sound again before libvlc takes it.
    ASSERT_EQ(g_winamp_out_module.Write(m_chunk.data(), 8192), 0);
    EXPECT_EQ(g_winamp_out_module.IsPlaying(), 1);
    m_active = false;
    EXPECT_EQ(g_winamp_out_module.IsPlaying(), 0);
}

TEST(HostWindowAnswers, IpcTable) {
    testing_support::TempDir home("ipc");
    ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    g_winamp_out_module.Init();
    HostWindow window([](HostWindow::Task task) { task(); });
    HWND handle = window.handle();

    EXPECT_EQ(SendMessage(handle, WM_WA_IPC, 0, IPC_GETVERSION), 0x5011);
    EXPECT_EQ(SendMessage(handle, WM_WA_IPC, 12345, IPC_GETVERSION), 0x5011);
    for (intptr_t code : {241, 3023, 1, 9999, -1}) EXPECT_EQ(SendMessage(handle, WM_WA_IPC, 0, code), 0) << code;

    const auto ini = reinterpret_cast<const char*>(SendMessage(handle, WM_WA_IPC, 0, IPC_GETINIFILE));
    const auto dir = reinterpret_cast<const char*>(SendMessage(handle, WM_WA_IPC, 0, IPC_GETINIDIRECTORY));
    const auto plugins = reinterpret_cast<const char*>(SendMessage(handle, WM_WA_IPC, 0, IPC_GETPLUGINDIRECTORY));
    const auto m3u = reinterpret_cast<const char*>(SendMessage(handle, WM_WA_IPC, 0, IPC_GETM3UDIRECTORY));
    EXPECT_EQ(dir, m3u);
    EXPECT_NE(ini, dir);
    EXPECT_NE(plugins, dir);
    EXPECT_NE(plugins, ini);
    const std::string data = dir;
    EXPECT_EQ(data.rfind(home.path(), 0), 0u) << data;
    // Named after the running program (the test program the file is linked into).
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    EXPECT_EQ(std::string(ini), data + "/" + program + ".ini");
    const std::string plugin_dir = plugins;
    EXPECT_EQ(plugin_dir.substr(plugin_dir.size() - 8), "/plugins");

    // The function handed out for 331 inflates what zlib deflated.
    const std::string text(5000, 'x');
    uLongf packed_len = compressBound(text.size());
    std::vector<unsigned char> packed(packed_len);
    ASSERT_EQ(compress(packed.data(), &packed_len, reinterpret_cast<const Bytef*>(text.data()), text.size()), Z_OK);
    const auto inflate = reinterpret_cast<wa_uncompress_fn>(SendMessage(handle, WM_WA_IPC, 0, IPC_GET_RANDFUNC));
    ASSERT_NE(inflate, nullptr);
    std::vector<unsigned char> out(8000);
    unsigned long out_len = out.size();
    ASSERT_EQ(inflate(out.data(), &out_len, packed.data(), packed_len), Z_OK);
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(out_len)), text);
}

TEST(HostWindowAnswers, NewerHostRequestsAreRefusedWithoutStopping) {
    HostWindow window([](HostWindow::Task task) { task(); });
#ifdef NDEBUG
    EXPECT_EQ(SendMessage(window.handle(), WM_WA_IPC, 0, IPC_GET_API_SERVICE), 0);
    EXPECT_EQ(SendMessage(window.handle(), WM_WA_IPC, 0, IPC_CB_OUTPUTCHANGED), 0);
#else
    EXPECT_EXIT(SendMessage(window.handle(), WM_WA_IPC, 0, IPC_GET_API_SERVICE), ::testing::ExitedWithCode(1), "");
#endif
}

TEST(HostWindowAnswers, EndOfTrackAndTitleAreQueuedNotRunOnTheSender) {
    std::vector<HostWindow::Task> queued;
    HostWindow window([&](HostWindow::Task task) { queued.push_back(std::move(task)); });
    EXPECT_EQ(SendMessage(window.handle(), WM_WA_MPEG_EOF, 0, 0), 0);
    EXPECT_EQ(SendMessage(window.handle(), WM_WA_IPC, 0, IPC_UPDTITLE), 0);
    EXPECT_EQ(PostMessage(window.handle(), WM_WA_MPEG_EOF, 0, 0), 1);
    EXPECT_EQ(SendMessage(window.handle(), WM_WA_IPC, 0, IPC_GETVERSION), 0x5011);
    EXPECT_EQ(queued.size(), 3u);
    for (auto& task : queued) task();  // no engine attached: nothing happens
}

TEST(SineSamples, FixedToneStartsAtZeroAndRises) {
    std::vector<std::int16_t> out(sine::k_chunk_samples);
    double phase = 0;
    sine::fill_fixed(out.data(), out.size(), phase, 1000 * 2.0 * M_PI / 44100.0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 4652);
    EXPECT_EQ(out[2], 9211);
    // Continuity across chunks: the next chunk goes on where this one stopped.
    std::vector<std::int16_t> next(4);
    sine::fill_fixed(next.data(), next.size(), phase, 1000 * 2.0 * M_PI / 44100.0);
    const double expected = std::sin(2048 * 1000 * 2.0 * M_PI / 44100.0) * 32767.0;
    EXPECT_NEAR(next[0], expected, 1.0);
    std::vector<std::int16_t> second(4410);
    sine::fill_fixed(second.data(), second.size(), phase, 1000 * 2.0 * M_PI / 44100.0);
    const auto track = stream_probe::tone_track(second, {500, 1000, 2000});
    ASSERT_EQ(track.size(), 2u);
    EXPECT_EQ(stream_probe::tone_counts(track, 3)[1], 2);
}

TEST(SineSamples, SweepWithPeriodZeroOrReversedBoundsStaysFinite) {
    std::vector<std::int16_t> out(44100);
    sine::Sweep still(400, 1200, 0);
    still.fill(out.data(), out.size());
    EXPECT_TRUE(std::isfinite(still.phase));
    const auto track = stream_probe::tone_track(out, {400, 800, 1200});
    EXPECT_EQ(stream_probe::tone_counts(track, 3)[1], static_cast<int>(track.size()));

    sine::Sweep reversed(1200, 400, 2);  // minimum above maximum
    reversed.fill(out.data(), out.size());
    EXPECT_TRUE(std::isfinite(reversed.phase));
    const auto heard = stream_probe::tone_counts(stream_probe::tone_track(out, {400, 800, 1200}), 3);
    EXPECT_GT(heard[0] + heard[1] + heard[2], 0);

    // Up to 40000 Hz, above the Nyquist frequency: still bounded samples.
    sine::Sweep wide(10, 40000, 1);
    wide.fill(out.data(), out.size());
    EXPECT_TRUE(std::isfinite(wide.phase));
    EXPECT_GE(wide.phase, 0.0);
    EXPECT_LT(wide.phase, 2 * M_PI);
}
