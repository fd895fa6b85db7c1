#include "base/thread_dispatcher.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include <boost/chrono.hpp>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"

namespace base {

namespace {

constexpr std::int64_t kLongestWait = 10000000;  // µs, idle wait of the engine
constexpr std::int64_t kShortestWait = 500;      // µs
constexpr std::int64_t kLongJob = 1000000;       // µs, longer jobs are logged
const boost::chrono::milliseconds kHandOffWait(500);
// How long each side of the hand-off polls before it sleeps. Most jobs are
// short, and under load the next one is handed over within microseconds: a
// sleep and a wake-up on both sides would cost more than the job itself.
constexpr std::int64_t kSpin = 20;  // µs

std::int64_t steadyMicroseconds() {
    return boost::chrono::duration_cast<boost::chrono::microseconds>(
               boost::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/// Polls the condition for up to kSpin µs; true as soon as it holds.
template <class Condition>
bool spinUntil(Condition condition) {
    const std::int64_t end = steadyMicroseconds() + kSpin;
    do {
        for (int i = 0; i < 64; ++i) {
            if (condition()) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    } while (steadyMicroseconds() < end);
    return condition();
}

}  // namespace

std::atomic<ThreadDispatcher*> ThreadDispatcher::s_instance{nullptr};

ThreadDispatcher::ThreadDispatcher() {
    m_engine = boost::thread([this] { engineThread(); });
    try {
        m_executor = boost::thread([this] { executorThread(); });
    } catch (...) {
        m_engine.interrupt();
        m_engine.join();
        throw;
    }
}

ThreadDispatcher::~ThreadDispatcher() { shutdown(); }

void ThreadDispatcher::create() {
    if (instance() != nullptr) {
        LOG_FATAL(L"Не удалось создать новый экземпляр диспетчера потоков");
        debug::stopProgram();
    }
    s_instance.store(new ThreadDispatcher, std::memory_order_release);
}

void ThreadDispatcher::destroy() {
    // The pointer is cleared first: a job that calls add while the threads
    // are being joined then gets 0 instead of reaching a dying object.
    ThreadDispatcher* self = s_instance.exchange(nullptr, std::memory_order_acq_rel);
    if (self == nullptr) {
        LOG_FATAL(L"Не удалось уничтожить диспетчер потоков");
        debug::stopProgram();
    }
    delete self;
}

std::uint32_t ThreadDispatcher::add(const std::wstring& description, std::uint32_t delay,
                                    boost::function<void()> function) {
    if (function.empty()) throw exception::InternalError(L"Диспетчер потоков. Неизвестная функция");
    LOG_TRACE3(L"dispatcher: add a function with description '%1%', delay=%2%", description, delay);

    ThreadDispatcher* self = instance();
    if (self == nullptr) {
        LOG_DEBUG(L"dispatcher: no dispatcher runs, the function '%1%' is dropped", description);
        return 0;
    }
    boost::unique_lock<boost::mutex> lock(self->m_mutex);
    if (self->m_stopped) {
        LOG_DEBUG(L"dispatcher: no dispatcher runs, the function '%1%' is dropped", description);
        return 0;
    }
    // Callers take 0 for "no job", so the counter skips it when it wraps.
    if (++self->m_lastId == 0) ++self->m_lastId;
    const std::uint32_t id = self->m_lastId;
    // In 64 bits: the largest delay is about 50 days, not a wrapped product.
    const std::int64_t dueTime = steadyMicroseconds() + static_cast<std::int64_t>(delay) * 1000;
    self->m_queue.push_back(Run{id, std::move(function), description, dueTime});
    LOG_TRACE2(L"dispatcher: added the function with id=%1%, delay=%2% and a description '%3%'", id,
               delay, description);
    lock.unlock();
    self->m_wakeUp.notify_all();
    return id;
}

void ThreadDispatcher::remove(std::uint32_t id) {
    if (id == 0) {
        LOG_TRACE3(L"dispatcher: skip removing id=0.");
        return;
    }
    ThreadDispatcher* self = instance();
    if (self == nullptr) return;
    boost::lock_guard<boost::mutex> lock(self->m_mutex);
    LOG_TRACE2(L"dispatcher: remove id=%1% (deferred removing).", id);
    if (!self->m_stopped) self->m_removed.insert(id);
}

void ThreadDispatcher::shutdown() {
    LOG_TRACE2(L"");
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_engine.interrupt();
    m_executor.interrupt();
    if (m_engine.joinable()) m_engine.join();
    if (m_executor.joinable()) m_executor.join();

    // Dropped jobs are destroyed outside the locks: a function object's
    // destructor may itself call add or remove.
    std::deque<Run> dropped;
    boost::optional<Run> handed;
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        dropped.swap(m_queue);
        m_removed.clear();
    }
    {
        boost::lock_guard<boost::mutex> lock(m_slotMutex);
        handed.swap(m_slot);
        m_slotFull = false;
    }
    dropped.clear();
    handed.reset();
    LOG_TRACE3(L"");
}

// Engine thread. Each pass takes the jobs added since the last one, then the
// deferred ones; due jobs go to the executor in that order (nothing is sorted:
// the nearest due time only bounds the next wait).
void ThreadDispatcher::engineThread() {
    std::int64_t wait = kLongestWait;
    std::deque<Run> ready;
    std::deque<Run> delayed;
    bool busy = false;  // the executor still runs a job that outlived the hand-off wait

    for (;;) {
        if (boost::this_thread::interruption_requested()) {
            LOG_TRACE3(L"thread dispatcher is end");
            return;
        }
        std::vector<Run> removed;
        {
            boost::unique_lock<boost::mutex> lock(m_mutex);
            if (m_queue.empty()) {
                LOG_TRACE3(L"dispatcher: wait... %1% mcsec", wait);
                // One wait without a predicate: a notification, the time-out
                // and a spurious wake-up all lead to a new pass.
                m_wakeUp.wait_for(lock, boost::chrono::microseconds(wait));
                LOG_TRACE2(L"dispatcher: woke up. A queue is %1%, delayed queue is %2%, deferred removing is %3%",
                           m_queue.size(), delayed.size(), m_removed.size());
                wait = kLongestWait;
            }
            if (m_removed.empty()) {
                ready.swap(m_queue);
            } else {
                auto sift = [&](std::deque<Run>& from) {
                    for (Run& run : from) {
                        if (m_removed.count(run.id) != 0) {
                            LOG_DEBUG(L"dispatcher: an action is removed with id=%1%", run.id);
                            removed.push_back(std::move(run));
                        } else {
                            ready.push_back(std::move(run));
                        }
                    }
                    from.clear();
                };
                sift(m_queue);
                sift(delayed);
                m_removed.clear();
            }
        }
        removed.clear();  // outside the lock: a destructor may call add
        std::move(delayed.begin(), delayed.end(), std::back_inserter(ready));
        delayed.clear();

        while (!ready.empty()) {
            Run run = std::move(ready.front());
            ready.pop_front();
            boost::this_thread::interruption_point();
            if (run.function.empty()) {
                LOG_ERROR(L"Диспетчер потоков. Функция не определена");
                continue;
            }
            const std::int64_t now = steadyMicroseconds();
            if (now < run.dueTime) {
                const std::int64_t remaining = run.dueTime - now;
                if (remaining < wait) wait = remaining;
                LOG_TRACE2(L"dispatcher: defer execution. id=%1%, '%2%' -> before=%3% mcsec, in waiting=%4% mcsec",
                           run.id, run.description, remaining, wait);
                delayed.push_back(std::move(run));
                continue;
            }
            try {
                if (busy && executorFinished()) busy = false;
                if (!busy) {
                    if (!handOver(std::move(run))) {
                        LOG_DEBUG(L"dispatcher: the main thread got timeout for executor thread.");
                        busy = true;
                    }
                } else {
                    LOG_DEBUG(L"dispatcher: handle the queue by engine thread.");
                    handle(run);
                }
            } catch (const boost::thread_interrupted&) {
                LOG_DEBUG(L"stop thread dispatcher");
                throw;
            } catch (const std::exception& e) {
                LOG_ERROR(L"Диспетчер потоков. Поймано необработанное исключение.\nПричина: '%1%'.", e.what());
            } catch (...) {
                LOG_ERROR(L"Диспетчер потоков. Поймано неизвестное исключение");
            }
        }
        wait = std::clamp(wait, kShortestWait, kLongestWait);
    }
}

bool ThreadDispatcher::handOver(Run&& run) {
    std::uint64_t handed;
    {
        boost::lock_guard<boost::mutex> lock(m_slotMutex);
        m_slot = std::move(run);
        m_slotFull.store(true, std::memory_order_release);
        handed = m_handed.load(std::memory_order_relaxed) + 1;
        m_handed.store(handed, std::memory_order_relaxed);
    }
    m_jobHanded.notify_one();
    if (spinUntil([&] { return m_finished.load(std::memory_order_acquire) == handed; })) return true;
    boost::unique_lock<boost::mutex> lock(m_slotMutex);
    return m_jobFinished.wait_for(lock, kHandOffWait, [&] { return m_finished.load() == handed; });
}

bool ThreadDispatcher::executorFinished() {
    return m_finished.load(std::memory_order_acquire) == m_handed.load(std::memory_order_relaxed);
}

ThreadDispatcher::Run ThreadDispatcher::takeHandedJob() {
    spinUntil([&] { return m_slotFull.load(std::memory_order_acquire); });
    boost::unique_lock<boost::mutex> lock(m_slotMutex);
    while (!m_slot) m_jobHanded.wait(lock);  // an interruption point
    Run run = std::move(*m_slot);
    m_slot.reset();
    m_slotFull.store(false, std::memory_order_relaxed);
    return run;
}

void ThreadDispatcher::finishHandedJob() {
    {
        boost::lock_guard<boost::mutex> lock(m_slotMutex);
        m_finished.fetch_add(1, std::memory_order_release);
    }
    m_jobFinished.notify_one();
}

// Executor thread: runs the jobs the engine hands over, one at a time.
void ThreadDispatcher::executorThread() {
    while (!boost::this_thread::interruption_requested()) {
        try {
            Run run = takeHandedJob();
            // Completion is signalled even if handle lets something out, or
            // the engine would take every later job for good.
            struct Finish {
                ThreadDispatcher& self;
                ~Finish() { self.finishHandedJob(); }
            } finish{*this};
            handle(run);
            run = Run();  // the job's captures are released before the engine goes on
        } catch (const boost::thread_interrupted&) {
            LOG_DEBUG(L"dispatcher: stop executor thread");
            throw;
        } catch (const std::exception& e) {
            LOG_ERROR(L"Произошла непредвиденная ошибка: '%1%'", e.what());
        } catch (...) {
            LOG_ERROR(L"Произошла неизвестная ошибка");
        }
    }
}

// Runs one job on the executor or the engine; everything but an interruption
// is logged and swallowed, so the dispatcher survives any job.
void ThreadDispatcher::handle(Run& run) {
    LOG_TRACE2(L"dispatcher: start function execution with id=%1%, description '%2%'", run.id,
               run.description);
    const std::int64_t start = steadyMicroseconds();
    try {
        if (run.function.empty())
            LOG_WARN(L"Диспетчер потоков. Нет функции для обработки");
        else
            run.function();
    } catch (const exception::Base& e) {
        LOG_DEBUG(L"dispatcher: '%1%', '%2%', '%3%'", e.getNotification(), e.getDetails(), run.description);
        if (e.getDetails().empty())
            LOG_ERROR(L"%1%", e.getNotification());
        else
            LOG_ERROR(L"Сообщение: '%1%'\nОписание: '%2%'", e.getNotification(), e.getDetails());
        return;
    } catch (const boost::thread_interrupted&) {
        LOG_DEBUG(L"dispatcher: stop handle");
        throw;
    } catch (const std::exception& e) {
        LOG_ERROR(L"Диспетчер потоков. Поймано необработанное исключение.\nПричина: '%1%'.\nОписание источника '%2%'.",
                  e.what(), run.description);
        return;
    } catch (...) {
        LOG_ERROR(L"Диспетчер потоков. Поймано необработанное исключение.\nОписание источника '%1%'.",
                  run.description);
        return;
    }
    LOG_TRACE3(L"dispatcher: finish function execution, id=%1%", run.id);
    const std::int64_t elapsed = steadyMicroseconds() - start;
    if (elapsed > kLongJob) LOG_DEBUG(L"dispatcher: Last operation took a long time (%1% mcsec).", elapsed);
}

}  // namespace base
