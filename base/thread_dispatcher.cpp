#include "base/thread_dispatcher.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <boost/chrono.hpp>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/system_error_text.h"
#include "base/thread_latency.h"

namespace base {

namespace {

constexpr std::int64_t kLongestWait = 10000000;  // µs, idle wait for the next due time
constexpr std::int64_t kShortestWait = 500;      // µs
constexpr std::int64_t kLongJob = 1000000;       // µs, longer jobs are logged

// What woke a thread from its epoll set.
constexpr std::uint32_t kWoken = 0;
constexpr std::uint32_t kInput = 1;

std::int64_t steadyMicroseconds() {
    return boost::chrono::duration_cast<boost::chrono::microseconds>(
               boost::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/// Orders the deferred jobs as a min-heap: earliest due time first, then the
/// order of add.
bool laterThan(const ThreadDispatcher::Run& a, const ThreadDispatcher::Run& b) {
    return a.dueTime != b.dueTime ? a.dueTime > b.dueTime : a.id > b.id;
}

}  // namespace

std::atomic<ThreadDispatcher*> ThreadDispatcher::s_instance{nullptr};

ThreadDispatcher::ThreadDispatcher(Timing timing) : m_handOff(timing.handOff.count()) {
    const auto release = [this] {
        for (Worker& worker : m_workers)
            for (int fd : {worker.epoll, worker.wake})
                if (fd >= 0) ::close(fd);
    };
    for (Worker& worker : m_workers) {
        worker.epoll = epoll_create1(EPOLL_CLOEXEC);
        worker.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = kWoken;
        if (worker.epoll < 0 || worker.wake < 0 || epoll_ctl(worker.epoll, EPOLL_CTL_ADD, worker.wake, &event) != 0) {
            const int reason = errno;
            release();
            throw exception::InternalError(L"Диспетчер потоков. Не удалось создать ожидание: " +
                                           base::errnoForOperator(reason));
        }
    }
    try {
        m_engine = boost::thread([this] { engineThread(); });
    } catch (...) {
        release();
        throw;
    }
    try {
        m_executor = boost::thread([this] { executorThread(); });
    } catch (...) {
        m_engine.interrupt();
        signal(m_workers[0]);
        m_engine.join();
        release();
        throw;
    }
}

ThreadDispatcher::~ThreadDispatcher() {
    shutdown();
    for (Worker& worker : m_workers) {
        ::close(worker.epoll);
        ::close(worker.wake);
    }
}

void ThreadDispatcher::create() { create(Timing()); }

void ThreadDispatcher::create(Timing timing) {
    if (instance() != nullptr) {
        LOG_FATAL(L"Не удалось создать новый экземпляр диспетчера потоков");
        debug::stopProgram();
    }
    s_instance.store(new ThreadDispatcher(timing), std::memory_order_release);
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

std::uint32_t ThreadDispatcher::add(Description&& description, std::uint32_t delay,
                                    boost::function<void()> function) {
    if (function.empty()) throw exception::InternalError(L"Диспетчер потоков. Неизвестная функция");
    LOG_TRACE3(L"dispatcher: add a function with description '%1%', delay=%2%", description.view(), delay);

    ThreadDispatcher* self = instance();
    if (self == nullptr) {
        LOG_DEBUG(L"dispatcher: no dispatcher runs, the function '%1%' is dropped", description.view());
        return 0;
    }
    std::unique_lock<std::mutex> lock(self->m_mutex);
    if (self->m_stopped) {
        lock.unlock();
        LOG_DEBUG(L"dispatcher: no dispatcher runs, the function '%1%' is dropped", description.view());
        return 0;
    }
    // Callers take 0 for "no job", so the counter skips it when it wraps.
    if (++self->m_lastId == 0) ++self->m_lastId;
    const std::uint32_t id = self->m_lastId;
    // In 64 bits: the largest delay is about 50 days, not a wrapped product.
    const std::int64_t dueTime = steadyMicroseconds() + static_cast<std::int64_t>(delay) * 1000;
    self->m_queue.push_back(Run{id, std::move(function), std::move(description), dueTime});
    LOG_TRACE2(L"dispatcher: added the function with id=%1%, delay=%2% and a description '%3%'", id, delay,
               self->m_queue.back().description.view());

    // Wake a sleeping thread only when it would run the job sooner than it
    // means to look anyway: a job due now needs a thread that is free to run
    // it (a thread whose partner runs a job of less than 500 ms is not); a
    // deferred job concerns only the thread that keeps the time. A thread
    // that reads the watched descriptor looks for due jobs right after.
    // Of two that may, the one that went to sleep last is woken: the thread
    // that has just finished a long job takes the next one, as before it.
    Worker* target = nullptr;
    for (int i = 0; i < 2; ++i) {
        Worker& w = self->m_workers[i];
        const Worker& other = self->m_workers[1 - i];
        if (!w.waiting || w.notified || dueTime >= w.deadline) continue;
        const bool free = (!other.running || other.overrun || dueTime - other.startedAt >= self->m_handOff) &&
                          !other.reading;
        if (!(delay == 0 ? free : self->m_timekeeper == i)) continue;
        if (target == nullptr || w.sleeps > target->sleeps) target = &w;
    }
    if (target != nullptr) target->notified = true;
    lock.unlock();
    if (target != nullptr) signal(*target);
    return id;
}

bool ThreadDispatcher::watch(int fd, boost::function<void()> readable) {
    ThreadDispatcher* self = instance();
    if (self == nullptr || fd < 0 || readable.empty()) return false;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    if (self->m_stopped || self->m_watched >= 0 || !self->m_readable.empty()) return false;
    // Exclusive: a datagram wakes the first thread that waits, not both,
    // and not a blocking receive of the descriptor while a thread waits.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLEXCLUSIVE;
    event.data.u32 = kInput;
    for (int i = 0; i < 2; ++i) {
        if (epoll_ctl(self->m_workers[i].epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
            LOG_DEBUG(L"dispatcher: the descriptor %1% is not watched: %2%", fd, std::string(std::strerror(errno)));
            if (i == 1) epoll_ctl(self->m_workers[0].epoll, EPOLL_CTL_DEL, fd, nullptr);
            return false;
        }
    }
    self->m_watched = fd;
    self->m_readable = std::move(readable);
    return true;
}

void ThreadDispatcher::unwatch(int fd) {
    ThreadDispatcher* self = instance();
    if (self == nullptr || fd < 0) return;
    boost::function<void()> readable;
    {
        std::unique_lock<std::mutex> lock(self->m_mutex);
        if (self->m_watched != fd) return;
        self->m_watched = -1;
        for (Worker& worker : self->m_workers) epoll_ctl(worker.epoll, EPOLL_CTL_DEL, fd, nullptr);
        // A thread may be inside the function; the caller may be the other
        // thread, or this very one from within it.
        const int own = self->workerIndex();
        self->m_readingDone.wait(lock, [&] {
            for (int i = 0; i < 2; ++i)
                if (i != own && self->m_workers[i].reading) return false;
            return true;
        });
        if (own < 0 || !self->m_workers[own].reading) readable.swap(self->m_readable);
    }
    // Destroyed outside the lock; a function that ends its own watch is
    // destroyed by its thread once it has returned.
}

void ThreadDispatcher::remove(std::uint32_t id) {
    if (id == 0) {
        LOG_TRACE3(L"dispatcher: skip removing id=0.");
        return;
    }
    ThreadDispatcher* self = instance();
    if (self == nullptr) return;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    LOG_TRACE2(L"dispatcher: remove id=%1% (deferred removing).", id);
    if (!self->m_stopped) self->m_removed.insert(id);
}

void ThreadDispatcher::shutdown() {
    LOG_TRACE2(L"");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_engine.interrupt();
    m_executor.interrupt();
    // A thread asleep in sleep() sees the interruption once woken; one about
    // to sleep finds the wake-up already signalled.
    for (Worker& worker : m_workers) signal(worker);
    if (m_engine.joinable()) m_engine.join();
    if (m_executor.joinable()) m_executor.join();

    // Dropped jobs are destroyed outside the lock: a function object's
    // destructor may itself call add or remove.
    std::deque<Run> queued, ready;
    std::vector<Run> delayed, dead;
    boost::function<void()> readable;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        queued.swap(m_queue);
        ready.swap(m_ready);
        delayed.swap(m_delayed);
        dead.swap(m_dead);
        m_removed.clear();
        if (m_watched >= 0) {
            for (Worker& worker : m_workers) epoll_ctl(worker.epoll, EPOLL_CTL_DEL, m_watched, nullptr);
            m_watched = -1;
            readable.swap(m_readable);
        }
    }
    LOG_TRACE3(L"");
}

void ThreadDispatcher::collect(std::int64_t now) {
    if (!m_removed.empty()) {
        // Jobs that have not started yet, in any list, are dropped.
        const auto sift = [this](auto& jobs) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < jobs.size(); ++i) {
                if (m_removed.count(jobs[i].id) != 0) {
                    LOG_DEBUG(L"dispatcher: an action is removed with id=%1%", jobs[i].id);
                    m_dead.push_back(std::move(jobs[i]));
                } else {
                    if (kept != i) jobs[kept] = std::move(jobs[i]);
                    ++kept;
                }
            }
            const bool any = kept != jobs.size();
            jobs.erase(jobs.begin() + static_cast<std::ptrdiff_t>(kept), jobs.end());
            return any;
        };
        sift(m_queue);
        sift(m_ready);
        if (sift(m_delayed)) std::make_heap(m_delayed.begin(), m_delayed.end(), laterThan);
        m_removed.clear();
    }
    for (Run& run : m_queue) {
        if (run.dueTime > now) {
            const std::int64_t remaining = run.dueTime - now;
            LOG_TRACE2(L"dispatcher: defer execution. id=%1%, '%2%' -> before=%3% mcsec, in waiting=%4% mcsec",
                       run.id, run.description.view(), remaining,
                       m_delayed.empty() ? remaining : std::min(remaining, m_delayed.front().dueTime - now));
        }
        m_delayed.push_back(std::move(run));
        std::push_heap(m_delayed.begin(), m_delayed.end(), laterThan);
    }
    m_queue.clear();
    while (!m_delayed.empty() && m_delayed.front().dueTime <= now) {
        std::pop_heap(m_delayed.begin(), m_delayed.end(), laterThan);
        m_ready.push_back(std::move(m_delayed.back()));
        m_delayed.pop_back();
    }
}

void ThreadDispatcher::sleep(std::unique_lock<std::mutex>& lock, Worker& me, std::int64_t deadline,
                             std::int64_t dueDeadline) {
    // Only the time keeper's waits for the next due time are logged, once
    // each, not the shorter looks that watch the other thread.
    const bool logged = dueDeadline != 0;
    if (logged && dueDeadline != me.loggedDeadline) {
        me.loggedDeadline = dueDeadline;
        LOG_TRACE3(L"dispatcher: wait... %1% mcsec", dueDeadline - steadyMicroseconds());
    }
    boost::this_thread::interruption_point();
    me.waiting = true;
    me.notified = false;
    me.deadline = deadline;
    me.sleeps = ++m_sleeps;
    // A wake-up signalled between the unlock and the wait stays on the event.
    lock.unlock();
    const bool input = await(me, deadline);
    lock.lock();
    const bool notified = me.notified;
    me.waiting = false;
    me.notified = false;
    boost::this_thread::interruption_point();
    if (logged && (notified || steadyMicroseconds() >= dueDeadline)) {
        me.loggedDeadline = 0;
        LOG_TRACE2(L"dispatcher: woke up. A queue is %1%, delayed queue is %2%, deferred removing is %3%",
                   m_queue.size(), m_delayed.size(), m_removed.size());
    }
    if (input) read(lock, me);
}

bool ThreadDispatcher::await(Worker& me, std::int64_t deadline) {
    const std::int64_t left = std::max<std::int64_t>(deadline - steadyMicroseconds(), 0);
    const timespec timeout{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
    epoll_event events[2];
    const int count = epoll_pwait2(me.epoll, events, 2, &timeout, nullptr);
    bool input = false;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u32 == kInput) {
            input = true;
        } else {
            std::uint64_t signals = 0;
            while (::read(me.wake, &signals, sizeof signals) < 0 && errno == EINTR) {
            }
        }
    }
    return input;
}

void ThreadDispatcher::signal(Worker& worker) {
    const std::uint64_t one = 1;
    while (::write(worker.wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void ThreadDispatcher::read(std::unique_lock<std::mutex>& lock, Worker& me) {
    if (m_watched < 0) return;
    // A job added meanwhile wakes neither thread: this one looks for due
    // jobs once it has read.
    me.reading = true;
    lock.unlock();
    try {
        m_readable();
    } catch (const std::exception& e) {
        LOG_ERROR(L"Диспетчер потоков. Поймано необработанное исключение.\nПричина: '%1%'.", e.what());
    } catch (...) {
        LOG_ERROR(L"Диспетчер потоков. Поймано неизвестное исключение");
    }
    lock.lock();
    me.reading = false;
    if (m_watched < 0) {
        m_readingDone.notify_all();
        // The watch was ended from within the function; it goes now.
        if (!m_readable.empty() && !m_workers[0].reading && !m_workers[1].reading) {
            boost::function<void()> readable;
            readable.swap(m_readable);
            lock.unlock();
            readable.clear();
            lock.lock();
        }
    }
}

int ThreadDispatcher::workerIndex() const {
    const boost::thread::id self = boost::this_thread::get_id();
    return self == m_engine.get_id() ? 0 : self == m_executor.get_id() ? 1 : -1;
}

// Both threads run this loop. Each pass takes the jobs added since the last
// one; a due job is started by the thread that finds it, unless the other
// thread runs a job that has not yet had its 500 ms.
void ThreadDispatcher::work(int self) {
    Worker& me = m_workers[self];
    Worker& other = m_workers[1 - self];
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (boost::this_thread::interruption_requested()) {
            if (self == 0) LOG_TRACE3(L"thread dispatcher is end");
            return;
        }
        const std::int64_t now = steadyMicroseconds();
        if (other.running && !other.overrun && now - other.startedAt < m_handOff) {
            // The partner's job has the thread for 500 ms: nothing can start
            // here before, and no pass is made meanwhile (a removal takes
            // effect when the partner looks for its next job).
            sleep(lock, me, other.startedAt + m_handOff, 0);
            continue;
        }
        collect(now);
        if (!m_dead.empty()) {
            std::vector<Run> dead;
            dead.swap(m_dead);
            lock.unlock();
            dead.clear();  // outside the lock: a destructor may call add
            lock.lock();
            continue;
        }
        if (!m_ready.empty()) {
            bool takeOver = false;
            if (other.running) {
                if (!other.overrun && now - other.startedAt >= m_handOff) {
                    other.overrun = true;
                    LOG_DEBUG(L"dispatcher: the main thread got timeout for executor thread.");
                }
                takeOver = other.overrun;
            }
            if (!other.running || takeOver) {
                Run run = std::move(m_ready.front());
                m_ready.pop_front();
                me.running = true;
                me.overrun = false;
                me.startedAt = now;
                // The partner must look again when this job has had its
                // 500 ms. It does unless it fell asleep while a job of this
                // thread overran: then nothing was due, the next due time or
                // the longest wait was all it had to watch, and a job added
                // now would wait for it.
                const bool rearm = other.waiting && !other.notified && other.deadline > now + m_handOff;
                if (rearm) other.notified = true;
                lock.unlock();
                if (rearm) signal(other);
                runJob(self, run, takeOver);
                run = Run();  // the job's captures are released before the next one starts
                lock.lock();
                me.running = false;
                me.overrun = false;
                continue;
            }
        }
        // Nothing due, or the partner runs a job that has just had its 500 ms
        // and nothing was due: the next look is for the next due time.
        const bool keeper = m_timekeeper == -1 || m_timekeeper == self;
        std::int64_t dueDeadline = 0;
        std::int64_t deadline = now + kLongestWait;
        if (keeper) {
            m_timekeeper = self;
            if (!m_delayed.empty())
                deadline = now + std::clamp(m_delayed.front().dueTime - now, kShortestWait, kLongestWait);
            dueDeadline = deadline;
        }
        // While the partner is idle it may start a job at any moment without
        // waking this thread, whose look at the job's 500 ms must come on
        // time all the same.
        if (!other.running) deadline = std::min(deadline, now + m_handOff);
        sleep(lock, me, deadline, dueDeadline);
        if (m_timekeeper == self) m_timekeeper = -1;
    }
}

void ThreadDispatcher::runJob(int self, Run& run, bool takeOver) {
    try {
        boost::this_thread::interruption_point();
        if (run.function.empty()) {
            LOG_ERROR(L"Диспетчер потоков. Функция не определена");
            return;
        }
        if (takeOver) LOG_DEBUG(L"dispatcher: handle the queue by engine thread.");
        handle(run);
    } catch (const boost::thread_interrupted&) {
        if (self == 0) LOG_DEBUG(L"stop thread dispatcher");
        throw;
    } catch (const std::exception& e) {
        if (self == 0)
            LOG_ERROR(L"Диспетчер потоков. Поймано необработанное исключение.\nПричина: '%1%'.", e.what());
        else
            LOG_ERROR(L"Произошла непредвиденная ошибка: '%1%'", e.what());
    } catch (...) {
        if (self == 0)
            LOG_ERROR(L"Диспетчер потоков. Поймано неизвестное исключение");
        else
            LOG_ERROR(L"Произошла неизвестная ошибка");
    }
}

void ThreadDispatcher::engineThread() {
    // A due job must start on time even while every core is busy.
    preferPromptWakeups();
    work(0);
}

void ThreadDispatcher::executorThread() {
    preferPromptWakeups();
    try {
        work(1);
    } catch (const boost::thread_interrupted&) {
        LOG_DEBUG(L"dispatcher: stop executor thread");
        throw;
    }
}

// Runs one job on either thread; everything but an interruption is logged
// and swallowed, so the dispatcher survives any job.
void ThreadDispatcher::handle(Run& run) {
    LOG_TRACE2(L"dispatcher: start function execution with id=%1%, description '%2%'", run.id,
               run.description.view());
    const std::int64_t start = steadyMicroseconds();
    try {
        if (run.function.empty())
            LOG_WARN(L"Диспетчер потоков. Нет функции для обработки");
        else
            run.function();
    } catch (const exception::Base& e) {
        LOG_DEBUG(L"dispatcher: '%1%', '%2%', '%3%'", e.getNotification(), e.getDetails(), run.description.view());
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
                  e.what(), run.description.str());
        return;
    } catch (...) {
        LOG_ERROR(L"Диспетчер потоков. Поймано необработанное исключение.\nОписание источника '%1%'.",
                  run.description.str());
        return;
    }
    LOG_TRACE3(L"dispatcher: finish function execution, id=%1%", run.id);
    const std::int64_t elapsed = steadyMicroseconds() - start;
    if (elapsed > kLongJob) LOG_DEBUG(L"dispatcher: Last operation took a long time (%1% mcsec).", elapsed);
}

}  // namespace base
