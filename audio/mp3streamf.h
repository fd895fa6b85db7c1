#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <boost/thread/thread.hpp>
#include <lame/lame.h>

#include "audio/mp3stream.h"
#include "audio/sync_event.h"

/// The notification stream: service and alarm announcements and the live
/// microphone. A common stream with a short buffer (500 ms), fed either by
/// its decoder thread, which turns an MP3 file into PCM with LAME's decoder
/// (read mode 2, file), or by a capture device that libvlc opens itself (read
/// mode 1, microphone). The alarm channel drives it from its alarm thread; the
/// settings dialog uses the microphone mode with a local monitor.
///
/// Threads: the decoder thread (raised priority where the system allows it)
/// never takes this object's lock, so stop(), which holds the lock while it
/// waits for the thread to become idle, always returns.
class mp3streamf : public mp3stream {
public:
    enum read_mode : std::uint32_t { READ_DISABLE = 0, READ_MICROPHONE = 1, READ_FILE = 2 };

    mp3streamf();
    ~mp3streamf() override;

    // Modes can change only while no libvlc objects exist (else false).
    bool set_read_mode(std::uint32_t mode);
    bool set_write_mode(bool network, bool file);
    /// Capture device: an ALSA device name, or a location with its scheme
    /// ("pulse://<source>", "alsa://hw:1,0").
    void set_microphone_name(const std::wstring& name);
    void set_write_file(const std::wstring& path);
    /// Microphone played on the local sound output instead of being sent.
    void set_local_monitor(bool on);
    /// libvlc arguments that choose the local sound output ("--aout=pulse"
    /// unless set otherwise).
    void set_local_monitor_output(const std::vector<std::string>& args);

    /// Makes the libvlc objects for the read mode and starts the stream. The
    /// capture mode reads the settings debug.enablePCM (16-bit PCM in WAV
    /// instead of MPEG audio in TS) and debug.log.vlclib (libvlc's messages
    /// into our log), both created false when absent.
    void stream_create();
    void stream_close();
    /// True while the libvlc player exists and is not in error or ended, and
    /// while another thread is making or ending it: the window asks this
    /// (through the alarm channel) and must not wait the tenths of a second
    /// that libvlc takes to start.
    bool is_stream();

    /// Plays an MP3 file after leading_silence_ms of silence; the done event
    /// (the caller's, may be null) is signalled when the play ends or is
    /// stopped. False when the path isn't ".mp3" or can't be opened.
    bool play_file(std::uint32_t leading_silence_ms, const std::wstring& path, sync_event* done);
    /// Ends the current play (its queued audio and the buffer time of
    /// silence are still sent, what libvlc holds beyond that is not) and
    /// returns once the decoder thread is idle.
    void stop();

    /// Silence after the last decoded block before the stream stops: the
    /// buffer time plus what libvlc 3 still holds in its transcoder and muxer,
    /// so that the end of a message is not cut.
    static constexpr std::uint32_t playout_margin_ms = 1000;

private:
    void libvlc_create();        // microphone mode
    void libvlc_dshow_create();  // the capture device's media
    void decoder_thread();
    int decode_loop();
    int decode_mpegf(short* pcm_l, short* pcm_r, mp3data_struct* mp3data);
    /// Waits until the stream has sent the buffer time and `margin_ms` of
    /// silence (or is no longer playing).
    void play_out(std::uint32_t margin_ms);
    bool player_playing();

    hip_t m_hip = nullptr;
    int m_fd = -1;
    sync_event m_play_evt{false};
    sync_event m_stop_evt{true};
    sync_event m_stopped_state_evt{true};
    sync_event* m_done_evt = nullptr;
    std::recursive_mutex m_lock;
    std::uint32_t m_silent_time_ms = 0;
    std::atomic<bool> m_exit{false};
    std::uint32_t m_read_mode = READ_DISABLE;
    std::wstring m_microphone_name;
    bool m_write_network = false;
    bool m_write_file = false;
    std::wstring m_write_file_path;
    bool m_local_monitor = false;
    std::vector<std::string> m_monitor_args{"--aout=pulse"};
    std::string m_capture_chain;
    boost::thread m_decoder_thread;
};

/// The notification stream, input format 44100 Hz stereo until a file says
/// otherwise.
mp3streamf* mp3streamf_init();
