#include "audio/player_engine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include <boost/format.hpp>

#include <dirent.h>
#include <dlfcn.h>
#include <fnmatch.h>
#include <unistd.h>

#include "audio/engine_player.h"
#include "audio/host_window.h"
#include "audio/mp3stream.h"
#include "audio/out_module.h"
#include "base/clock.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"

PlayerEngine* g_player_engine = nullptr;

namespace detail {

in_module::in_module(void* library_, In_Module* record_, const std::wstring& path_)
    : library(library_), record(record_), path(path_) {}

in_module::~in_module() {
    if (record != nullptr && record->Quit != nullptr) record->Quit();
    if (library != nullptr) ::dlclose(library);
    const std::size_t slash = path.rfind(L'/');
    LOG_INFO(L"Unload module %1%", slash == std::wstring::npos ? path : path.substr(slash + 1));
}

}  // namespace detail

namespace {

std::wstring file_name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return base::fromUtf8(slash == std::string::npos ? path : path.substr(slash + 1));
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string executable_folder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) dbg_abort("GetModuleFileName(NULL, path, MAX_PATH) == 0", "PlayerEngine::PlayerEngine");
    path[n] = '\0';
    std::string text(path);
    return text.substr(0, text.rfind('/'));
}

// Host callbacks written into every accepted plug-in's record.
void sa_vsa_init(int, int) { dbg_puts(TRACE3, "%s(..)", "sa_vsa_init"); }
void sa_vsa_deinit() { dbg_puts(TRACE3, "%s(..)", "sa_vsa_deinit"); }
void sa_add_pcm_data(void*, int, int, int) {}
int sa_get_mode() { return 1; }
int sa_add(void*, int, int) { return 0; }
void vsa_add_pcm_data(void*, int, int, int) {}
int vsa_get_mode(int*, int*) { return 0; }
int vsa_add(void*, int) { return 0; }
void vsa_set_info(int, int) {}
int dsp_isactive() { return 0; }
int dsp_dosamples(short int*, int, int, int, int) {
    dbg_puts(TRACE3, "%s(..)", "dsp_dosamples");
    return 0;
}
void set_info(int, int, int, int) {}

}  // namespace

PlayerEngine::PlayerEngine(HWND main_window, mp3stream* common_stream, const std::wstring& plugin_folder)
    : m_main_window(main_window), m_stream(common_stream), m_lifeline(std::make_shared<Lifeline>()) {
    dbg_puts(TRACE2, "%s(..)", "PlayerEngine::PlayerEngine");
    m_lifeline->engine = this;
    if (g_winamp_out_module.Init != nullptr) g_winamp_out_module.Init();
    std::string folder = plugin_folder.empty() ? executable_folder() + "/plugins" : base::toUtf8(plugin_folder);
    if (!plugin_folder.empty()) out_module_set_plugins_dir(folder.c_str());
    out_module_bind(m_stream, &m_active);
    if (HostWindow* window = HostWindow::fromHandle(m_main_window)) window->attach(this);
    load_plugins(folder);
    if (m_plugins.empty()) {
        dbg_abort("Не найдено ни одной библиотеки декодирования.", "PlayerEngine::PlayerEngine");
    }
    m_active = true;
    if (zero_ping()) start_ping();
}

void PlayerEngine::load_plugins(const std::string& folder) {
    // readdir order is arbitrary; the first plug-in that names an extension
    // wins, so the order must not depend on the file system.
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (::fnmatch("in_*.so", entry->d_name, 0) == 0) names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = folder + "/" + name;
        if (path.size() > 259) path.resize(259);
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* why = ::dlerror();
            dbg_puts(DEBUG, "dlopen %s: %s", path.c_str(), why != nullptr ? why : "");
            continue;
        }
        auto entry = reinterpret_cast<wa_in_entry_fn>(::dlsym(library, WA_IN_ENTRY_NAME));
        In_Module* record = entry != nullptr ? entry() : nullptr;
        if (entry == nullptr) dbg_puts(DEBUG, "%s: no %s", path.c_str(), WA_IN_ENTRY_NAME);
        if (record != nullptr && (record->version & IN_UNICODE_MASK) != 0) {
            LOG_WARN(L"Unicode plugins \"%1%\" not supported", file_name_of(path));
            record = nullptr;
        } else if (record != nullptr && (record->UsesOutputPlug & IN_MODULE_FLAG_USES_OUTPUT_PLUGIN) == 0) {
            LOG_WARN(L"Plugin \"%1%\" not using output plugin", file_name_of(path));
            record = nullptr;
        }
        if (record == nullptr) {
            ::dlclose(library);
            continue;
        }
        record->hMainWindow = m_main_window;
        record->hDllInstance = library;
        record->SAVSAInit = sa_vsa_init;
        record->SAVSADeInit = sa_vsa_deinit;
        record->SAAddPCMData = sa_add_pcm_data;
        record->SAGetMode = sa_get_mode;
        record->SAAdd = sa_add;
        record->VSAAddPCMData = vsa_add_pcm_data;
        record->VSAGetMode = vsa_get_mode;
        record->VSAAdd = vsa_add;
        record->VSASetInfo = vsa_set_info;
        record->dsp_isactive = dsp_isactive;
        record->dsp_dosamples = dsp_dosamples;
        record->SetInfo = set_info;
        record->outMod = &g_winamp_out_module;
        if (record->Init != nullptr) record->Init();
        LOG_INFO(L"Load module %1%", base::fromUtf8(path));
        m_plugins.push_back(boost::shared_ptr<detail::in_module>(
            new detail::in_module(library, record, base::fromUtf8(path))));
    }
}

PlayerEngine::~PlayerEngine() {
    dbg_puts(TRACE2, "%s(..)", "PlayerEngine::~PlayerEngine");
    m_active = false;
    stop(true);
    m_shutdown = true;
    {
        std::lock_guard<std::mutex> alive(m_lifeline->mutex);
        m_lifeline->engine = nullptr;
    }
    if (m_sine_thread.joinable()) {  // started after a shutdown; stop() no longer acts
        m_sine_stop = 1;
        m_sine_thread.join();
    }
    if (g_winamp_out_module.Quit != nullptr) g_winamp_out_module.Quit();
    stop_ping();
    if (HostWindow* window = HostWindow::fromHandle(m_main_window)) window->attach(nullptr);
    out_module_bind(nullptr, nullptr);
    m_current.reset();
    m_plugins.clear();
}

void PlayerEngine::set_host(TaskQueue queue, TitleSink title) {
    std::lock_guard<std::mutex> guard(m_host_lock);
    m_queue = std::move(queue);
    m_title = std::move(title);
}

bool PlayerEngine::zero_ping() { return pref::getBool("multicast.zeroPing", true); }

std::wstring PlayerEngine::current_source() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_current_source;
}

void PlayerEngine::shutdown() {
    dbg_puts(TRACE2, "%s(..)", "PlayerEngine::shutdown");
    if (m_shutdown) return;
    stop(true);
    if (zero_ping()) stop_ping();
    m_active = false;
    m_shutdown = true;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        base::ThreadDispatcher::remove(m_stream_stop_job);
        m_stream_stop_job = 0;
    }
    if (m_stream != nullptr) m_stream->stream_stop();
}

bool PlayerEngine::play(const std::wstring& text) {
    if (m_shutdown) return false;
    LOG_INFO(L"Воспроизведение: %1%", text);
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!pref::getBool("multicast.commonStream.active", true)) {
        LOG_WARN(L"Сетевая трансляция отключена в настройках");
        return false;
    }
    const std::string narrow = base::toUtf8(text);
    int frequency = 0;
    unsigned minimum = 0, maximum = 0, period = 0;
    if (std::sscanf(narrow.c_str(), "sine://%d", &frequency) == 1 && frequency != -1) return play_sine(frequency);
    if (std::sscanf(narrow.c_str(), "sine://min:%u;max:%u;time:%u", &minimum, &maximum, &period) == 3)
        return play_sine_manual(minimum, maximum, period);
    const bool url = text.find(L"http://") != std::wstring::npos || text.find(L"mms://") != std::wstring::npos ||
                     text.find(L"line://") != std::wstring::npos;
    const bool started = url ? play_url(text) : play_file(text);
    if (started) m_current_source = text.substr(0, 259);
    return started;
}

bool PlayerEngine::play_file(const std::wstring& path) {
    if (m_shutdown) return false;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    stop(true);
    // Plug-ins open files by name: the OS-facing form of the path.
    std::string narrow = base::toUtf8(path);
    const std::size_t slash = narrow.rfind('/');
    const std::size_t dot = narrow.rfind('.');
    const std::string extension =
        (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? narrow.substr(dot) : "";
    m_current = findModule(extension.c_str());
    if (!m_current) {
        LOG_WARN(L"Неизвестный формат файла: %1%", path);
        return false;
    }
    return start_current(narrow, path, false);
}

bool PlayerEngine::play_url(const std::wstring& url) {
    if (m_shutdown) return false;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    stop(true);
    std::string narrow = base::toUtf8(url);
    if (narrow.find("mms://") != std::string::npos || narrow.find(".wma") != std::string::npos) {
        m_current = findModule(".wma");
    } else if (narrow.find(".ogg") != std::string::npos) {
        m_current = findModule(".ogg");
    } else if (narrow.find("line://") != std::string::npos) {
        for (const auto& plugin : m_plugins) {
            const char* description = plugin->record->description;
            if (description != nullptr && lower(description).find("linein") != std::string::npos) {
                m_current = plugin;
                break;
            }
        }
    } else {
        m_current = findModule(".mp3");
    }
    if (!m_current) {
        LOG_WARN(L"Не найден модуль декодирования потоковых аудио данных");
        return false;
    }
    return start_current(narrow, url, true);
}

bool PlayerEngine::start_current(std::string& narrow, const std::wstring& text, bool url) {
    ++m_generation;
    if (call_play(*m_current, narrow) != 0) {
        // A file whose Play failed started nothing to stop; an address may
        // have left a connection behind.
        stop(url);
        if (url) LOG_ERROR(L"Не удалось воспроизвести URL: %1%", text);
        else LOG_ERROR(L"Не удалось воспроизвести файл: %1%", text);
        return false;
    }
    if (zero_ping()) start_stream();
    dbg_puts(INFO, url ? "Playing URL: %s" : "Playing: %s", narrow.c_str());
    update_song_title();
    return true;
}

boost::shared_ptr<detail::in_module> PlayerEngine::findModule(const char* extension) {
    if (extension == nullptr || *extension == '\0') return {};
    if (*extension == '.') ++extension;
    std::string wanted = lower(std::string(extension).substr(0, 259));
    for (const auto& plugin : m_plugins) {
        const char* list = plugin->record->FileExtensions;
        if (list == nullptr) continue;
        // Pairs of texts: extensions, description; an empty text ends the list.
        while (*list != '\0') {
            if (lower(list).find(wanted) != std::string::npos) return plugin;
            list += std::strlen(list) + 1;
            if (*list == '\0') break;
            list += std::strlen(list) + 1;
        }
    }
    return {};
}

std::wstring PlayerEngine::getFileFilter(bool extensions_only) {
    if (m_shutdown) return std::wstring();
    std::string filter, patterns;
    for (const auto& plugin : m_plugins) {
        const char* list = plugin->record->FileExtensions;
        if (list == nullptr) continue;
        while (*list != '\0') {
            const std::string extensions = list;
            const char* description = list + extensions.size() + 1;
            if (*description == '\0') break;
            std::string these;
            std::size_t start = 0;
            for (;;) {
                const std::size_t semicolon = extensions.find(';', start);
                these += (start == 0 ? "*." : ";*.") + extensions.substr(start, semicolon - start);
                if (semicolon == std::string::npos) break;
                start = semicolon + 1;
            }
            these = these.substr(0, 259);
            filter += std::string(description) + "|" + these + "|";
            patterns += these + ";";
            list = description + std::strlen(description) + 1;
        }
    }
    if (extensions_only) return base::fromUtf8(patterns);
    if (!patterns.empty()) patterns.pop_back();
    return L"Все поддерживаемые форматы|" + base::fromUtf8(patterns) + L"|" + base::fromUtf8(filter) +
           L"Все файлы (*.*)|*";
}

void PlayerEngine::stop(bool stop_plugin) {
    if (m_shutdown) return;
    std::unique_lock<std::recursive_mutex> lock(m_lock);
    if (!m_current && m_sine_thread.joinable()) {
        m_sine_stop = 1;
        m_sine_thread.join();
        m_sine_frequency = -1;
        ++m_generation;
        const bool moving_on = advance_player_if_playing(nullptr);
        if (zero_ping()) leave_stream(moving_on);
    } else if (m_current) {
        // Detached under the lock: a stop that overlaps this one finds no
        // plug-in and never calls its Stop a second time.
        boost::shared_ptr<detail::in_module> plugin;
        plugin.swap(m_current);
        m_current_source.clear();
        ++m_generation;
        const bool moving_on = advance_player_if_playing(plugin.get());
        // The plug-in's Stop joins its decoding thread, which writes to the
        // output module; the lock is not held across it.
        lock.unlock();
        if (stop_plugin && plugin->record->Stop != nullptr) {
            std::lock_guard<std::mutex> calls(m_plugin_calls);
            plugin->record->Stop();
        }
        lock.lock();
        // Another caller may have started a source while the lock was free;
        // its stream must not be stopped under it.
        if (zero_ping() && !m_current && !m_sine_thread.joinable()) leave_stream(moving_on);
    }
    update_song_title();
}

void PlayerEngine::leave_stream(bool moving_on) {
    if (!moving_on) {
        stop_stream();
        return;
    }
    // The next item normally starts within milliseconds and follows on the
    // running stream; one that fails to start must not leave the stream
    // sending silence for ever.
    const std::uint32_t tail =
        m_stream != nullptr ? m_stream->drained_tail_ms(static_cast<std::uint64_t>(nowMicroseconds())) : 0;
    postpone_stream_stop(tail != 0 ? tail : (m_stream != nullptr ? m_stream->buffer_time_ms() : 0));
}

int PlayerEngine::call_play(detail::in_module& plugin, std::string& argument) {
    // A plug-in is written for a host that never overlaps its Play and Stop;
    // the Stop of a detached plug-in runs without the engine lock and may
    // still be joining its thread when the next item picks the same plug-in.
    std::lock_guard<std::mutex> calls(m_plugin_calls);
    return plugin.record->Play(&argument[0]);
}

void PlayerEngine::end_of_track(std::uint64_t generation) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (generation != m_generation.load()) {
        dbg_puts(DEBUG, "%s", "end of track of a source already replaced: dropped");
        return;
    }
    stop(true);
}

bool PlayerEngine::advance_player_if_playing(const detail::in_module* plugin) {
    EnginePlayer* player = m_player.load();
    if (player == nullptr) return false;
    // Read before state() and switching(): a stop or start that the player
    // makes after those reads gives it a newer ticket than this end carries.
    const std::uint64_t ticket = player->ticket();
    if (player->state() != EnginePlayer::k_state_playing || player->switching()) return false;
    // Read before the plug-in's Stop, whose Close clears it.
    const int written =
        g_winamp_out_module.GetWrittenTime != nullptr ? g_winamp_out_module.GetWrittenTime() : 0;
    const std::uint32_t audio = written > 0 ? static_cast<std::uint32_t>(written) : 0;
    // With the audio given, it tells whether the item played through; read
    // before the Stop too (the plug-in forgets its file there).
    const std::int32_t length =
        plugin != nullptr && plugin->record->GetLength != nullptr ? plugin->record->GetLength() : -1;
    // Not under the engine lock: the player calls the engine with its own
    // lock held, so calling it back from here could deadlock.
    return base::ThreadDispatcher::add(L"player next", 0, [player, ticket, audio, length] {
               player->itemEnded(ticket, audio, length);
           }) != 0;
}

std::uint32_t PlayerEngine::add_job(const std::wstring& description, std::uint32_t delay_ms,
                                    std::function<void(PlayerEngine&)> job) {
    std::shared_ptr<Lifeline> life = m_lifeline;
    return base::ThreadDispatcher::add(description, delay_ms, [life, job] {
        std::lock_guard<std::mutex> alive(life->mutex);
        if (life->engine != nullptr) job(*life->engine);
    });
}

void PlayerEngine::post_title(const std::wstring& title) {
    std::lock_guard<std::mutex> guard(m_host_lock);
    if (!m_queue || !m_title) return;
    TitleSink sink = m_title;
    m_queue([sink, title] { sink(title); });
}

void PlayerEngine::update_song_title() {
    if (m_shutdown) return;
    {
        std::lock_guard<std::mutex> guard(m_host_lock);
        if (!m_queue) return;
    }
    if (m_main_window == nullptr) dbg_abort("m_mainFrame == NULL", "PlayerEngine::update_song_title");
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_current) {
        if (m_current->record->GetFileInfo == nullptr) return;
        char title[2048] = {};
        int length = 0;
        m_current->record->GetFileInfo(nullptr, title, &length);
        post_title(base::fromUtf8(title));
    } else if (m_sine_frequency.load() != -1) {
        post_title((boost::wformat(L"Синусоида с частотой %d Гц") % m_sine_frequency.load()).str());
    } else if (m_sine_thread.joinable()) {
        post_title((boost::wformat(L"Синусоида с частотой от %d Гц до %d Гц, время смены 'min-max-min' = %d секунд") %
                    m_sine_min.load() % m_sine_max.load() % m_sine_period.load())
                       .str());
    } else {
        post_title(std::wstring());
    }
}

PlayerEngine* player_engine_init(HWND main_window, mp3stream* common_stream) {
    dbg_puts(TRACE2, "%s(..)", "player_engine_init");
    g_player_engine = new (std::nothrow) PlayerEngine(main_window, common_stream);
    if (g_player_engine == nullptr) dbg_abort("malloc(sizeof(PlayerEngine)) == NULL", "player_engine_init");
    return g_player_engine;
}
