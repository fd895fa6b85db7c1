#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "audio/engine_player.h"
#include "audio/host_window.h"
#include "audio/player_engine.h"
#include "base/pref.h"
#include "base/thread_dispatcher.h"
#include "tests/support/temp_dir.h"

// What the engine tests share: the settings, the dispatcher, a host-thread
// pump in place of the GUI thread, a player double and the fixture
// plug-ins' trace file.

namespace engine_test {

inline std::string executable_folder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.rfind('/'));
}

/// <build>/tests/plugins: the fixture plug-ins.
inline std::wstring fixture_folder() {
    const std::string folder = executable_folder() + "/plugins";
    return std::wstring(folder.begin(), folder.end());
}

/// <build>/plugins: the plug-ins the product ships.
inline std::wstring product_folder() {
    std::string folder = executable_folder();
    folder = folder.substr(0, folder.rfind('/')) + "/plugins";
    return std::wstring(folder.begin(), folder.end());
}

/// Tasks queued to the "GUI thread", run by whoever pumps.
class Pump {
public:
    void add(HostWindow::Task task) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
        m_added.notify_all();
    }
    /// Runs what is queued; returns how many ran.
    int run() {
        int ran = 0;
        for (;;) {
            HostWindow::Task task;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_tasks.empty()) return ran;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
            ++ran;
        }
    }
    /// Pumps until `done` or the timeout; returns `done()`.
    bool run_until(const std::function<bool()>& done, int timeout_ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            run();
            std::unique_lock<std::mutex> lock(m_mutex);
            m_added.wait_for(lock, std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_added;
    std::deque<HostWindow::Task> m_tasks;
};

/// The player as the engine sees it.
class FakePlayer : public EnginePlayer {
public:
    int state() const override { return m_state.load(); }
    bool switching() const override { return m_switching.load(); }
    /// Counts after the reaction, so a test that sees the count may drop the double.
    void next() override {
        if (m_on_next) m_on_next();
        ++m_nexts;
    }

    std::atomic<int> m_state{k_state_playing};
    std::atomic<bool> m_switching{false};
    std::atomic<int> m_nexts{0};
    std::function<void()> m_on_next;
};

/// Settings in the folder, the dispatcher and the fixture plug-ins' trace
/// file there, no fixture faults asked for; shared with the player tests.
inline std::string set_up_environment(const testing_support::TempDir& dir) {
    const std::string trace = dir.path() + "/plugins.trace";
    ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    ::setenv("SONVAR_PLUGIN_TRACE", trace.c_str(), 1);
    for (const char* name : {"SONVAR_FIXTURE_FAIL", "SONVAR_FIXTURE_EOF_MS", "SONVAR_FIXTURE_WRITE"}) ::unsetenv(name);
    pref_init(dir.widePath() + L"/sonvar.cfg");
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = false;
    }
    base::ThreadDispatcher::create();
    return trace;
}

/// Settings in a temporary file, the dispatcher, the plug-ins' trace file.
class EngineEnvironment : public ::testing::Test {
protected:
    void SetUp() override { set_up_environment(m_dir); }
    void TearDown() override {
        base::ThreadDispatcher::instance()->shutdown();
        base::ThreadDispatcher::destroy();
        pref_free();
    }

    std::string trace_path() const { return m_dir.path() + "/plugins.trace"; }
    std::string trace() const { return testing_support::readFile(trace_path()); }
    bool trace_has(const std::string& line) const { return trace().find(line + "\n") != std::string::npos; }
    /// How many trace lines end with the text.
    std::size_t trace_count(const std::string& ending) const {
        const std::string all = trace();
        std::size_t n = 0;
        for (auto at = all.find(ending + "\n"); at != std::string::npos; at = all.find(ending + "\n", at + 1)) ++n;
        return n;
    }

    testing_support::TempDir m_dir{"engine"};
    Pump m_pump;
    HostWindow m_window{[this](HostWindow::Task task) { m_pump.add(std::move(task)); }};
};

}  // namespace engine_test
