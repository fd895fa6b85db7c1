#pragma once
// What the device tests over loopback UDP share: a transport and a simulator
// started per test, the simulator's request log as texts, and an audio
// memory stand-in that answers nothing. Tests that use it open sockets
// (label net).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "base/thread_dispatcher.h"
#include "device/device_base.h"
#include "device/memory/audio_control.h"
#include "device/transfer_protocol.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"
#include "tests/support/thread_states.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/stub_device.h"

namespace device_test {

typedef std::vector<std::string> Requests;

/// An audio memory that has nothing and plays nothing; fakes override what
/// their test needs.
class StubAudioControl : public device::memory::IAudioControl {
public:
    void setScenariosChangedCallbacks(boost::function<void()>, boost::function<void()>) override {}
    bool isPlaying() override { return false; }
    bool hasChanges() override { return false; }
    bool hasScenario(std::uint16_t) override { return false; }
    std::uint16_t getScenarioPosition(std::uint16_t) override { return kNone; }
    std::uint16_t getScenarioId(std::uint16_t) override { return kNone; }
    bool hasFragment(std::uint16_t) override { return false; }
    std::uint16_t getFragmentPosition(std::uint16_t) override { return kNone; }
    std::uint16_t getFragmentId(std::uint16_t) override { return kNone; }
};

/// An audio memory a test fills by hand: scenario and fragment ids by
/// position (counted from 1, as the audio memory counts), the changed and
/// playing flags (and how often playing was asked), and the after-write
/// callback its owner installed.
class FakeMemory : public StubAudioControl {
public:
    std::vector<std::uint16_t> scenarios, fragments;
    bool changes = false;
    std::atomic<bool> playing{false};
    std::atomic<int> asked{0};
    boost::function<void()> changed;

    void setScenariosChangedCallbacks(boost::function<void()>, boost::function<void()> after) override {
        changed = after;
    }
    bool isPlaying() override {
        ++asked;
        return playing;
    }
    bool hasChanges() override { return changes; }
    bool hasScenario(std::uint16_t id) override { return getScenarioPosition(id) != kNone; }
    std::uint16_t getScenarioPosition(std::uint16_t id) override { return positionOf(scenarios, id); }
    std::uint16_t getScenarioId(std::uint16_t position) override { return idAt(scenarios, position); }
    bool hasFragment(std::uint16_t id) override { return getFragmentPosition(id) != kNone; }
    std::uint16_t getFragmentPosition(std::uint16_t id) override { return positionOf(fragments, id); }
    std::uint16_t getFragmentId(std::uint16_t position) override { return idAt(fragments, position); }

private:
    static std::uint16_t positionOf(const std::vector<std::uint16_t>& ids, std::uint16_t id) {
        const auto it = std::find(ids.begin(), ids.end(), id);
        return it == ids.end() ? kNone : static_cast<std::uint16_t>(it - ids.begin() + 1);
    }
    static std::uint16_t idAt(const std::vector<std::uint16_t>& ids, std::uint16_t position) {
        return position >= 1 && position <= ids.size() ? ids[position - 1] : kNone;
    }
};

/// A device that does nothing of its own; tests override what they exercise.
using StubDevice = device::sim::StubDevice;

inline net::IpAndPort endpointOf(const device::sim::SimulatedDevice& device) {
    return net::IpAndPort(device.endpoint().address().to_string(), device.endpoint().port());
}

/// The requests a simulated device received, line ends removed, without the
/// base's responding check ("get vol") and, unless asked, the audio
/// memory's own ("mem ...").
inline Requests requestsOf(const device::sim::SimulatedDevice& device, bool withVolume = false,
                           bool withMemory = true) {
    Requests texts;
    for (const auto& d : device.received()) {
        std::string text = d.text;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if ((withMemory || text.rfind("mem ", 0) != 0) && (withVolume || text != "get vol")) texts.push_back(text);
    }
    return texts;
}

/// What other threads hand over (completions, handler calls), read under
/// a lock. A callback adds through its own adder(), which shares the list:
/// one that comes after its test body has ended reaches nothing of it.
template <class T>
class LockedList {
public:
    void add(T item) { adder()(std::move(item)); }
    std::function<void(T)> adder() const {
        return [state = m_state](T item) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->items.push_back(std::move(item));
        };
    }
    std::vector<T> items() const {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->items;
    }
    std::size_t size() const { return items().size(); }

private:
    struct State {
        std::mutex mutex;
        std::vector<T> items;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

/// The percent reports of a job's progress, with waits for the final ones
/// (100 or -1); callbacks come on the job's thread.
class ProgressLog {
public:
    void add(int percent) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.push_back(percent);
        m_changed.notify_all();
    }
    boost::function<void(int)> reporter() {
        return [this](int percent) { add(percent); };
    }
    /// The reports once `finals` final ones have come, or after the limit.
    std::vector<int> waitFinals(std::size_t finals, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, limit, [&] { return finalsLocked() >= finals; });
        return m_reports;
    }
    bool waitFinal() {
        waitFinals(1);
        return finals() >= 1;
    }
    bool waitCount(std::size_t count, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_reports.size() >= count; });
    }
    /// The reports a moment later, when a second final one would have come.
    std::vector<int> settled() {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return reports();
    }
    std::vector<int> reports() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }
    std::size_t count() const { return reports().size(); }

private:
    std::size_t finals() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return finalsLocked();
    }
    std::size_t finalsLocked() const {
        return static_cast<std::size_t>(
            std::count_if(m_reports.begin(), m_reports.end(), [](int p) { return p == 100 || p == -1; }));
    }
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_reports;
};

/// The progress reports of one job: 0 first, never falling, exactly one
/// final report (100 or -1) and that one last.
inline void expectOneJob(const std::vector<int>& reports, int final) {
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), 0);
    EXPECT_EQ(reports.back(), final);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), 100) + std::count(reports.begin(), reports.end(), -1), 1)
        << "exactly one final report";
    for (std::size_t i = 1; i + 1 < reports.size(); ++i) EXPECT_LE(reports[i - 1], reports[i]) << i;
}

/// Polls a condition until it holds or the limit passes.
template <class P>
bool waitUntil(P condition, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    return testing_support::waitUntil(condition, limit);
}

/// Waits up to two seconds for a request text to arrive.
inline bool waitForRequest(const device::sim::SimulatedDevice& device, const std::string& text) {
    for (int i = 0; i < 100; ++i) {
        const Requests sent = requestsOf(device);
        if (std::find(sent.begin(), sent.end(), text) != sent.end()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

/// A running transport and simulator per test, the dispatcher per suite.
/// Derived fixtures release their device objects in releaseDevices(),
/// which runs before the transport stops.
class UdpFixture : public CountingLogFixture {
protected:
    // The dispatcher logs from its own thread, so it lives no longer than
    // the test's log: created after it and destroyed before it.
    void SetUp() override {
        startLog(base::Log::TRACE3);
        m_dispatcherThreads = testing_support::threadsStartedBy([] { base::ThreadDispatcher::create(); });
        m_transport = boost::make_shared<device::TransferProtocol>(0, "");
        m_transport->run();
        m_simulator.start();
    }
    void TearDown() override {
        releaseDevices();
        m_transport->stop();
        m_simulator.stop();
        base::ThreadDispatcher::destroy();
        LogFixture::TearDown();
    }
    virtual void releaseDevices() {}

    /// Waits until both dispatcher threads sleep: every job due so far has
    /// run, and what those jobs added too (a job added wakes a thread unless
    /// the other one runs a job, which looks for the next when it is done).
    /// Deferred jobs that are not yet due are not waited for.
    bool waitForIdleDispatcher(std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) const {
        const std::vector<pid_t>& threads = m_dispatcherThreads;
        const auto asleep = [&] {
            return testing_support::sleepsInEpoll(threads[0]) && testing_support::sleepsInEpoll(threads[1]);
        };
        return threads.size() == 2 && testing_support::waitUntil(asleep, limit);
    }

    device::sim::Simulator m_simulator;
    boost::shared_ptr<device::TransferProtocol> m_transport;
    std::vector<pid_t> m_dispatcherThreads;  // the dispatcher's two, by kernel id
};

}  // namespace device_test
