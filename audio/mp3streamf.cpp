#include "audio/mp3streamf.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cwctype>
#include <new>
#include <thread>
#include <vector>

#include "audio/stream_options.h"
#include "audio/stream_trace.h"
#include "audio/vlc_support.h"
#include "base/clock.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "os/thread_priority.h"

namespace {

constexpr std::uint32_t k_buffer_time_ms = 500;
// Mux caching as long as the buffer time; the ring about eight MPEG frames,
// so that a stop has little queued audio to send before the play-out.
constexpr std::uint32_t k_mux_caching_ms = 500;
constexpr std::uint32_t k_ring_ms = 200;
constexpr std::size_t k_read_size = 1024;
constexpr int k_frame_samples = 1152;  // the longest MPEG audio frame, per channel

bool has_mp3_extension(const std::wstring& path) {
    if (path.size() < 4) return false;
    std::wstring ext = path.substr(path.size() - 4);
    for (auto& c : ext) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return ext == L".mp3";
}

/// Sample rate and channels of the first MPEG frame of the open file, read
/// with a decoder of its own through pread, so the file's offset stays at
/// its start; false when the first 256 KB hold no frame.
bool first_frame_format(int fd, std::uint32_t& rate, std::uint32_t& channels) {
    hip_t hip = hip_decode_init();
    if (hip == nullptr) return false;
    std::vector<short> pcm_l(k_frame_samples * 2), pcm_r(k_frame_samples * 2);
    unsigned char buf[k_read_size];
    mp3data_struct mp3data{};
    bool found = false;
    for (off_t at = 0; !found && at < 256 * 1024;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += n;
        hip_decode1_headers(hip, buf, static_cast<std::size_t>(n), pcm_l.data(), pcm_r.data(), &mp3data);
        found = mp3data.header_parsed == 1;
    }
    hip_decode_exit(hip);
    if (!found) return false;
    rate = static_cast<std::uint32_t>(mp3data.samplerate);
    channels = static_cast<std::uint32_t>(mp3data.stereo);
    return true;
}

}  // namespace

mp3streamf* mp3streamf_init() {
    auto* stream = new (std::nothrow) mp3streamf();
    if (stream == nullptr) dbg_abort("malloc(sizeof(mp3streamf)) == NULL", "mp3streamf_init");
    return stream;
}

mp3streamf::mp3streamf() : mp3stream(k_buffer_time_ms, k_mux_caching_ms, k_ring_ms) {
    STREAM_TRACE_ENTRY();
    // One MPEG frame per block: a stop sends the queued frames and the
    // buffer time of silence, which begins a frame after the last one.
    m_pack_chunks = false;
    set_pcm_fmt(44100, 2, 16);
    try {
        m_decoder_thread = boost::thread([this] { decoder_thread(); });
    } catch (const boost::thread_resource_error&) {
        dbg_abort("CreateThread(NULL, 0, decoder_thread_proc, this, 0, NULL) == NULL",
                  "mp3streamf::mp3streamf");
    }
    // Best effort: raising a thread needs privileges on Linux, and the decoder
    // keeps up without (it decodes far faster than real time).
    os::setThreadPriority(m_decoder_thread);
}

mp3streamf::~mp3streamf() {
    STREAM_TRACE_ENTRY();
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        {
            std::lock_guard<std::recursive_mutex> state(m_state_lock);
            vlc_clear_media(m_libvlc_media_player);  // no player when never created
        }
        m_exit = true;
        stop();
        m_play_evt.set();
    }
    if (m_decoder_thread.joinable()) m_decoder_thread.join();
    if (m_hip != nullptr) {
        hip_decode_exit(m_hip);
        m_hip = nullptr;
    }
    if (m_fd >= 0) ::close(m_fd);
}

bool mp3streamf::set_read_mode(std::uint32_t mode) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (is_stream_created()) return false;
    m_read_mode = mode;
    return true;
}

bool mp3streamf::set_write_mode(bool network, bool file) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (is_stream_created()) return false;
    m_write_network = network;
    m_write_file = file;
    return true;
}

void mp3streamf::set_microphone_name(const std::wstring& name) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_microphone_name = name;
}

void mp3streamf::set_write_file(const std::wstring& path) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_write_file_path = path;
}

void mp3streamf::set_local_monitor(bool on) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_local_monitor = on;
}

void mp3streamf::set_local_monitor_output(const std::vector<std::string>& args) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_monitor_args = args;
}

void mp3streamf::stream_create() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    switch (m_read_mode) {
    case READ_DISABLE:
        dbg_puts(WARN, "m_read_mode == READ_DISABLE");
        return;
    case READ_MICROPHONE:
        libvlc_create();
        libvlc_dshow_create();
        break;
    case READ_FILE:
        if (!m_write_network)
            dbg_abort("This operation does not available", "mp3streamf::stream_create");
        mp3stream::libvlc_create();
        libvlc_imem_create();
        break;
    default:
        dbg_abort("This operation does not available", "mp3streamf::stream_create");
    }
    if (!stream_start())
        dbg_puts(ERROR, "stream isn't started, cause: %s", vlc_last_error("none").c_str());
    else
        dbg_puts(DEBUG, "stream 'f' is started");
}

void mp3streamf::stream_close() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_read_mode == READ_FILE && !m_write_network)
        dbg_abort("This operation does not available", "mp3streamf::stream_close");
    libvlc_close();
}

bool mp3streamf::is_stream() {
    std::unique_lock<std::recursive_mutex> state(m_state_lock, std::defer_lock);
    while (!state.try_lock()) {
        // Being made or ended: it counts as running until it is closed, and
        // the asker does not wait for libvlc. Other holders are brief.
        if (m_player_changing.load() > 0) return true;
        std::this_thread::yield();
    }
    if (m_libvlc_inst == nullptr || m_libvlc_media_player == nullptr) return false;
    switch (libvlc_media_player_get_state(m_libvlc_media_player)) {
    case libvlc_NothingSpecial:
    case libvlc_Opening:
    case libvlc_Buffering:
    case libvlc_Playing:
        return true;
    case libvlc_Error:
        LOG_ERROR(L"Поток имеет ошибку [%1%]", vlc_last_error("не определена"));
        return false;
    default:
        return false;
    }
}

bool mp3streamf::player_playing() {
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    return m_libvlc_media_player != nullptr &&
           libvlc_media_player_get_state(m_libvlc_media_player) == libvlc_Playing;
}

bool mp3streamf::play_file(std::uint32_t leading_silence_ms, const std::wstring& path,
                           sync_event* done) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    stop();
    const std::string path_utf8 = base::toUtf8(path);
    if (!has_mp3_extension(path)) {
        dbg_puts(DEBUG, "Unknown audio file \"%s\"", path_utf8.c_str());
        return false;
    }
    const int fd = ::open(path_utf8.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        dbg_puts(DEBUG, "m_fhandle = CreateFileA(\"%s\") == INVALID_HANDLE_VALUE", path_utf8.c_str());
        return false;
    }
    m_fd = fd;
    // A new input format rebuilds the running stream, which starts it again.
    // Here that costs a few ms; left to the decoder's first frame, it would
    // come after the leading silence and throw that away together with the
    // stream's start-up, about 0.6 s before the first datagram.
    std::uint32_t rate = 0, channels = 0;
    if (first_frame_format(fd, rate, channels)) set_pcm_fmt(rate, channels, 16);
    // From here an empty ring makes libvlc wait for the decoder: silence
    // handed out now would land between the message's first frames.
    if (leading_silence_ms == 0) set_await_fill(true);
    LOG_DEBUG(L"prepare stream over interface %1% from file %2%", m_miface, path);
    LOG_INFO(L"%1%", L"Воспроизведение [канал оповещений]:  \"" + path + L"\"");
    m_silent_time_ms = leading_silence_ms;
    m_done_evt = done;
    // Reset here, under the lock, not by the thread when it wakes: a stop()
    // that follows at once must find the thread busy and its event set.
    m_stopped_state_evt.reset();
    m_stop_evt.reset();
    m_play_evt.set();
    return true;
}

void mp3streamf::stop() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_stop_evt.set();
    m_stopped_state_evt.wait();
    if (m_done_evt != nullptr) {
        m_done_evt->set();
        m_done_evt = nullptr;
    }
}

void mp3streamf::libvlc_create() {
    STREAM_TRACE_ENTRY();
    constexpr const char* place = "mp3streamf::libvlc_create";
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    require_no_player(place);

    const bool enable_pcm = pref::getBool("debug.enablePCM", false);
    const bool log_vlclib = pref::getBool("debug.log.vlclib", false);
    const std::string chain = capture_sout_chain(
        m_write_network, m_write_file, enable_pcm, m_out_bitrate, m_out_numchannels,
        m_out_samplerate, base::toUtf8(m_write_file_path), m_stream_endp);
    dbg_puts(DEBUG, "mp3streamf sout \"%s\"", chain.c_str());
    if (chain.empty() && !m_local_monitor) dbg_abort("libvlc sout is not set", place);
    m_capture_chain = m_local_monitor ? std::string() : chain;

    create_player(capture_instance_args(log_vlclib, m_local_monitor, m_monitor_args, m_ttl,
                                        interface_name_for_address(m_miface)),
                  place);
    if (log_vlclib) vlc_forward_log(m_libvlc_inst);
}

void mp3streamf::libvlc_dshow_create() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    PlayerChanging changing(m_player_changing);
    require_media_slot("mp3streamf::libvlc_dshow_create");

    const std::string name = base::toUtf8(m_microphone_name);
    const std::string location = capture_location(name);
    libvlc_media_t* media = vlc_new_media(m_libvlc_inst, location.c_str(),
                                          capture_media_options(m_pcm_samplerate, m_capture_chain));
    if (media == nullptr)
        dbg_abort("libvlc_media = libvlc_media_new_location(\"dshow://\") == NULL",
                  "mp3streamf::libvlc_dshow_create");
    dbg_puts(INFO, "selected microphone \"%s\"", name.c_str());
    set_player_media(media);
}

void mp3streamf::decoder_thread() {
    for (;;) {
        m_stopped_state_evt.set();
        m_play_evt.wait();
        if (m_exit) return;
        if (m_fd < 0) dbg_abort("m_fhandle == INVALID_HANDLE_VALUE", "mp3streamf::decoder_thread");
        stream_start();

        if (m_silent_time_ms != 0) {
            // The stream sends its silent block meanwhile. A stop here does
            // not skip the decoder; its loop ends after the first chunk.
            m_stop_evt.wait(m_silent_time_ms);
            m_silent_time_ms = 0;
        }
        set_await_fill(true);
        if (m_hip != nullptr) dbg_abort("m_hip != NULL", "mp3streamf::decoder_thread");
        m_hip = hip_decode_init();
        if (m_hip == nullptr) dbg_abort("m_hip = hip_decode_init() == NULL", "mp3streamf::decoder_thread");

        const int result = decode_loop();
        // From here the ring runs dry on purpose: the play-out counts silence.
        set_await_fill(false);

        hip_decode_exit(m_hip);
        m_hip = nullptr;
        ::close(m_fd);
        m_fd = -1;
        if (result == -1) dbg_puts(ERROR, "nsamp = decode_mpegf(m_fhandle, pcm_buf, &mp3data)) == -1");

        // Stopped early, the message is cut anyway: only the buffer time of
        // silence follows it, without the margin that keeps a natural end
        // whole, so that a notice replacing this one is not held up by it.
        if (!m_exit) play_out(m_stop_evt.is_set() ? 0 : playout_margin_ms);
        stream_stop();
        if (m_done_evt != nullptr) m_done_evt->set();
    }
}

int mp3streamf::decode_loop() {
    short pcm_l[k_frame_samples * 2];
    short pcm_r[k_frame_samples * 2];
    short pcm_buf[k_frame_samples * 2 * 2];
    mp3data_struct mp3data{};
    bool format_set = false;
    for (;;) {
        const int nsamp = decode_mpegf(pcm_l, pcm_r, &mp3data);
        if (nsamp < 0) return -1;
        if (nsamp == 0) return 0;  // end of file
        const auto rate = static_cast<std::uint32_t>(mp3data.samplerate);
        const auto channels = static_cast<std::uint32_t>(mp3data.stereo);
        if (!format_set) {
            set_pcm_fmt(rate, channels, 16);
            format_set = true;
        }
        bool same_format;
        {
            std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
            same_format = m_pcm_samplerate == rate && m_pcm_numchannels == channels;
        }
        if (!same_format) {
            LOG_WARN(L"Поддерживается только константный битрейт MPEG.");
            return 0;
        }
        std::uint32_t length;
        if (channels == 2) {
            for (int i = 0; i < nsamp; ++i) {
                pcm_buf[2 * i] = pcm_l[i];
                pcm_buf[2 * i + 1] = pcm_r[i];
            }
            length = static_cast<std::uint32_t>(nsamp) * 4;
        } else {
            std::memcpy(pcm_buf, pcm_l, static_cast<std::size_t>(nsamp) * 2);
            length = static_cast<std::uint32_t>(nsamp) * 2;
        }
        for (;;) {
            bool written = false;
            if (has_free_slot()) {
                if (!write_pcm(pcm_buf, length))
                    dbg_abort("write_pcm((char*)pcm_buf, pcm_buf_len) == false",
                              "mp3streamf::decoder_thread");
                written = true;
            }
            if (m_stop_evt.wait(1) == sync_event::signalled) return 0;
            if (written) break;
        }
    }
}

int mp3streamf::decode_mpegf(short* pcm_l, short* pcm_r, mp3data_struct* mp3data) {
    unsigned char mp3buf[k_read_size];
    // Frames left over from the last read come first.
    int nsamp = hip_decode1_headers(m_hip, mp3buf, 0, pcm_l, pcm_r, mp3data);
    while (nsamp <= 0) {
        const ssize_t n = ::read(m_fd, mp3buf, sizeof mp3buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            dbg_puts(ERROR, "ReadFile(fhandle, mp3buf, sizeof(mp3buf), &mp3buf_len, NULL) == FALSE");
            return -1;
        }
        if (n == 0) return 0;
        nsamp = hip_decode1_headers(m_hip, mp3buf, static_cast<std::size_t>(n), pcm_l, pcm_r, mp3data);
    }
    return nsamp;
}

void mp3streamf::play_out(std::uint32_t margin_ms) {
    const std::uint64_t needed_us = std::uint64_t{m_buf_time_ms + margin_ms} * 1000u;
    while (is_stream() && player_playing()) {
        const std::uint64_t start = silence_start_us();
        if (start != 0 && static_cast<std::uint64_t>(nowMicroseconds()) - start >= needed_us) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
