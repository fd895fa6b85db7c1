#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <boost/function.hpp>
#include <boost/thread/thread.hpp>

namespace base {

/// The process-wide job dispatcher. Any thread queues a job with `add` (a
/// function, a description for the log, a delay in milliseconds) and may
/// cancel it with `remove` while it waits. Two threads run the jobs, one at a
/// time: whichever of them is free starts the next due job, in the order of
/// the due times, and the other watches it; when a job has kept its thread
/// for 500 ms, the other thread runs the following due jobs until the first
/// one is free again. So at most two jobs run at once, and a job may not
/// assume a fixed thread or that the job queued before it has finished.
/// A job due while the other thread runs one starts within those 500 ms of
/// that job's start, however long the idle thread had meant to sleep.
///
/// A job finished on one thread hands nothing over: the same thread goes on
/// with the next due job, and a job added while both are idle wakes only one
/// of them.
///
/// Due times and waits are measured on the monotonic clock: setting the
/// system clock neither postpones nor fires deferred jobs.
///
/// The dispatcher's lock is never held while a job runs, nor while a job's
/// function object is destroyed, so jobs and their captures may call `add`
/// and `remove`.
///
/// A source whose every datagram becomes a job (the devices' state packets)
/// may let the idle threads read it (`watch`): the thread that the datagram
/// wakes reads it, adds the jobs and runs them itself, where a reader of its
/// own would cost a second thread's wake-up for each datagram.
class ThreadDispatcher {
public:
    /// A job's description. A string literal is kept by its address (it
    /// lives as long as the program), any other text is copied.
    class Description {
    public:
        Description() = default;
        explicit Description(const std::wstring& text) : m_owned(text) {}
        static Description literal(const wchar_t* text) {
            Description d;
            d.m_literal = text;
            return d;
        }
        std::wstring_view view() const { return m_literal != nullptr ? std::wstring_view(m_literal) : m_owned; }
        std::wstring str() const { return std::wstring(view()); }

    private:
        const wchar_t* m_literal = nullptr;
        std::wstring m_owned;
    };

    /// One job.
    struct Run {
        std::uint32_t id = 0;
        boost::function<void()> function;
        Description description;
        std::int64_t dueTime = 0;  // monotonic clock, microseconds
    };

    struct Timing {
        /// How long a job keeps its thread before the other thread takes the
        /// next due jobs.
        std::chrono::microseconds handOff{500000};
    };

    /// Start-up makes the one instance before anything adds a job; a second
    /// call logs FATAL and stops the program (debug::stopProgram).
    static void create();
    static void create(Timing timing);
    /// Exit ends the instance (stopping its threads if shutdown didn't);
    /// without an instance it logs FATAL and stops the program.
    static void destroy();
    static ThreadDispatcher* instance() { return s_instance.load(std::memory_order_acquire); }

    /// Any thread. Returns the job's id (never 0), or 0 when no dispatcher runs
    /// (not created yet, shut down, or destroyed); the job is then dropped with
    /// a DEBUG line. An empty function throws exception::InternalError and uses
    /// no id. A string literal as the description is not copied.
    static std::uint32_t add(const std::wstring& description, std::uint32_t delay,
                             boost::function<void()> function) {
        return add(Description(description), delay, std::move(function));
    }
    template <std::size_t N>
    static std::uint32_t add(const wchar_t (&description)[N], std::uint32_t delay,
                             boost::function<void()> function) {
        return add(Description::literal(description), delay, std::move(function));
    }
    /// Any thread. Takes effect at the dispatcher's next pass, when a thread
    /// next looks for work: a job that has not started by then never runs; a
    /// job already running is not affected and not waited for. 0 and unknown
    /// ids are harmless.
    static void remove(std::uint32_t id);

    /// Any thread. Lets the idle threads wait for input on `fd` too: the one
    /// that its input wakes calls `readable` (on its own thread, outside the
    /// lock, not as a job; it must not block) and then runs the jobs that
    /// `readable` added. Both threads may call it at once, and one of them
    /// may find the input already taken. Each thread waits for the
    /// descriptor exclusively and ahead of any exclusive waiter that comes
    /// later (a blocking receive), which gets the input only while neither
    /// thread waits. One descriptor at a time: false when another is watched
    /// or no dispatcher runs.
    static bool watch(int fd, boost::function<void()> readable);
    /// Any thread. Ends the watch of `fd` (another descriptor or none: nothing
    /// happens) and waits until `readable` runs on no other thread.
    static void unwatch(int fd);

    /// Stops and joins both threads and drops every job that hasn't started;
    /// a job that is running is interrupted at its own interruption points and
    /// waited for. Called by the main window's shutdown (GUI thread) and again
    /// by the destructor; the second call is harmless.
    void shutdown();

    ~ThreadDispatcher();
    ThreadDispatcher(const ThreadDispatcher&) = delete;
    ThreadDispatcher& operator=(const ThreadDispatcher&) = delete;

private:
    /// What the dispatcher knows of one of its threads (under m_mutex).
    struct Worker {
        // Each thread sleeps in its own epoll set: its wake-up event and, while
        // watched, the watched descriptor. Signalling takes no lock, so a
        // thread that adds a job and is preempted by the very thread it woke
        // holds nothing the woken thread needs.
        int epoll = -1;
        int wake = -1;  // eventfd
        bool running = false;        // runs a job
        bool reading = false;        // calls the watched descriptor's function
        std::int64_t startedAt = 0;  // of that job
        bool overrun = false;        // that job passed the 500 ms and the other thread took over
        bool waiting = false;        // sleeps on `wake`
        bool notified = false;       // was woken and has not yet looked
        std::int64_t deadline = 0;   // of its sleep
        std::int64_t loggedDeadline = 0;  // the wait for a due time last logged
        std::uint64_t sleeps = 0;         // m_sleeps when it went to sleep
    };

    explicit ThreadDispatcher(Timing timing);

    static std::uint32_t add(Description&& description, std::uint32_t delay, boost::function<void()> function);

    void engineThread();
    void executorThread();
    /// The loop of both threads; `self` is 0 for the engine, 1 for the executor.
    void work(int self);
    /// Under m_mutex: applies removals, moves the jobs added since the last
    /// pass into the schedule and the due ones, in due order, to m_ready.
    void collect(std::int64_t now);
    /// Under m_mutex: sleeps until the deadline, a wake-up or input on the
    /// watched descriptor, and reads that input. `dueDeadline` (0: none) is
    /// the time keeper's wait for the next due time, which the deadline may
    /// cut short. An interruption point: throws boost::thread_interrupted
    /// once shutdown has interrupted the thread.
    void sleep(std::unique_lock<std::mutex>& lock, Worker& me, std::int64_t deadline, std::int64_t dueDeadline);
    /// Without m_mutex: waits in the thread's epoll set; true when the watched
    /// descriptor has input.
    static bool await(Worker& me, std::int64_t deadline);
    static void signal(Worker& worker);
    /// Under m_mutex: lets `readable` take the watched descriptor's input.
    void read(std::unique_lock<std::mutex>& lock, Worker& me);
    /// Which of the two the calling thread is: 0, 1, or -1 for neither.
    int workerIndex() const;
    void runJob(int self, Run& run, bool takeOver);
    void handle(Run& run);

    static std::atomic<ThreadDispatcher*> s_instance;

    const std::int64_t m_handOff;  // µs

    std::mutex m_mutex;  // guards everything up to the threads
    std::uint32_t m_lastId = 0;
    std::deque<Run> m_queue;            // added since the last pass
    std::set<std::uint32_t> m_removed;  // removed since the last pass
    bool m_stopped = false;
    std::vector<Run> m_delayed;  // a min-heap on (dueTime, id)
    std::deque<Run> m_ready;     // due, in due order, waiting for a free thread
    std::vector<Run> m_dead;     // removed; destroyed outside the lock
    Worker m_workers[2];
    int m_timekeeper = -1;  // the sleeping thread that wakes for the next due time
    std::uint64_t m_sleeps = 0;  // counts the threads' sleeps, to tell which went last
    int m_watched = -1;          // the watched descriptor
    boost::function<void()> m_readable;  // kept until no thread reads any more
    std::condition_variable m_readingDone;

    boost::thread m_engine;
    boost::thread m_executor;
};

}  // namespace base
