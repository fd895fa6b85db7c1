#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "audio/sample_clock.h"

struct libvlc_instance_t;
struct libvlc_media_player_t;
struct libvlc_media_t;

/// One queued chunk of PCM: a single heap block holding its own payload.
struct pcm_buf {
    static constexpr std::uint32_t capacity = 8192;
    char* data;            // points at payload
    std::uint32_t length;  // bytes used
    char payload[capacity];
};

pcm_buf* pcm_buf_malloc();
void pcm_buf_free(pcm_buf* buf);

/// The common multicast stream: 16-bit PCM written by the output module is
/// queued in a ring of blocks; libvlc's memory input pulls the blocks
/// through imem_get/imem_release, encodes them to MPEG audio and sends an
/// MPEG-TS over UDP to the stream endpoint. An empty ring is answered with a
/// silent block at once, so the stream never starves while it runs. The
/// moment libvlc has taken the last queued block tells the output module
/// that a track has been handed over whole (the next one may follow before
/// libvlc asks again), and the buffer time after it that the track has left
/// the stream.
///
/// The ring is measured in time, not in writes: small chunks are packed into
/// the last block (whole frames only, never into a block libvlc holds), and
/// writes are taken while less than the ring time is queued. libvlc's memory
/// input takes about 460 ms at once when the stream starts; the common ring
/// holds more than that, so a source that filled it before the start is not
/// interrupted by silence a moment later.
///
/// Threads: one writer (a decoder or sine thread) calls write_pcm; libvlc's
/// input thread calls the callbacks; start-up, dispatcher jobs and the GUI
/// thread configure, start and stop. Lock order: state lock, then ring lock.
class mp3stream {
public:
    /// The common stream's libvlc mux caching and ring time.
    static constexpr std::uint32_t common_mux_caching_ms = 300;
    static constexpr std::uint32_t common_ring_ms = 500;

    /// buffer_time_ms: how long libvlc may still hold audio after it took the
    /// last block (a stop or a format change waits that long after the ring
    /// ran dry); under 100 ms ends the program. mux_caching_ms: libvlc's mux
    /// caching. ring_ms: audio queued before writes are refused.
    explicit mp3stream(std::uint32_t buffer_time_ms, std::uint32_t mux_caching_ms = common_mux_caching_ms,
                       std::uint32_t ring_ms = common_ring_ms);
    virtual ~mp3stream();
    mp3stream(const mp3stream&) = delete;
    mp3stream& operator=(const mp3stream&) = delete;

    /// Input format: 8000..48000 Hz, 1 or 2 channels, 16 bits. A refused
    /// format keeps the old one. A change while the libvlc objects exist
    /// rebuilds the media (and restarts the stream when it was running). A
    /// running stream whose ring ran dry less than the buffer time ago first
    /// sends what libvlc holds, so the end of the last track is not cut: the
    /// call returns at once, the ring takes nothing until then, and the first
    /// write_pcm or has_free_slot after it rebuilds.
    bool set_pcm_fmt(std::uint32_t samplerate, std::uint32_t numchannels, std::uint32_t bitspersamp);

    // Output configuration; only while no libvlc objects exist (else fatal).
    void set_stream_endp(const char* endpoint);
    bool set_stream_fmt(std::uint32_t bitrate_kbps);
    bool set_stream_ttl(std::uint32_t ttl);
    /// Local address (dotted text) whose interface carries the multicast;
    /// copied (31 characters at most) when length is not 0.
    void set_address_interface(const char* text, std::size_t length);

    void libvlc_create();
    /// The arguments libvlc_create gave (or would give) libvlc_new.
    std::vector<std::string> instance_args() const;
    void libvlc_imem_create();
    bool stream_start();
    /// Returns whether the stream was running; drops the queued blocks.
    bool stream_stop();
    void libvlc_close();

    /// Queues one chunk of at most 8192 bytes (whole frames); false when the
    /// chunk is too long or the ring is full (the caller keeps its data and
    /// retries). Null data or zero length queue nothing and return true.
    bool write_pcm(const void* data, std::uint32_t length);

    bool is_stream_created() const;
    /// True between a successful stream_start and the next stream_stop.
    bool is_streaming() const;

    // Read by the output module to decide whether it may write and whether
    // the track has been handed over whole.
    /// Room for another chunk: less than the ring time is queued (and no
    /// new input format is waiting; see set_pcm_fmt).
    bool has_free_slot();
    /// Milliseconds of audio queued (in the current input format).
    std::uint32_t queued_ms();
    /// Wall-clock time (nowMicroseconds) at which libvlc was first handed
    /// silence in the current silent stretch; 0 while audio is queued.
    std::uint64_t silence_start_us();
    /// False once libvlc has taken (and given back) the last queued block.
    bool has_queued_audio();
    /// Wall-clock time (nowMicroseconds) at which libvlc gave back the last
    /// queued block; 0 while blocks are queued and before any audio since the
    /// stream started.
    std::uint64_t drained_at_us();
    /// What is left, at wall-clock time now_us, of the buffer time since
    /// libvlc took the last queued block: the time the audio it still holds
    /// needs to leave. 0 while blocks are queued, when the stream has carried
    /// no audio since it started, and once the buffer time has passed.
    std::uint32_t drained_tail_ms(std::uint64_t now_us);
    std::uint32_t buffer_time_ms() const { return m_buf_time_ms; }
    /// While on, libvlc asking for audio from an empty ring waits for the
    /// next write (up to fill_wait_ms) instead of taking silence: the feeder
    /// is known to be writing a track. Off (the default), an empty ring is
    /// silence at once, and so it is while stream_stop stops libvlc. Any
    /// thread.
    void set_await_fill(bool on);
    static constexpr std::uint32_t fill_wait_ms = 50;

    // libvlc's memory input calls these on its input thread, in pairs; data
    // is the stream. get never ends the stream (always 0).
    static int imem_get(void* data, const char* cookie, std::int64_t* dts, std::int64_t* pts,
                        unsigned* flags, std::size_t* size, void** buffer);
    static void imem_release(void* data, const char* cookie, std::size_t size, void* buffer);

protected:
    void require_not_created(const char* function) const;
    // Under the state lock; each broken precondition ends the program with
    // the caller's name.
    void require_no_player(const char* place) const;
    void create_player(const std::vector<std::string>& args, const char* place);
    void require_media_slot(const char* place);
    void set_player_media(libvlc_media_t* media);
    /// Under the state lock: sets the input format and rebuilds the media.
    void apply_pcm_fmt(std::uint32_t samplerate, std::uint32_t numchannels, std::uint32_t bitspersamp);
    /// False while a new input format waits for the last track to leave;
    /// applies it once it has.
    bool format_ready();
    /// Under the ring lock: bytes the ring takes before it counts as full.
    std::uint32_t ring_limit_bytes() const;
    std::uint32_t frame_bytes() const { return m_pcm_bitspersamp * m_pcm_numchannels / 8; }

    const std::uint32_t m_buf_time_ms;
    const std::uint32_t m_mux_caching_ms;
    const std::uint32_t m_ring_ms;
    /// Small chunks go into the last block. Without it every write is a
    /// block of its own: libvlc asks for the next block once the last one is
    /// due, so small blocks let the end of the audio be seen sooner.
    bool m_pack_chunks = true;
    std::uint32_t m_pcm_samplerate = 0;
    std::uint32_t m_pcm_numchannels = 0;
    std::uint32_t m_pcm_bitspersamp = 0;
    char m_stream_endp[32] = {};
    std::uint32_t m_out_bitrate = 0;
    std::uint32_t m_out_samplerate = 0;
    std::uint32_t m_out_numchannels = 0;
    std::uint8_t m_ttl = 1;
    libvlc_instance_t* m_libvlc_inst = nullptr;
    libvlc_media_player_t* m_libvlc_media_player = nullptr;
    sample_clock m_clock;
    std::uint64_t m_silence_start = 0;
    std::deque<pcm_buf*> m_ring;
    std::uint32_t m_queued_bytes = 0;
    bool m_front_handed_out = false;  // libvlc holds the oldest block (get without release yet)
    std::uint64_t m_drained_at = 0;   // see drained_at_us
    pcm_buf* m_pcm_buf_silent = nullptr;
    mutable std::recursive_mutex m_state_lock;
    /// Above zero while a thread holds the state lock for libvlc's slow
    /// work: making, starting, stopping or releasing the player, or making
    /// its media (tenths of a second each). Readers of the stream's state
    /// that must not wait that long look at it when the lock is taken.
    std::atomic<int> m_player_changing{0};
    /// Marks a stretch of libvlc's slow work under the state lock.
    class PlayerChanging {
    public:
        explicit PlayerChanging(std::atomic<int>& count) : m_count(count) { ++m_count; }
        ~PlayerChanging() { --m_count; }
        PlayerChanging(const PlayerChanging&) = delete;
        PlayerChanging& operator=(const PlayerChanging&) = delete;

    private:
        std::atomic<int>& m_count;
    };
    std::recursive_mutex m_ring_lock;
    std::condition_variable_any m_ring_written;  // with the ring lock
    bool m_await_fill = false;                   // under the ring lock
    bool m_stopping = false;                     // under the ring lock: libvlc is being stopped
    bool m_streaming = false;
    char m_miface[32] = {};
    std::atomic<bool> m_format_pending{false};  // the pending format is under the state lock
    std::uint32_t m_pending_samplerate = 0;
    std::uint32_t m_pending_numchannels = 0;
    std::uint32_t m_pending_bitspersamp = 0;
};

/// The common stream with a buffer time of 2000 ms.
mp3stream* mp3stream_init();
