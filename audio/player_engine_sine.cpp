// The engine's sources that need no plug-in: the sine test tones and the
// keep-alive datagrams sent to the common stream's group while it is idle.
#include <cmath>
#include <cstdio>
#include <vector>

#include <boost/asio/ip/udp.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>

#include "audio/keep_alive.h"
#include "audio/mp3stream.h"
#include "audio/out_module.h"
#include "audio/player_engine.h"
#include "base/clock.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/orvel_info.h"
#include "device/models/stream_ports.h"

namespace sine {

namespace {
constexpr double k_two_pi = 2.0 * M_PI;

std::int16_t sample_at(double phase) { return static_cast<std::int16_t>(std::sin(phase) * 32767.0); }
}  // namespace

void fill_fixed(std::int16_t* out, std::size_t count, double& phase, double step) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = sample_at(phase);
        phase += step;
        if (phase >= k_two_pi) phase -= k_two_pi;
    }
}

// In double: (maximum - minimum) in unsigned arithmetic wraps when the
// minimum is the larger bound, and a period of 0 would divide by zero.
Sweep::Sweep(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t period)
    : sweep_step(period == 0 ? 0.0 : (k_two_pi / period) / k_rate),
      middle((double(maximum) + double(minimum)) / 2.0),
      half_span(period == 0 ? 0.0 : (double(maximum) - double(minimum)) / 2.0) {}

void Sweep::fill(std::int16_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = sample_at(phase);
        const double f = std::sin(sweep_phase) * half_span + middle;
        phase += f * k_two_pi / k_rate;
        while (phase >= k_two_pi) phase -= k_two_pi;
        while (phase < 0) phase += k_two_pi;
        sweep_phase += sweep_step;
        if (sweep_phase >= k_two_pi) sweep_phase -= k_two_pi;
    }
}

}  // namespace sine

namespace {

/// Writes chunks made by `make` until `stop` is set; false when the output
/// module refused to open or to take a chunk.
template <class Make>
bool run_tone(const std::atomic<std::uint32_t>& stop, Make make) {
    if (g_winamp_out_module.Open(44100, 1, 16, -1, -1) < 0) {
        dbg_puts(ERROR, "%s", "g_winamp_out_module.Open() error");
        return false;
    }
    std::vector<std::int16_t> chunk(sine::k_chunk_samples);
    const int bytes = static_cast<int>(chunk.size() * 2);
    bool ok = true;
    while (stop.load() == 0) {
        if (g_winamp_out_module.CanWrite() < bytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        make(chunk.data(), chunk.size());
        if (g_winamp_out_module.Write(reinterpret_cast<char*>(chunk.data()), bytes) != 0) {
            dbg_puts(ERROR, "%s", "g_winamp_out_module.Write() error");
            ok = false;
            break;
        }
    }
    g_winamp_out_module.Close();
    return ok;
}

}  // namespace

bool PlayerEngine::play_sine(int frequency) {
    dbg_puts(TRACE2, "%s(..)", "PlayerEngine::play_sine");
    if (m_shutdown) return false;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    stop(true);
    if (m_sine_thread.joinable()) dbg_abort("m_sine_thread != NULL", "PlayerEngine::play_sine");
    if (frequency < 10 || frequency > 20000) return false;
    m_sine_frequency = frequency;
    m_sine_stop = 0;
    ++m_generation;
    try {
        m_sine_thread = std::thread([this] { sine_thread(); });
    } catch (const std::exception&) {
        m_sine_frequency = -1;
        m_sine_stop = 1;
    }
    if (zero_ping()) start_stream();
    update_song_title();
    return m_sine_thread.joinable();
}

bool PlayerEngine::play_sine_manual(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t period) {
    dbg_puts(TRACE2, "%s(..)", "PlayerEngine::play_sine_manual");
    if (m_shutdown) return false;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    stop(true);
    if (m_sine_thread.joinable()) dbg_abort("m_sine_thread != NULL", "PlayerEngine::play_sine_manual");
    if (minimum < 10 || minimum > 40000 || maximum < 10 || maximum > 40000) return false;
    m_sine_frequency = -1;
    m_sine_min = minimum;
    m_sine_max = maximum;
    m_sine_period = period;
    m_sine_stop = 0;
    ++m_generation;
    try {
        m_sine_thread = std::thread([this] { sine_manual_thread(); });
    } catch (const std::exception&) {
        m_sine_min = m_sine_max = m_sine_period = 0;
        m_sine_stop = 1;
    }
    if (zero_ping()) start_stream();
    update_song_title();
    return m_sine_thread.joinable();
}

void PlayerEngine::sine_thread() {
    const int frequency = m_sine_frequency.load();
    dbg_puts(TRACE, "Playing sine with %d Hz", frequency);
    double phase = 0;
    const double step = frequency * 2.0 * M_PI / sine::k_rate;
    if (!run_tone(m_sine_stop, [&](std::int16_t* out, std::size_t n) { sine::fill_fixed(out, n, phase, step); }))
        sine_ended();
}

void PlayerEngine::sine_manual_thread() {
    sine::Sweep sweep(m_sine_min.load(), m_sine_max.load(), m_sine_period.load());
    dbg_puts(TRACE, "Playing sine with fmin %u Hz, fmax %u Hz, T %u c", m_sine_min.load(), m_sine_max.load(),
             m_sine_period.load());
    const bool ok = run_tone(m_sine_stop, [&](std::int16_t* out, std::size_t n) { sweep.fill(out, n); });
    if (!ok) sine_ended();
}

void PlayerEngine::sine_ended() {
    // On the sine thread itself, which stop() joins under the engine lock:
    // the stop runs as a dispatcher job, and only if nothing else has
    // started or stopped in the meantime.
    const std::uint64_t generation = m_generation.load();
    add_job(L"sine ended", 0, [generation](PlayerEngine& engine) {
        std::lock_guard<std::recursive_mutex> lock(engine.m_lock);
        if (generation == engine.m_generation.load()) engine.stop(true);
    });
}

void PlayerEngine::start_stream() {
    {
        std::lock_guard<std::mutex> guard(m_host_lock);
        if (!m_queue) return;
    }
    add_job(L"start stream", 0, [](PlayerEngine& engine) { engine.start_delayed_stream(); });
}

void PlayerEngine::start_delayed_stream() {
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (m_shutdown) return;
        // Still running for the item before (its tail, or a next item that
        // came before the stop): this one follows on it without a break.
        if (m_stream != nullptr && m_stream->is_streaming()) return;
    }
    // Neither keep-alive datagrams nor stream for a moment, so the two never
    // overlap on the group: counted from the keep-alive's stop, which a
    // message announced before its pause ended (quiet_for_stream). Meanwhile
    // the source fills the ring: libvlc takes about half a second at once
    // when the stream starts, and what is not there yet becomes silence
    // inside the item. A slow source (an internet station) is waited for
    // only so long.
    const auto began = std::chrono::steady_clock::now();
    const auto quiet = zero_ping() ? stop_ping() : began;
    std::this_thread::sleep_until(quiet + std::chrono::milliseconds(k_start_pause_ms));
    while (m_stream != nullptr && m_stream->has_free_slot() &&
           std::chrono::steady_clock::now() - began < std::chrono::milliseconds(k_start_fill_limit_ms))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // This job may run after the source it was queued for has stopped again
    // (stop_stream already ran): then the group gets its keep-alive back
    // instead of an idle stream.
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_shutdown) return;
    if (m_stream != nullptr && m_stream->is_streaming()) return;
    if (!m_current && !m_sine_thread.joinable()) {
        if (zero_ping()) start_ping();
        return;
    }
    // A postponed stop may have brought the keep-alive back during the pause.
    if (zero_ping()) stop_ping();
    if (m_stream != nullptr) m_stream->stream_start();
}

void PlayerEngine::quiet_for_stream() {
    if (m_shutdown || !zero_ping()) return;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (m_current || m_sine_thread.joinable() || (m_stream != nullptr && m_stream->is_streaming())) return;
    }
    stop_ping();
    add_job(L"keep-alive after a quiet", k_quiet_limit_ms, [](PlayerEngine& engine) {
        std::lock_guard<std::recursive_mutex> lock(engine.m_lock);
        if (engine.m_shutdown || engine.m_current || engine.m_sine_thread.joinable() ||
            (engine.m_stream != nullptr && engine.m_stream->is_streaming()))
            return;
        engine.start_ping();
    });
}

void PlayerEngine::stop_stream() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const std::uint32_t tail =
        m_stream != nullptr ? m_stream->drained_tail_ms(static_cast<std::uint64_t>(nowMicroseconds())) : 0;
    if (tail != 0) {
        postpone_stream_stop(tail);
        return;
    }
    base::ThreadDispatcher::remove(m_stream_stop_job);
    m_stream_stop_job = 0;
    if (m_stream != nullptr) m_stream->stream_stop();
    if (zero_ping()) start_ping();
}

void PlayerEngine::postpone_stream_stop(std::uint32_t delay_ms) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    // Only the latest counts; an earlier one would find the generation
    // changed anyway.
    base::ThreadDispatcher::remove(m_stream_stop_job);
    const std::uint64_t generation = m_generation.load();
    m_stream_stop_job = add_job(L"stop stream", delay_ms, [generation](PlayerEngine& engine) {
        engine.postponed_stream_stop(generation);
    });
    if (m_stream_stop_job == 0) {  // no dispatcher (shutting down): now rather than never
        if (m_stream != nullptr) m_stream->stream_stop();
        if (zero_ping()) start_ping();
    }
}

void PlayerEngine::postponed_stream_stop(std::uint64_t generation) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    // Something started (its own end stops the stream) or stopped (and left
    // a stop of its own) since this one was planned.
    if (m_shutdown || generation != m_generation.load() || m_current || m_sine_thread.joinable()) return;
    m_stream_stop_job = 0;
    stop_stream();
}

void PlayerEngine::start_ping() {
    dbg_puts(TRACE, "%s", "start ping");
    std::lock_guard<std::mutex> guard(m_ping_lock);
    if (m_ping_thread.joinable() || m_shutdown) return;
    dbg_puts(TRACE, "%s", "starting ping thread...");
    m_quiet_since.reset();
    m_ping_thread = boost::thread([this] { ping_thread(); });
}

std::chrono::steady_clock::time_point PlayerEngine::stop_ping() {
    dbg_puts(TRACE, "%s", "stop ping");
    std::lock_guard<std::mutex> guard(m_ping_lock);
    if (m_ping_thread.joinable()) {
        if (m_ping_thread.get_id() == boost::this_thread::get_id()) {
            dbg_puts(ERROR, "%s", "stop_ping from the keep-alive thread itself");
            return std::chrono::steady_clock::now();
        }
        m_ping_thread.interrupt();
        m_ping_thread.join();
        m_quiet_since = std::chrono::steady_clock::now();
    } else if (!m_quiet_since) {
        // Not running since a time unknown here: the quiet counts from now.
        m_quiet_since = std::chrono::steady_clock::now();
    }
    return *m_quiet_since;
}

namespace {

std::string setting_text(const char* path, const char* fallback) {
    pref::Guard guard(g_pref);
    if (const libconfig::Setting* found = pref::find(g_pref, path, pref::Type::TypeString))
        return static_cast<const char*>(*found);
    libconfig::Setting& made = pref::create(g_pref, path, pref::Type::TypeString);
    made = fallback;
    return fallback;
}

}  // namespace

void PlayerEngine::ping_thread() {
    dbg_puts(TRACE, "ping thread: %lu", static_cast<unsigned long>(::pthread_self()));
    const std::string group = setting_text("multicast.address", "224.0.224.1");
    const int port = device::streamPortOf(static_cast<std::uint16_t>(pref::getInt("multicast.basePort", 11990)),
                                          device::CHANNEL_DISCOVERY);
    const std::string local = setting_text("net.interfaceIp", "");
    const int ttl = pref::getInt("multicast.ttl", 1);
    const std::string destination = group + ":" + std::to_string(port);
    unsigned a = 0, b = 0, c = 0, d = 0, p = 0;
    char tail = 0;
    if (std::sscanf(destination.c_str(), "%u.%u.%u.%u:%u%c", &a, &b, &c, &d, &p, &tail) != 5 || a > 255 ||
        b > 255 || c > 255 || d > 255 || p > 65535) {
        dbg_puts(ERROR, "incorrect multicast address: %s", destination.c_str());
        return;
    }
    try {
        const boost::asio::ip::udp::endpoint to(boost::asio::ip::make_address_v4(group),
                                                static_cast<unsigned short>(port));
        keep_alive::UdpLink link(local, 11985, to, ttl);
        LOG_DEBUG(L"send pings with interface '%1%' to '%2%:%3%'", base::fromUtf8(local), base::fromUtf8(group),
                  port);
        keep_alive::send_until_stopped(link, keep_alive::k_interval, [this] { return m_shutdown.load(); });
    } catch (const boost::thread_interrupted&) {
    } catch (const boost::system::system_error& e) {
        LOG_ERROR(L"Поймано исключение в потоке поиска орвелов: '%1%'", base::errorForOperator(e.code()));
        return;
    } catch (const std::exception& e) {
        LOG_ERROR(L"Поймано исключение в потоке поиска орвелов: '%1%'", base::toWide(e.what()));
        return;
    }
    dbg_puts(TRACE, "%s", "ping thread is stopped");
}
