#include "audio/out_module.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "audio/mp3stream.h"
#include "base/dbg.h"
#include "base/text.h"
#include "os/data_directory.h"

char g_winamp_app_dir[260];
char g_winamp_ini_path[260];
char g_winamp_plugins_dir[260];

namespace {

std::atomic<mp3stream*> g_stream{nullptr};
std::atomic<const std::atomic<bool>*> g_active{nullptr};

std::atomic<std::uint32_t> g_written_ms{0};
std::atomic<std::uint32_t> g_divisor{0};  // samplerate x channels x bits of the last Open

void copy_text(char (&to)[260], const std::string& from) {
    std::snprintf(to, sizeof to, "%s", from.c_str());
}

std::string executable_path() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    path[n] = '\0';
    return path;
}

void out_config(HWND) { dbg_puts(TRACE, "%s(..)", "out_config"); }
void out_about(HWND) { dbg_puts(TRACE, "%s(..)", "out_about"); }

void out_init() {
    dbg_puts(TRACE, "%s(..)", "out_init");
    std::string data;
    try {
        data = base::toUtf8(os::getUserDataDirectory());
    } catch (const std::exception&) {
        data.clear();
    }
    if (data.empty()) dbg_abort("wxTheApp->get_appdir(buf) == false", "out_init");
    const std::string exe = executable_path();
    if (exe.empty()) dbg_abort("GetModuleFileName(NULL, g_winamp_plugins_dir, MAX_PATH) == 0", "out_init");
    const std::size_t slash = exe.rfind('/');
    const std::string folder = exe.substr(0, slash);
    std::string name = exe.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    copy_text(g_winamp_app_dir, data);
    copy_text(g_winamp_ini_path, data + "/" + name + ".ini");
    copy_text(g_winamp_plugins_dir, folder + "/plugins");
}

void out_quit() { dbg_puts(TRACE, "%s(..)", "out_quit"); }

int out_open(int samplerate, int numchannels, int bitspersamp, int, int) {
    dbg_puts(TRACE, "%s(..)", "out_open");
    g_written_ms = 0;
    mp3stream* stream = g_stream.load();
    if (stream == nullptr || samplerate <= 0 || numchannels <= 0 || bitspersamp <= 0) return -1;
    g_divisor = static_cast<std::uint32_t>(samplerate) * static_cast<std::uint32_t>(numchannels) *
                static_cast<std::uint32_t>(bitspersamp);
    if (!stream->set_pcm_fmt(static_cast<std::uint32_t>(samplerate), static_cast<std::uint32_t>(numchannels),
                             static_cast<std::uint32_t>(bitspersamp)))
        return -1;
    return static_cast<int>(stream->buffer_time_ms());
}

void out_close() {
    dbg_puts(TRACE, "%s(..)", "out_close");
    g_written_ms = 0;
    g_divisor = 0;
}

int out_write(char* buf, int len) {
    mp3stream* stream = g_stream.load();
    if (stream == nullptr || len < 0) return 1;
    if (!stream->write_pcm(buf, static_cast<std::uint32_t>(len))) return 1;
    // Counted only once queued: a refused chunk comes again and must not be
    // counted twice. Before Open there is no byte rate to count with.
    const std::uint32_t divisor = g_divisor.load();
    if (divisor != 0) g_written_ms += static_cast<std::uint32_t>(static_cast<std::uint64_t>(len) * 8000u / divisor);
    return 0;
}

int out_can_write() {
    mp3stream* stream = g_stream.load();
    return (stream != nullptr && stream->has_free_slot()) ? 8192 : 0;
}

// Over once libvlc has taken the last queued block: the track is handed over
// whole, and the next one may follow at once on the running stream. What
// libvlc still holds is the stream's concern (its stop waits for it).
int out_is_playing() {
    const std::atomic<bool>* active = g_active.load();
    mp3stream* stream = g_stream.load();
    if (active == nullptr || !active->load() || stream == nullptr) return 0;
    return stream->has_queued_audio() ? 1 : 0;
}

int out_pause(int) {
    dbg_puts(TRACE, "%s(..)", "out_pause");
    return 0;
}

void out_set_volume(int) { dbg_puts(TRACE3, "%s(..)", "out_set_volume"); }
void out_set_pan(int) { dbg_puts(TRACE3, "%s(..)", "out_set_pan"); }
void out_flush(int t) { g_written_ms = static_cast<std::uint32_t>(t); }
int out_get_time() { return static_cast<int>(g_written_ms.load()); }

char g_description[] = "IP Multicast Output Plug-In 1.0";

}  // namespace

Out_Module g_winamp_out_module = {
    OUT_VER, g_description, 38, nullptr, nullptr,
    out_config, out_about, out_init, out_quit, out_open, out_close, out_write, out_can_write,
    out_is_playing, out_pause, out_set_volume, out_set_pan, out_flush, out_get_time, out_get_time,
};

void out_module_bind(mp3stream* stream, const std::atomic<bool>* active) {
    g_stream = stream;
    g_active = active;
}

void out_module_set_plugins_dir(const char* folder) { copy_text(g_winamp_plugins_dir, folder); }
