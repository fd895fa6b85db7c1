#pragma once

// A minimal host of our own for driving one input plug-in in a test: it
// loads the .so like the engine does, answers the window messages, writes
// its callbacks into the record and offers an output module that collects
// the PCM. The output module can hold back (CanWrite 0, Write "not now"), so
// a plug-in's retry paths run. The record's callbacks are plain C functions
// without context, hence one host at a time (FakePluginHost::current).

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "audio/plugin_api.h"

namespace testing_support {

/// Folder of the running test program (<build>/tests).
inline std::string testProgramDir() {
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string dir(path, n > 0 ? static_cast<size_t>(n) : 0);
    return dir.substr(0, dir.rfind('/'));
}

/// A product plug-in of the build tree (<build>/plugins/name).
inline std::string productPlugin(const std::string& name) {
    return testProgramDir() + "/../plugins/" + name;
}

struct PostedMessage {
    unsigned message;
    intptr_t lparam;
    std::chrono::steady_clock::time_point at;
};

class FakePluginHost {
public:
    // Behaviour of the output module, set before Play.
    std::atomic<bool> refuseOpen{false};
    std::atomic<bool> holdBack{false};      // CanWrite alternates 0 / 8192, Write alternates 1 / 0
    std::atomic<bool> blocked{false};       // CanWrite always 0
    std::atomic<long> byteBudget{-1};       // >= 0: CanWrite 0 once this much was written
    std::atomic<bool> negatingDsp{false};   // the DSP callback negates every sample
    std::atomic<int> silentAfterMs{150};    // IsPlaying turns 0 this long after the last Write

    // What the plug-in did.
    std::atomic<int> opens{0}, closes{0}, saCalls{0}, vsaCalls{0}, dspCalls{0}, savsaInits{0};
    std::atomic<int> refusedWrites{0}, oversizedWrites{0}, misalignedWrites{0};
    std::atomic<int> openRate{0}, openChannels{0}, openBits{0};
    /// Time the output module first answered IsPlaying 0 after a Write.
    std::chrono::steady_clock::time_point silentSince{};

    explicit FakePluginHost(const std::string& path) {
        current() = this;
        m_window.send = &FakePluginHost::send;
        m_window.post = &FakePluginHost::post;
        m_window.host = this;
        fillOutput();
        m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr) return;
        auto entry = reinterpret_cast<wa_in_entry_fn>(::dlsym(m_handle, WA_IN_ENTRY_NAME));
        m_module = entry != nullptr ? entry() : nullptr;
        if (m_module == nullptr) return;
        m_module->hMainWindow = &m_window;
        m_module->hDllInstance = m_handle;
        m_module->SAVSAInit = [](int, int) { ++current()->savsaInits; };
        m_module->SAVSADeInit = [] {};
        m_module->SAAddPCMData = [](void*, int, int, int) { ++current()->saCalls; };
        m_module->SAGetMode = [] { return 1; };
        m_module->SAAdd = [](void*, int, int) { return 0; };
        m_module->VSAAddPCMData = [](void*, int, int, int) { ++current()->vsaCalls; };
        m_module->VSAGetMode = [](int*, int*) { return 0; };
        m_module->VSAAdd = [](void*, int) { return 0; };
        m_module->VSASetInfo = [](int, int) {};
        m_module->SetInfo = [](int, int, int, int) {};
        m_module->dsp_isactive = [] { return current()->negatingDsp ? 1 : 0; };
        m_module->dsp_dosamples = [](short* samples, int count, int, int channels, int) {
            ++current()->dspCalls;
            for (int i = 0; i < count * channels; ++i) samples[i] = static_cast<short>(-samples[i]);
            return count;
        };
        m_module->outMod = &m_output;
        if (m_module->Init) m_module->Init();
    }
    ~FakePluginHost() {
        if (m_module != nullptr) {
            m_module->Stop();
            if (m_module->Quit) m_module->Quit();
        }
        if (m_handle != nullptr) ::dlclose(m_handle);
        current() = nullptr;
    }
    FakePluginHost(const FakePluginHost&) = delete;
    FakePluginHost& operator=(const FakePluginHost&) = delete;

    In_Module* module() const { return m_module; }
    const char* loadError() const { return m_handle == nullptr ? ::dlerror() : "no record"; }

    std::vector<std::int16_t> pcm() const { return locked(m_pcm); }
    std::vector<int> writeSizes() const { return locked(m_writeSizes); }
    std::vector<PostedMessage> posted() const { return locked(m_posted); }
    std::vector<intptr_t> sentCodes() const { return locked(m_sent); }
    int eofCount() const {
        int n = 0;
        for (const auto& p : posted()) n += p.message == WM_WA_MPEG_EOF;
        return n;
    }
    /// When the first WM_WA_MPEG_EOF was posted (epoch when none was).
    std::chrono::steady_clock::time_point eofAt() const {
        for (const auto& p : posted())
            if (p.message == WM_WA_MPEG_EOF) return p.at;
        return {};
    }
    /// Waits for a WM_WA_MPEG_EOF; false after the timeout.
    bool waitEof(int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
            for (const auto& p : m_posted)
                if (p.message == WM_WA_MPEG_EOF) return true;
            return false;
        });
    }
    /// Waits until at least samples have been written; false after the timeout.
    bool waitSamples(size_t samples, int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_pcm.size() >= samples; });
    }

    static constexpr const char* kIniFile = "/fake/data/sonvar.ini";
    static constexpr const char* kAppDir = "/fake/data";
    static constexpr const char* kPluginDir = "/fake/bin/plugins";

private:
    template <class T>
    T locked(const T& member) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return member;
    }
    static FakePluginHost*& current() {
        static FakePluginHost* host = nullptr;
        return host;
    }

    static intptr_t send(HWND window, unsigned message, uintptr_t, intptr_t code) {
        auto* self = static_cast<FakePluginHost*>(window->host);
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_sent.push_back(code);
        }
        if (message != WM_WA_IPC) return 0;
        switch (code) {
        case IPC_GETVERSION: return 0x5011;
        case IPC_GETINIFILE: return reinterpret_cast<intptr_t>(kIniFile);
        case IPC_GETINIDIRECTORY:
        case IPC_GETM3UDIRECTORY: return reinterpret_cast<intptr_t>(kAppDir);
        case IPC_GETPLUGINDIRECTORY: return reinterpret_cast<intptr_t>(kPluginDir);
        default: return 0;
        }
    }
    static int post(HWND window, unsigned message, uintptr_t, intptr_t lparam) {
        auto* self = static_cast<FakePluginHost*>(window->host);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_posted.push_back({message, lparam, std::chrono::steady_clock::now()});
        self->m_changed.notify_all();
        return 1;
    }

    void fillOutput() {
        m_output.version = OUT_VER;
        m_output.description = const_cast<char*>("Test output");
        m_output.hMainWindow = &m_window;
        m_output.Config = [](HWND) {};
        m_output.About = [](HWND) {};
        m_output.Init = [] {};
        m_output.Quit = [] {};
        m_output.Open = [](int rate, int channels, int bits, int, int) {
            auto* self = current();
            ++self->opens;
            self->openRate = rate;
            self->openChannels = channels;
            self->openBits = bits;
            return self->refuseOpen ? -1 : 2000;
        };
        m_output.Close = [] { ++current()->closes; };
        m_output.Write = [](char* buffer, int length) { return current()->write(buffer, length); };
        m_output.CanWrite = [] {
            auto* self = current();
            if (self->blocked) return 0;
            const long budget = self->byteBudget;
            if (budget >= 0 && self->m_written >= budget) return 0;
            if (self->holdBack && (self->m_canWriteCalls++ % 2 == 0)) return 0;
            return 8192;
        };
        m_output.IsPlaying = [] { return current()->isPlaying(); };
        m_output.Pause = [](int) { return 0; };
        m_output.SetVolume = [](int) {};
        m_output.SetPan = [](int) {};
        m_output.Flush = [](int) {};
        m_output.GetOutputTime = [] { return 0; };
        m_output.GetWrittenTime = [] { return 0; };
    }

    int write(const char* buffer, int length) {
        if (holdBack && (m_writeCalls++ % 2 == 0)) {
            ++refusedWrites;
            return 1;
        }
        if (length > 8192) ++oversizedWrites;
        if (openChannels > 0 && length % (2 * openChannels) != 0) ++misalignedWrites;
        std::lock_guard<std::mutex> lock(m_mutex);
        const size_t old = m_pcm.size();
        m_pcm.resize(old + static_cast<size_t>(length) / 2);
        std::memcpy(m_pcm.data() + old, buffer, static_cast<size_t>(length) / 2 * 2);
        m_writeSizes.push_back(length);
        m_written += length;
        m_lastWrite = std::chrono::steady_clock::now();
        m_silentReported = false;
        m_changed.notify_all();
        return 0;
    }

    int isPlaying() {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastWrite < std::chrono::milliseconds(silentAfterMs.load())) return 1;
        if (!m_silentReported) silentSince = now;
        m_silentReported = true;
        return 0;
    }

    void* m_handle = nullptr;
    In_Module* m_module = nullptr;
    wa_host_window m_window{};
    Out_Module m_output{};
    std::atomic<unsigned> m_canWriteCalls{0}, m_writeCalls{0};
    std::atomic<long> m_written{0};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::int16_t> m_pcm;
    std::vector<int> m_writeSizes;
    std::vector<PostedMessage> m_posted;
    std::vector<intptr_t> m_sent;
    std::chrono::steady_clock::time_point m_lastWrite{};
    bool m_silentReported = false;
};

}  // namespace testing_support
