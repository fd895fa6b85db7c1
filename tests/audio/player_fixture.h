#pragma once

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "audio/player.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "tests/audio/engine_fixture.h"
#include "tests/support/counting_log_fixture.h"

// The playlist and player tests: an observed log, the settings, the
// dispatcher, the real plug-in host with the fixture plug-ins (they trace
// what they play) and the global player. Dispatcher jobs may hold the
// player, so the dispatcher stops before the player goes.

namespace player_test {

using engine_test::Pump;

/// A log whose lines the test counts, by a wide text.
class CountingLog : public CountingLogFixture {
protected:
    int logged(const std::wstring& text, const std::string& level = std::string()) {
        return loggedCount(base::toUtf8(text), level);
    }
};

class PlayerEnvironment : public CountingLog {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        engine_test::set_up_environment(m_dir);
        prepareStream(m_stream);
        m_engine = std::make_unique<PlayerEngine>(m_window.handle(), &m_stream, pluginFolder());
        m_engine->set_host([this](std::function<void()> task) { m_pump.add(std::move(task)); }, nullptr);
        g_player_engine = m_engine.get();
        Player::create(m_engine.get(), [this] { return m_captureDevices; }, pacing());
    }
    void TearDown() override {
        base::ThreadDispatcher::instance()->shutdown();
        Player::destroy();
        g_player_engine = nullptr;
        m_engine.reset();
        base::ThreadDispatcher::destroy();
        pref_free();
        LogFixture::TearDown();
    }

    virtual std::wstring pluginFolder() { return engine_test::fixture_folder(); }
    /// How the player paces lists that keep failing. Here no item counts as
    /// failed, however soon it ends: the fixtures' items end within
    /// milliseconds, and these tests are about what follows an end.
    virtual Player::Pacing pacing() {
        Player::Pacing pacing;
        pacing.timing.quickEnd = std::chrono::milliseconds(0);
        return pacing;
    }
    /// The common stream before the engine takes it; left without libvlc here.
    virtual void prepareStream(mp3stream&) {}

    std::string tracePath() const { return m_dir.path() + "/plugins.trace"; }
    std::string trace() const { return testing_support::readFile(tracePath()); }
    /// The arguments of the plug-ins' Play calls, in order.
    std::vector<std::string> plays() const {
        std::vector<std::string> found;
        const std::string all = trace();
        for (std::size_t at = all.find(" play "); at != std::string::npos; at = all.find(" play ", at + 1)) {
            const std::size_t end = all.find('\n', at);
            found.push_back(all.substr(at + 6, end - at - 6));
        }
        return found;
    }

    /// An empty file in the temporary folder; its path.
    std::wstring file(const std::string& name) {
        const std::string path = m_dir.path() + "/" + name;
        std::ofstream(path).put('\0');
        return base::fromUtf8(path);
    }

    static std::vector<std::wstring> titles(Playlist& playlist) {
        std::vector<std::wstring> out;
        for (const auto& item : playlist.getItems()) out.push_back(item.title);
        return out;
    }

    /// Pumps the host thread until the condition holds.
    bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
        return m_pump.run_until(done, timeoutMs);
    }
    /// Lets every job queued so far run: a marker job and a short grace for
    /// the second dispatcher thread.
    void settle() {
        auto ran = std::make_shared<std::atomic<bool>>(false);
        base::ThreadDispatcher::add(L"settle", 0, [ran] { *ran = true; });
        waitFor([ran] { return ran->load(); });
        engine_test::Pump().run_until([] { return false; }, 50);
        m_pump.run();
    }

    std::vector<os::AudioCaptureDevice> m_captureDevices;
    Pump m_pump;
    HostWindow m_window{[this](HostWindow::Task task) { m_pump.add(std::move(task)); }};
    mp3stream m_stream{2000};
    std::unique_ptr<PlayerEngine> m_engine;
};

/// What a playlist told its observers. Shared with the queued callbacks, so
/// a job that runs after the test's scope ends still finds it.
struct Told {
    std::atomic<int> ends{0};
    std::atomic<int> stops{0};
    std::atomic<int> playingTrue{0};
    std::atomic<int> playingFalse{0};
};

inline std::shared_ptr<Told> observe(Playlist& playlist) {
    auto told = std::make_shared<Told>();
    playlist.setCallbackIfEnd([told] { ++told->ends; });
    playlist.setCallbackIfStop([told] { ++told->stops; });
    playlist.setCallbackPlaying([told](bool on) { ++(on ? told->playingTrue : told->playingFalse); });
    return told;
}

}  // namespace player_test
