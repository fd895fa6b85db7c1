#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace frm {

/// Walks of indices on threads that stay: made as a walk first needs them
/// and kept, idle, for the next walks. For requests to many loudspeakers at
/// once: the transport serves different devices in parallel, so one that no
/// longer answers costs its give-up time once, not once for every
/// loudspeaker after it; and a channel that asks hundreds of loudspeakers at
/// each of its steps neither makes and ends hundreds of threads a step nor
/// leaves the allocator with the pieces each of them took. One walk at a
/// time; the destructor ends and joins the threads.
class WalkThreads {
public:
    explicit WalkThreads(std::size_t maxThreads);
    ~WalkThreads();
    WalkThreads(const WalkThreads&) = delete;
    WalkThreads& operator=(const WalkThreads&) = delete;

    /// Calls `visit(i)` for every i below `count` on up to maxThreads
    /// threads, the caller's among them, and returns once every call has
    /// returned. The first exception a call lets out is thrown here after
    /// the others have finished; the calls not yet begun are skipped.
    void forEach(std::size_t count, const std::function<void(std::size_t)>& visit);

private:
    void run();
    /// Takes the current walk's indices until none is left.
    void work();

    const std::size_t m_maxThreads;
    std::mutex m_walkLock;  // one walk at a time
    std::mutex m_mutex;     // guards what follows
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::thread> m_threads;
    const std::function<void(std::size_t)>* m_visit = nullptr;
    std::size_t m_count = 0;
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_failed{false};
    std::exception_ptr m_error;
    std::uint64_t m_walk = 0;   // the walks so far
    std::size_t m_wanted = 0;   // the threads the current walk takes
    std::size_t m_joined = 0;   // the threads that took it
    std::size_t m_busy = 0;     // the threads still in it
    bool m_ending = false;
};

}  // namespace frm
