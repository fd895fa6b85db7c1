#include "audio/mp3stream.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/stream_options.h"
#include "audio/stream_trace.h"
#include "audio/vlc_support.h"
#include "base/clock.h"
#include "base/dbg.h"
#include "base/log.h"

namespace {

constexpr std::uint32_t k_min_buffer_time_ms = 100;
// Before any input format there is no time to measure by: eight whole blocks.
constexpr std::uint32_t k_unformatted_ring_bytes = 8 * pcm_buf::capacity;

}  // namespace

pcm_buf* pcm_buf_malloc() {
    auto* buf = static_cast<pcm_buf*>(std::malloc(sizeof(pcm_buf)));
    if (buf == nullptr) return nullptr;
    buf->data = buf->payload;
    buf->length = 0;
    return buf;
}

void pcm_buf_free(pcm_buf* buf) { std::free(buf); }

mp3stream* mp3stream_init() {
    auto* stream = new (std::nothrow) mp3stream(2000);
    if (stream == nullptr) dbg_abort("malloc(sizeof(mp3stream)) == NULL", "mp3stream_init");
    return stream;
}

mp3stream::mp3stream(std::uint32_t buffer_time_ms, std::uint32_t mux_caching_ms, std::uint32_t ring_ms)
    : m_buf_time_ms(buffer_time_ms), m_mux_caching_ms(mux_caching_ms), m_ring_ms(ring_ms) {
    STREAM_TRACE_ENTRY();
    if (buffer_time_ms < k_min_buffer_time_ms)
        dbg_abort("buffer_time_ms < 100", "mp3stream::mp3stream");
    m_pcm_buf_silent = pcm_buf_malloc();
    if (m_pcm_buf_silent == nullptr)
        dbg_abort("m_pcm_buf_silent = pcm_buf_malloc() == NULL", "mp3stream::mp3stream");
    std::memset(m_pcm_buf_silent->payload, 0, pcm_buf::capacity);
    m_pcm_buf_silent->length = pcm_buf::capacity;
}

mp3stream::~mp3stream() {
    STREAM_TRACE_ENTRY();
    libvlc_close();
    pcm_buf_free(m_pcm_buf_silent);
    for (pcm_buf* buf : m_ring) pcm_buf_free(buf);
}

void mp3stream::require_not_created(const char* function) const {
    if (is_stream_created()) dbg_abort("is_stream_created() == true", function);
}

bool mp3stream::is_stream_created() const {
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    return m_libvlc_inst != nullptr || m_libvlc_media_player != nullptr;
}

bool mp3stream::is_streaming() const {
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    return m_streaming;
}

bool mp3stream::set_pcm_fmt(std::uint32_t samplerate, std::uint32_t numchannels,
                            std::uint32_t bitspersamp) {
    STREAM_TRACE_ENTRY();
    if (samplerate < 8000 || samplerate > 48000) {
        dbg_puts(TRACE, "samplerate < 8000 || samplerate > 48000");
        return false;
    }
    if (numchannels != 1 && numchannels != 2) {
        dbg_puts(TRACE, "numchannels != 1 && numchannels != 2");
        return false;
    }
    if (bitspersamp != 16) {
        dbg_puts(TRACE, "bitspersamp != 16");
        return false;
    }
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    const bool current = samplerate == m_pcm_samplerate && numchannels == m_pcm_numchannels &&
                         bitspersamp == m_pcm_bitspersamp;
    if (current) {
        m_format_pending = false;  // back to the running format: nothing to rebuild
        return true;
    }
    const bool rebuild = m_libvlc_inst != nullptr && m_libvlc_media_player != nullptr;
    // The rebuild stops libvlc, which still holds up to the buffer time of
    // the last track. The new format waits for that to leave; meanwhile the
    // ring takes nothing, and the first write or question for room after it
    // rebuilds (on the writer's thread, so the caller of this, often a
    // plug-in's Play under the engine's lock, is not held up).
    if (rebuild && m_streaming && drained_tail_ms(static_cast<std::uint64_t>(nowMicroseconds())) != 0) {
        m_pending_samplerate = samplerate;
        m_pending_numchannels = numchannels;
        m_pending_bitspersamp = bitspersamp;
        if (!m_format_pending.exchange(true))
            LOG_DEBUG(L"%1%", L"input format changes once the last track has left the stream");
        return true;
    }
    m_format_pending = false;
    apply_pcm_fmt(samplerate, numchannels, bitspersamp);
    return true;
}

void mp3stream::apply_pcm_fmt(std::uint32_t samplerate, std::uint32_t numchannels, std::uint32_t bitspersamp) {
    const bool rebuild = m_libvlc_inst != nullptr && m_libvlc_media_player != nullptr;
    // The player stops before the format changes under the callbacks' feet.
    const bool was_streaming = rebuild && stream_stop();
    {
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        m_pcm_samplerate = samplerate;
        m_pcm_numchannels = numchannels;
        m_pcm_bitspersamp = bitspersamp;
        // The callbacks count frames in this format, so the clock steps by it.
        sample_clock_set_rate(m_clock, samplerate);
    }
    if (rebuild) {
        PlayerChanging changing(m_player_changing);
        vlc_clear_media(m_libvlc_media_player);
        libvlc_imem_create();
        if (was_streaming) stream_start();
    }
}

bool mp3stream::format_ready() {
    if (!m_format_pending.load()) return true;
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    if (!m_format_pending.load()) return true;
    if (m_streaming && drained_tail_ms(static_cast<std::uint64_t>(nowMicroseconds())) != 0) return false;
    m_format_pending = false;
    apply_pcm_fmt(m_pending_samplerate, m_pending_numchannels, m_pending_bitspersamp);
    return true;
}

void mp3stream::set_stream_endp(const char* endpoint) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    require_not_created("mp3stream::set_stream_endp");
    std::snprintf(m_stream_endp, sizeof m_stream_endp, "%s", endpoint != nullptr ? endpoint : "");
}

bool mp3stream::set_stream_fmt(std::uint32_t bitrate_kbps) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    require_not_created("mp3stream::set_stream_fmt");
    if (bitrate_kbps < 32 || bitrate_kbps > 160) {
        dbg_puts(TRACE, "bitrate < 32 || bitrate > 160");
        return false;
    }
    m_out_bitrate = bitrate_kbps;
    m_out_samplerate = 44100;
    m_out_numchannels = 1;
    return true;
}

bool mp3stream::set_stream_ttl(std::uint32_t ttl) {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    require_not_created("mp3stream::set_stream_ttl");
    if (ttl == 0) {
        dbg_puts(TRACE, "ttl == 0");
        return false;
    }
    m_ttl = static_cast<std::uint8_t>(ttl);
    return true;
}

void mp3stream::set_address_interface(const char* text, std::size_t length) {
    STREAM_TRACE_ENTRY();
    if (text == nullptr || length == 0) return;
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    const std::size_t n = length < sizeof m_miface - 1 ? length : sizeof m_miface - 1;
    std::memcpy(m_miface, text, n);
    m_miface[n] = '\0';
}

void mp3stream::libvlc_create() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    const std::string interface_name = interface_name_for_address(m_miface);
    if (m_miface[0] != '\0' && interface_name.empty())
        LOG_WARN(L"no network interface holds the address %1%; the stream leaves by the default route",
                 m_miface);
    create_player(common_instance_args(m_mux_caching_ms, m_ttl, interface_name),
                  "mp3stream::libvlc_create");
}

std::vector<std::string> mp3stream::instance_args() const {
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    return common_instance_args(m_mux_caching_ms, m_ttl, interface_name_for_address(m_miface));
}

void mp3stream::require_no_player(const char* place) const {
    if (m_libvlc_inst != nullptr) dbg_abort("m_libvlc_inst != NULL", place);
    if (m_libvlc_media_player != nullptr) dbg_abort("m_libvlc_media_player != NULL", place);
}

void mp3stream::create_player(const std::vector<std::string>& args, const char* place) {
    PlayerChanging changing(m_player_changing);
    require_no_player(place);
    m_libvlc_inst = vlc_new_instance(args);
    if (m_libvlc_inst == nullptr) dbg_abort("m_libvlc_inst = libvlc_new() == NULL", place);
    m_libvlc_media_player = libvlc_media_player_new(m_libvlc_inst);
    if (m_libvlc_media_player == nullptr) {
        libvlc_release(m_libvlc_inst);
        m_libvlc_inst = nullptr;
        dbg_abort("m_libvlc_media_player = libvlc_media_player_new() == NULL", place);
    }
}

void mp3stream::require_media_slot(const char* place) {
    if (m_libvlc_media_player == nullptr) dbg_abort("m_libvlc_media_player == NULL", place);
    if (libvlc_media_t* current = libvlc_media_player_get_media(m_libvlc_media_player)) {
        libvlc_media_release(current);  // get_media hands out a reference
        vlc_clear_media(m_libvlc_media_player);
        dbg_abort("libvlc_media_player_get_media(m_libvlc_media_player) != NULL", place);
    }
    if (m_pcm_samplerate == 0) dbg_abort("m_pcm_samplerate == 0", place);
    if (m_pcm_numchannels != 1 && m_pcm_numchannels != 2)
        dbg_abort("m_pcm_numchannels != 1 && m_pcm_numchannels != 2", place);
    if (m_pcm_bitspersamp == 0) dbg_abort("m_pcm_bitspersamp == 0", place);
}

void mp3stream::set_player_media(libvlc_media_t* media) {
    libvlc_media_player_set_media(m_libvlc_media_player, media);
    libvlc_media_release(media);  // the player keeps its own reference
}

void mp3stream::libvlc_imem_create() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    PlayerChanging changing(m_player_changing);
    require_media_slot("mp3stream::libvlc_imem_create");

    const std::string chain =
        mpga_ts_udp_chain(m_out_bitrate, m_out_numchannels, m_out_samplerate, m_stream_endp);
    const auto options = imem_media_options(
        reinterpret_cast<std::uintptr_t>(&mp3stream::imem_get),
        reinterpret_cast<std::uintptr_t>(&mp3stream::imem_release),
        reinterpret_cast<std::uintptr_t>(this), m_pcm_samplerate, m_pcm_numchannels, chain);
    libvlc_media_t* media = vlc_new_media(m_libvlc_inst, "imem://", options);
    if (media == nullptr)
        dbg_abort("libvlc_media = libvlc_media_new_location(\"imem://\") == NULL",
                  "mp3stream::libvlc_imem_create");
    {
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        sample_clock_set_rate(m_clock, m_pcm_samplerate);
    }
    set_player_media(media);
}

bool mp3stream::stream_start() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    PlayerChanging changing(m_player_changing);
    LOG_DEBUG(L"start stream over interface %1% to endpoint %2%", m_miface, m_stream_endp);
    {
        // The silent stretch and the drain of the last run are over; what
        // libvlc held then went with its stop.
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        m_silence_start = 0;
        m_drained_at = 0;
    }
    m_streaming = m_libvlc_media_player != nullptr &&
                  libvlc_media_player_play(m_libvlc_media_player) == 0;
    return m_streaming;
}

bool mp3stream::stream_stop() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    PlayerChanging changing(m_player_changing);
    LOG_DEBUG(L"stop stream for endpoint %1%", m_stream_endp);
    // Synchronous in libvlc 3: the callbacks have ended when it returns, so
    // the queue can be freed below. A get that waits for the feeder would
    // hold it up (a rebuild for a new format stops the stream with the
    // feeder's wait on): it is let go, and no get waits meanwhile.
    {
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        m_stopping = true;
    }
    m_ring_written.notify_all();
    if (m_libvlc_media_player != nullptr) libvlc_media_player_stop(m_libvlc_media_player);
    {
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        m_stopping = false;
        for (pcm_buf* buf : m_ring) pcm_buf_free(buf);
        m_ring.clear();
        m_queued_bytes = 0;
        m_front_handed_out = false;
        m_drained_at = 0;
    }
    const bool was_streaming = m_streaming;
    m_streaming = false;
    return was_streaming;
}

void mp3stream::libvlc_close() {
    STREAM_TRACE_ENTRY();
    std::lock_guard<std::recursive_mutex> state(m_state_lock);
    PlayerChanging changing(m_player_changing);
    stream_stop();
    // Nothing was made when the stream is switched off in the settings.
    if (m_libvlc_media_player != nullptr) {
        vlc_clear_media(m_libvlc_media_player);
        libvlc_media_player_release(m_libvlc_media_player);
        m_libvlc_media_player = nullptr;
    }
    if (m_libvlc_inst != nullptr) {
        libvlc_release(m_libvlc_inst);
        m_libvlc_inst = nullptr;
    }
}

std::uint32_t mp3stream::ring_limit_bytes() const {
    if (m_pcm_samplerate == 0 || frame_bytes() == 0) return k_unformatted_ring_bytes;
    return static_cast<std::uint32_t>(std::uint64_t{m_ring_ms} * m_pcm_samplerate * frame_bytes() / 1000u);
}

bool mp3stream::write_pcm(const void* data, std::uint32_t length) {
    STREAM_TRACE_ENTRY();
    if (data == nullptr || length == 0) {
        dbg_puts(TRACE, "mp3stream::write(NULL, 0);");
        return true;
    }
    if (length > pcm_buf::capacity || !format_ready()) return false;
    {
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        if (m_queued_bytes >= ring_limit_bytes()) return false;
    }
    // Made before the lock, so that the callbacks never wait for an
    // allocation; given back when the chunk fits into the last block.
    pcm_buf* fresh = pcm_buf_malloc();
    if (fresh == nullptr) dbg_abort("pcm_buf = pcm_buf_malloc() == NULL", "mp3stream::write_pcm");
    const char* bytes = static_cast<const char*>(data);
    {
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        // Whole frames only go into the last block, and never into one that
        // libvlc holds between get and release.
        std::uint32_t packed = 0;
        const std::uint32_t frame = frame_bytes();
        const bool last_held = m_ring.size() == 1 && m_front_handed_out;
        if (m_pack_chunks && frame != 0 && length % frame == 0 && !m_ring.empty() && !last_held &&
            m_ring.back()->length % frame == 0) {
            pcm_buf* last = m_ring.back();
            const std::uint32_t room = pcm_buf::capacity - last->length;
            packed = std::min(length, room - room % frame);
            std::memcpy(last->payload + last->length, bytes, packed);
            last->length += packed;
        }
        if (packed < length) {
            std::memcpy(fresh->payload, bytes + packed, length - packed);
            fresh->length = length - packed;
            m_ring.push_back(fresh);
            fresh = nullptr;
        }
        m_queued_bytes += length;
        m_silence_start = 0;
        m_drained_at = 0;
    }
    m_ring_written.notify_all();
    if (fresh != nullptr) pcm_buf_free(fresh);
    return true;
}

void mp3stream::set_await_fill(bool on) {
    {
        std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
        m_await_fill = on;
    }
    m_ring_written.notify_all();
}

bool mp3stream::has_free_slot() {
    if (!format_ready()) return false;
    std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
    return m_queued_bytes < ring_limit_bytes();
}

std::uint32_t mp3stream::queued_ms() {
    std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
    const std::uint64_t per_second = std::uint64_t{m_pcm_samplerate} * frame_bytes();
    return per_second == 0 ? 0 : static_cast<std::uint32_t>(std::uint64_t{m_queued_bytes} * 1000u / per_second);
}

std::uint64_t mp3stream::silence_start_us() {
    std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
    return m_silence_start;
}

bool mp3stream::has_queued_audio() {
    std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
    return !m_ring.empty();
}

std::uint64_t mp3stream::drained_at_us() {
    std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
    return m_drained_at;
}

std::uint32_t mp3stream::drained_tail_ms(std::uint64_t now_us) {
    std::lock_guard<std::recursive_mutex> ring(m_ring_lock);
    if (m_drained_at == 0) return 0;
    const std::uint64_t since = now_us > m_drained_at ? now_us - m_drained_at : 0;
    const std::uint64_t budget = std::uint64_t{m_buf_time_ms} * 1000u;
    if (since >= budget) return 0;
    return static_cast<std::uint32_t>((budget - since + 999u) / 1000u);
}

int mp3stream::imem_get(void* data, const char*, std::int64_t* dts, std::int64_t* pts,
                        unsigned* flags, std::size_t* size, void** buffer) {
    auto* stream = static_cast<mp3stream*>(data);
    *dts = -1;
    *flags = 0;
    std::unique_lock<std::recursive_mutex> ring(stream->m_ring_lock);
    // A block of silence between two MPEG frames of a track would cut it,
    // and the encoder's output would change from one frame per block to
    // several: the mux packs those tighter and spaces the datagrams wider.
    const auto waits = [stream] { return stream->m_ring.empty() && stream->m_await_fill && !stream->m_stopping; };
    if (waits())
        stream->m_ring_written.wait_for(ring, std::chrono::milliseconds(fill_wait_ms), [&waits] { return !waits(); });
    const pcm_buf* buf;
    if (stream->m_ring.empty()) {
        buf = stream->m_pcm_buf_silent;
        if (stream->m_silence_start == 0) stream->m_silence_start = static_cast<std::uint64_t>(nowMicroseconds());
    } else {
        buf = stream->m_ring.front();
        stream->m_front_handed_out = true;
        stream->m_silence_start = 0;
    }
    const std::uint32_t frame_bytes = stream->m_pcm_bitspersamp * stream->m_pcm_numchannels / 8;
    const std::uint32_t frames = frame_bytes == 0 ? 0 : buf->length / frame_bytes;
    *pts = sample_clock_increment(stream->m_clock, frames);
    *size = buf->length;
    *buffer = buf->data;
    return 0;
}

void mp3stream::imem_release(void* data, const char*, std::size_t, void* buffer) {
    auto* stream = static_cast<mp3stream*>(data);
    std::lock_guard<std::recursive_mutex> ring(stream->m_ring_lock);
    if (!stream->m_ring.empty() && stream->m_ring.front()->data == buffer) {
        stream->m_queued_bytes -= stream->m_ring.front()->length;
        pcm_buf_free(stream->m_ring.front());
        stream->m_ring.pop_front();
        stream->m_front_handed_out = false;
        if (stream->m_ring.empty()) stream->m_drained_at = static_cast<std::uint64_t>(nowMicroseconds());
    }
}
