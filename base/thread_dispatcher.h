#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <set>
#include <string>

#include <boost/function.hpp>
#include <boost/optional.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

namespace base {

/// The process-wide job dispatcher. Any thread queues a job with `add` (a
/// function, a description for the log, a delay in milliseconds) and may
/// cancel it with `remove` while it waits. Two threads run the jobs: the
/// engine decides when each is due and hands it to the executor, one at a
/// time; when a job keeps the executor longer than 500 ms, the engine runs
/// the following due jobs itself until the executor is free again. So at most
/// two jobs run at once, and a job may not assume a fixed thread or that the
/// job queued before it has finished.
///
/// Due times and waits are measured on the monotonic clock: setting the
/// system clock neither postpones nor fires deferred jobs.
///
/// The dispatcher's lock is held while it logs (it comes before the log's
/// lock) and never while a job runs, so jobs may call `add` and `remove`.
class ThreadDispatcher {
public:
    /// One job; also what the engine hands to the executor.
    struct Run {
        std::uint32_t id = 0;
        boost::function<void()> function;
        std::wstring description;
        std::int64_t dueTime = 0;  // monotonic clock, microseconds
    };

    /// Start-up makes the one instance before anything adds a job; a second
    /// call logs FATAL and stops the program (debug::stopProgram).
    static void create();
    /// Exit ends the instance (stopping its threads if shutdown didn't);
    /// without an instance it logs FATAL and stops the program.
    static void destroy();
    static ThreadDispatcher* instance() { return s_instance.load(std::memory_order_acquire); }

    /// Any thread. Returns the job's id (never 0), or 0 when no dispatcher runs
    /// (not created yet, shut down, or destroyed); the job is then dropped with
    /// a DEBUG line. An empty function throws exception::InternalError and uses
    /// no id.
    static std::uint32_t add(const std::wstring& description, std::uint32_t delay,
                             boost::function<void()> function);
    /// Any thread. Takes effect at the engine's next pass: a job still queued
    /// or deferred then never runs; a job already handed over or running is
    /// not affected and not waited for. 0 and unknown ids are harmless.
    static void remove(std::uint32_t id);

    /// Stops and joins both threads and drops every job that hasn't started;
    /// a job that is running is interrupted at its own interruption points and
    /// waited for. Called by the main window's shutdown (GUI thread) and again
    /// by the destructor; the second call is harmless.
    void shutdown();

    ~ThreadDispatcher();
    ThreadDispatcher(const ThreadDispatcher&) = delete;
    ThreadDispatcher& operator=(const ThreadDispatcher&) = delete;

private:
    ThreadDispatcher();

    void engineThread();
    void executorThread();
    void handle(Run& run);

    // Engine side of the one-job slot. handOver waits up to 500 ms for the
    // executor to finish and returns false when it didn't.
    bool handOver(Run&& run);
    bool executorFinished();
    // Executor side.
    Run takeHandedJob();
    void finishHandedJob();

    static std::atomic<ThreadDispatcher*> s_instance;

    boost::mutex m_mutex;  // guards m_lastId, m_queue, m_removed, m_stopped
    boost::condition_variable m_wakeUp;
    std::uint32_t m_lastId = 0;
    std::deque<Run> m_queue;          // added since the engine's last pass
    std::set<std::uint32_t> m_removed;  // removed since the engine's last pass
    bool m_stopped = false;

    // The slot and the counters change under m_slotMutex; the atomics let the
    // other side poll them without the lock during its short spin.
    boost::mutex m_slotMutex;
    boost::condition_variable m_jobHanded;
    boost::condition_variable m_jobFinished;
    boost::optional<Run> m_slot;
    std::atomic<bool> m_slotFull{false};
    std::atomic<std::uint64_t> m_handed{0};
    std::atomic<std::uint64_t> m_finished{0};

    boost::thread m_engine;
    boost::thread m_executor;
};

}  // namespace base
