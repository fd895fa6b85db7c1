#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <boost/circular_buffer.hpp>

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
/// queued in a ring of eight blocks; libvlc's memory input pulls the blocks
/// through imem_get/imem_release, encodes them to MPEG audio and sends an
/// MPEG-TS over UDP to the stream endpoint. An empty ring is answered with a
/// silent block at once, so the stream never starves while it runs; the time
/// since silence began tells the output module when a track has finished.
///
/// Threads: one writer (a decoder or sine thread) calls write_pcm; libvlc's
/// input thread calls the callbacks; start-up, dispatcher jobs and the GUI
/// thread configure, start and stop. Lock order: state lock, then ring lock.
class mp3stream {
public:
    static constexpr std::uint32_t ring_capacity = 8;

    /// buffer_time_ms: libvlc's mux caching and the silence after which a
    /// track counts as finished; under 100 ms ends the program.
    explicit mp3stream(std::uint32_t buffer_time_ms);
    virtual ~mp3stream();
    mp3stream(const mp3stream&) = delete;
    mp3stream& operator=(const mp3stream&) = delete;

    /// Input format: 8000..48000 Hz, 1 or 2 channels, 16 bits. A refused
    /// format keeps the old one. A change while the libvlc objects exist
    /// rebuilds the media (and restarts the stream when it was running).
    bool set_pcm_fmt(std::uint32_t samplerate, std::uint32_t numchannels, std::uint32_t bitspersamp);

    // Output configuration; only while no libvlc objects exist (else fatal).
    void set_stream_endp(const char* endpoint);
    bool set_stream_fmt(std::uint32_t bitrate_kbps);
    bool set_stream_ttl(std::uint32_t ttl);
    /// Local address (dotted text) whose interface carries the multicast;
    /// copied (31 characters at most) when length is not 0.
    void set_address_interface(const char* text, std::size_t length);

    void libvlc_create();
    void libvlc_imem_create();
    bool stream_start();
    /// Returns whether the stream was running; drops the queued blocks.
    bool stream_stop();
    void libvlc_close();

    /// Queues one chunk of at most 8192 bytes; false when the chunk is too
    /// long or the ring is full (the caller keeps its data and retries).
    /// Null data or zero length queue nothing and return true.
    bool write_pcm(const void* data, std::uint32_t length);

    bool is_stream_created() const;

    // Read by the output module to decide whether it may write and whether
    // the track has finished sounding.
    bool has_free_slot();
    /// Wall-clock time (nowMicroseconds) at which libvlc was first handed
    /// silence in the current silent stretch; 0 while audio flows.
    std::uint64_t silence_start_us();
    std::uint32_t buffer_time_ms() const { return m_buf_time_ms; }

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

    const std::uint32_t m_buf_time_ms;
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
    boost::circular_buffer<pcm_buf*> m_ring;
    pcm_buf* m_pcm_buf_silent = nullptr;
    mutable std::recursive_mutex m_state_lock;
    std::recursive_mutex m_ring_lock;
    bool m_streaming = false;
    char m_miface[32] = {};
};

/// The common stream with a buffer time of 2000 ms.
mp3stream* mp3stream_init();
