#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>

#include "audio/plugin_api.h"

class EnginePlayer;
class mp3stream;

namespace detail {

/// One loaded input plug-in; unloading calls its Quit and closes the library.
class in_module {
public:
    in_module(void* library, In_Module* record, const std::wstring& path);
    ~in_module();
    in_module(const in_module&) = delete;
    in_module& operator=(const in_module&) = delete;

    void* library;
    In_Module* record;
    std::wstring path;
};

}  // namespace detail

/// The audio-source engine behind the common stream: hosts the input
/// plug-ins of the "plugins" folder, chooses one for a file or URL, starts
/// and stops it, plays the sine test tones and sends the keep-alive
/// datagrams while the stream is idle.
///
/// Threads: play and stop come from the player's dispatcher jobs and from the
/// host window's thread; the plug-ins decode on their own threads and reach
/// the common stream through the output module. Stop calls the plug-in's Stop
/// without the engine lock (it joins the decoding thread), after the plug-in
/// has been detached under the lock, so a second stop never calls it again.
/// Settings are read under the engine lock: never call the engine while
/// holding a pref::Guard.
///
/// With keep-alive datagrams on, the common stream runs while anything plays
/// and the keep-alive datagrams only while it is stopped. A playlist keeps
/// one stream from item to item: an item is over once libvlc has taken its
/// last block, the next one follows on the running stream, and the stream
/// stops only when nothing has followed within the buffer time (the audio
/// libvlc still holds leaves meanwhile). A stop while audio is still queued
/// (the operator's) stops the stream at once.
class PlayerEngine {
public:
    /// Shows the playing title; runs on the host's thread (the GUI thread).
    using TitleSink = std::function<void(const std::wstring&)>;
    /// Queues a task to the host's thread (the GUI-thread invoker in the
    /// program); without one no title is shown and start_stream does nothing.
    using TaskQueue = std::function<void(std::function<void()>)>;

    /// Loads the in_*.so plug-ins of `plugin_folder` (empty: "plugins" beside
    /// the executable) in name order. No accepted plug-in ends the program.
    PlayerEngine(HWND main_window, mp3stream* common_stream, const std::wstring& plugin_folder = std::wstring());
    ~PlayerEngine();
    PlayerEngine(const PlayerEngine&) = delete;
    PlayerEngine& operator=(const PlayerEngine&) = delete;

    /// Where titles go (the main window's title line) and how they get to its
    /// thread; without a queue no title is shown and no stream start is
    /// deferred.
    void set_host(TaskQueue queue, TitleSink title);
    void register_player(EnginePlayer* player) { m_player = player; }

    bool play(const std::wstring& text);
    bool play_file(const std::wstring& path);
    bool play_url(const std::wstring& url);
    void stop(bool stop_plugin);
    /// The host window's end of track: stop(true) unless another source has
    /// started or stopped since the plug-in posted it.
    void end_of_track(std::uint64_t generation);
    void shutdown();
    void update_song_title();

    std::wstring getFileFilter(bool extensions_only);
    boost::shared_ptr<detail::in_module> findModule(const char* extension);

    bool play_sine(int frequency);
    bool play_sine_manual(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t period);

    /// Pause between the keep-alive's end and the stream's start, and the
    /// longest the start waits for the source to fill the ring.
    static constexpr int k_start_pause_ms = 100;
    static constexpr int k_start_fill_limit_ms = 300;

    /// Longest the keep-alive stays off for a stream announced by
    /// quiet_for_stream that does not start.
    static constexpr int k_quiet_limit_ms = 1000;

    void start_stream();
    void start_delayed_stream();
    /// A source starts on the common stream in k_start_pause_ms (a message
    /// after its pause): the keep-alive stops now, so that the stream's start
    /// finds the quiet before it already kept. Nothing while a source or the
    /// stream runs; the keep-alive comes back by itself when no stream has
    /// started within k_quiet_limit_ms.
    void quiet_for_stream();
    /// Stops the stream and brings the keep-alive back; when libvlc took the
    /// last queued block less than the buffer time ago, that happens in a
    /// dispatcher job once the rest of the buffer time has passed, unless a
    /// source has started or stopped meanwhile.
    void stop_stream();
    void start_ping();
    /// Returns when the quiet on the group began: the keep-alive's stop now,
    /// or an earlier one that no start has followed.
    std::chrono::steady_clock::time_point stop_ping();

    /// Changes whenever a source starts or stops; the host window tags an end
    /// of track with it.
    std::uint64_t play_generation() const { return m_generation.load(); }
    std::wstring current_source();
    std::size_t plugin_count() const { return m_plugins.size(); }

private:
    void load_plugins(const std::string& folder);
    void sine_thread();
    void sine_manual_thread();
    void ping_thread();
    /// A sine thread that ends by itself: treated as stop(true) but without
    /// waiting for itself.
    void sine_ended();
    /// Queues the player's itemEnded, with its ticket, the audio given and
    /// the length `plugin` (none for a tone) tells, when the player plays
    /// and did not make this stop; true when it did.
    bool advance_player_if_playing(const detail::in_module* plugin);
    /// After a stop that left nothing playing: the stream stops, or, when the
    /// player moves on to its next item, keeps running for it and stops only
    /// if nothing has started within the buffer time.
    void leave_stream(bool moving_on);
    void postpone_stream_stop(std::uint32_t delay_ms);
    void postponed_stream_stop(std::uint64_t generation);
    /// Queues a job that runs only while the engine exists.
    std::uint32_t add_job(const std::wstring& description, std::uint32_t delay_ms,
                          std::function<void(PlayerEngine&)> job);
    void post_title(const std::wstring& title);
    /// Plays the chosen plug-in (engine lock held); a failure stops it again.
    bool start_current(std::string& narrow, const std::wstring& text, bool url);
    /// Play under the plug-in call lock (lock order: engine lock, then it).
    int call_play(detail::in_module& plugin, std::string& argument);
    bool zero_ping();

    std::vector<boost::shared_ptr<detail::in_module>> m_plugins;
    boost::shared_ptr<detail::in_module> m_current;
    HWND m_main_window;
    std::atomic<bool> m_active{false};
    std::atomic<EnginePlayer*> m_player{nullptr};
    std::atomic<int> m_sine_frequency{-1};
    std::thread m_sine_thread;
    std::atomic<std::uint32_t> m_sine_stop{1};
    std::recursive_mutex m_lock;
    std::mutex m_plugin_calls;  // Play and Stop of the plug-ins never overlap
    std::wstring m_current_source;
    std::atomic<bool> m_shutdown{false};
    std::atomic<std::uint32_t> m_sine_min{0};
    std::atomic<std::uint32_t> m_sine_max{0};
    std::atomic<std::uint32_t> m_sine_period{0};
    boost::thread m_ping_thread;
    std::mutex m_ping_lock;  // keep-alive start and stop may run on two dispatcher workers
    /// When the keep-alive last stopped, until it starts again (m_ping_lock).
    std::optional<std::chrono::steady_clock::time_point> m_quiet_since;

    mp3stream* m_stream;
    std::atomic<std::uint64_t> m_generation{1};
    /// Dispatcher jobs reach the engine through this; the destructor clears
    /// it, waiting for a job that is running.
    struct Lifeline {
        std::mutex mutex;
        PlayerEngine* engine = nullptr;
    };
    std::shared_ptr<Lifeline> m_lifeline;
    std::uint32_t m_stream_stop_job = 0;  // the postponed stop, under the engine lock
    std::mutex m_host_lock;
    TaskQueue m_queue;
    TitleSink m_title;
};

/// The one engine of the program, from player_engine_init to exit.
extern PlayerEngine* g_player_engine;
PlayerEngine* player_engine_init(HWND main_window, mp3stream* common_stream);

// The samples of the test tones, 44100 Hz mono 16-bit; pure for the tests.
namespace sine {
constexpr double k_rate = 44100.0;
constexpr std::size_t k_chunk_samples = 2048;

/// Fills `count` samples of a fixed sine, advancing `phase` (radians).
void fill_fixed(std::int16_t* out, std::size_t count, double& phase, double step);

/// The sweep between minimum and maximum with the given period in seconds;
/// period 0 gives the constant middle frequency.
struct Sweep {
    Sweep(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t period);
    void fill(std::int16_t* out, std::size_t count);
    double phase = 0;
    double sweep_phase = 0;
    double sweep_step;
    double middle;
    double half_span;
};
}  // namespace sine
