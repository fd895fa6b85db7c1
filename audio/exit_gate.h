#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <boost/thread/thread.hpp>

#include "audio/loudspeaker_ledger.h"

namespace frm {

/// The quit's line for a channel's jobs and threads: once the quit begins
/// to give every loudspeaker back, no step of theirs reaches a loudspeaker.
/// Each such step (a call of the ledger, which sends without waiting for
/// an answer) passes the gate; the quit closes it, waiting for a step that
/// is passing, and every later step is refused. The jobs' pauses and waits
/// end as it closes, so a quit never waits them out. Any thread.
class ExitGate {
public:
    /// Runs `step` unless the gate is closed; false when it is. `step` must
    /// not wait for a loudspeaker.
    template <class Step>
    bool pass(Step&& step) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) return false;
        step();
        return true;
    }

    /// Waits for a step that is passing; refuses the later ones and ends
    /// the pauses and waits.
    void close() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
    }

    bool closed() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }

    /// Sleeps `pause`, less when the gate closes meanwhile: false then. An
    /// interruption point of the calling boost thread (the dispatcher's
    /// shutdown interrupts its jobs).
    bool sleep(std::chrono::milliseconds pause) {
        const auto until = std::chrono::steady_clock::now() + pause;
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_closed) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= until) return true;
            m_changed.wait_for(lock, std::min<std::chrono::steady_clock::duration>(until - now, kSlice));
            lock.unlock();
            boost::this_thread::interruption_point();
            lock.lock();
        }
        return false;
    }

    /// Waits until the batch has settled, `limit` at most, less when the
    /// gate closes: false unless it settled.
    bool wait(const LedgerBatch& batch, std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (batch.wait(std::max(std::chrono::milliseconds(0), std::min(left, kSlice)))) return true;
            if (closed() || left <= kSlice) return false;
        }
    }

    /// The same until a time point (a deadline that may have passed).
    bool waitUntil(const LedgerBatch& batch, std::chrono::steady_clock::time_point until) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        return wait(batch, std::max(std::chrono::milliseconds(0), left));
    }

    /// Sleeps until a time point, as sleep does.
    bool sleepUntil(std::chrono::steady_clock::time_point until) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        return sleep(std::max(std::chrono::milliseconds(0), left));
    }

private:
    static constexpr std::chrono::milliseconds kSlice{50};

    std::mutex m_mutex;  // guards m_closed; held while a step passes
    std::condition_variable m_changed;
    bool m_closed = false;
};

}  // namespace frm
