#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/thread_dispatcher.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"
#include "tests/support/thread_states.h"

using base::ThreadDispatcher;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// The jobs of a test hold what they touch (copies of a Signal or a Trace
// share one state), so that a job that a failed assertion leaves queued or
// running reaches nothing of the finished test body's; the fixture's
// TearDown then drops or joins it.

/// A counter that tests wait on; copies share it.
class Signal {
public:
    void raise() const { ++*m_count; }
    bool waitFor(int n, milliseconds limit = milliseconds(5000)) const {
        const auto count = m_count;
        return testing_support::waitUntil([count, n] { return *count >= n; }, limit);
    }

private:
    std::shared_ptr<std::atomic<int>> m_count = std::make_shared<std::atomic<int>>(0);
};

/// Raises a signal when it goes: a job held until then is let go on every
/// way out of a test body.
class RaiseOnExit {
public:
    explicit RaiseOnExit(Signal signal) : m_signal(std::move(signal)) {}
    ~RaiseOnExit() { m_signal.raise(); }
    RaiseOnExit(const RaiseOnExit&) = delete;
    RaiseOnExit& operator=(const RaiseOnExit&) = delete;

private:
    Signal m_signal;
};

/// Jobs that note their tag, time and thread when they run; copies share
/// the notes.
class Trace {
public:
    std::function<void()> job(int tag) const {
        return [state = m_state, ran = ran, tag] {
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->order.push_back(tag);
                state->ranAt[tag] = Clock::now();
                state->ranOn[tag] = std::this_thread::get_id();
            }
            ran.raise();
        };
    }
    std::vector<int> snapshot() const {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->order;
    }
    Clock::time_point ranAt(int tag) const {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->ranAt[tag];
    }
    std::thread::id ranOn(int tag) const {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->ranOn[tag];
    }

    Signal ran;

private:
    struct State {
        std::mutex mutex;
        std::vector<int> order;
        std::map<int, Clock::time_point> ranAt;
        std::map<int, std::thread::id> ranOn;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

class Dispatcher : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::DEBUG);
        m_threads = testing_support::threadsStartedBy([] { ThreadDispatcher::create(); });
    }
    void TearDown() override {
        if (ThreadDispatcher::instance() != nullptr) ThreadDispatcher::destroy();
        CountingLogFixture::TearDown();
    }
    /// Keeps one dispatcher thread in a job until `release` is raised;
    /// true once that job runs.
    static bool holdAThread(const wchar_t* description, const Signal& release) {
        const Signal started;
        ThreadDispatcher::add(description, 0, [started, release] {
            started.raise();
            release.waitFor(1);
        });
        return started.waitFor(1);
    }
    /// Whether both dispatcher threads sleep: every job due so far has run
    /// (a job added wakes a thread unless the other one runs a job, and
    /// that one looks for the next when it is done).
    bool bothAsleep() const {
        return m_threads.size() == 2 && testing_support::sleepsInEpoll(m_threads[0]) &&
               testing_support::sleepsInEpoll(m_threads[1]);
    }

    /// The dispatcher's two threads, by their kernel ids.
    std::vector<pid_t> m_threads;
};

}  // namespace

// Four threads add at once and each removes every second job it added:
// exactly the others run, so every id named its own job.
TEST_F(Dispatcher, IdsBelongToTheirJobsAcrossThreads) {
    const Trace trace;
    EXPECT_EQ(ThreadDispatcher::add(L"first", 0, trace.job(-1)), 1u);
    constexpr int kThreads = 4, kPerThread = 250;
    std::vector<std::uint32_t> ids[kThreads];
    std::vector<std::thread> adders;
    for (int t = 0; t < kThreads; ++t)
        adders.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                ids[t].push_back(ThreadDispatcher::add(L"tagged", 200, trace.job(t * kPerThread + i)));
                if (i % 2 == 0) ThreadDispatcher::remove(ids[t].back());
            }
        });
    for (auto& a : adders) a.join();

    std::set<std::uint32_t> unique;
    for (const auto& list : ids) unique.insert(list.begin(), list.end());
    EXPECT_EQ(unique.size(), static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_EQ(*unique.begin(), 2u);
    EXPECT_EQ(*unique.rbegin(), static_cast<std::uint32_t>(kThreads * kPerThread + 1));

    ASSERT_TRUE(trace.ran.waitFor(1 + kThreads * kPerThread / 2));
    std::this_thread::sleep_for(milliseconds(100));  // nothing removed runs late either
    std::vector<int> ran = trace.snapshot();
    std::sort(ran.begin(), ran.end());
    std::vector<int> expected = {-1};
    for (int tag = 1; tag < kThreads * kPerThread; tag += 2) expected.push_back(tag);
    EXPECT_EQ(ran, expected);
}

TEST_F(Dispatcher, DueJobsRunInTheOrderOfTheirDueTimes) {
    const Trace trace;
    ASSERT_TRUE(testing_support::waitUntil([&] { return bothAsleep(); }));  // in their idle waits
    const auto added = Clock::now();
    for (int delay : {300, 100, 0, 200}) ThreadDispatcher::add(L"job", delay, trace.job(delay));
    ASSERT_TRUE(trace.ran.waitFor(4));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{0, 100, 200, 300}));
    for (int delay : {0, 100, 200, 300}) {
        const auto late = trace.ranAt(delay) - (added + milliseconds(delay));
        EXPECT_GE(late.count(), 0) << delay;
        EXPECT_LT(late, milliseconds(200)) << delay;
    }
}

// delay × 1000 is formed in 64 bits: in 32 bits 4294968 ms (72 minutes)
// would wrap to 704 µs.
TEST_F(Dispatcher, LongDelaysDoNotWrap) {
    const Trace trace;
    ThreadDispatcher::add(L"in 72 minutes", 4294968, trace.job(1));
    ThreadDispatcher::add(L"in 50 days", 0xFFFFFFFFu, trace.job(2));
    EXPECT_FALSE(trace.ran.waitFor(1, milliseconds(200)));
}

TEST_F(Dispatcher, RemovalBeforeAndWhileRunning) {
    const Trace trace;
    ThreadDispatcher::remove(0);
    // Far from due when it is removed, however slow this thread is; the pass
    // that runs the marker has taken it among the deferred jobs.
    const std::uint32_t deferred = ThreadDispatcher::add(L"deferred", 10000, trace.job(1));
    const Signal marked;
    ThreadDispatcher::add(L"marker", 0, [marked] { marked.raise(); });
    ASSERT_TRUE(marked.waitFor(1));
    ThreadDispatcher::remove(deferred);
    ThreadDispatcher::remove(deferred + 1000);  // unknown ids are forgotten

    // A running job is neither stopped nor waited for.
    const Signal started, release;
    const RaiseOnExit releaseOnExit(release);
    const std::uint32_t running = ThreadDispatcher::add(L"running", 0, [started, release, trace] {
        started.raise();
        release.waitFor(1);
        trace.job(2)();
    });
    ASSERT_TRUE(started.waitFor(1));
    ThreadDispatcher::remove(running);
    release.raise();
    // Dropped by the pass that started the running job: it can run no more.
    ASSERT_TRUE(testing_support::waitUntil([&] {
        return loggedCount("dispatcher: an action is removed with id=" + std::to_string(deferred)) == 1;
    }));
    ThreadDispatcher::add(L"after", 0, trace.job(3));
    ASSERT_TRUE(trace.ran.waitFor(2));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{2, 3}));
    EXPECT_EQ(loggedCount("dispatcher: an action is removed with id=" + std::to_string(deferred)), 1);
    EXPECT_EQ(loggedCount("dispatcher: an action is removed"), 1);
}

TEST_F(Dispatcher, EngineTakesOverWhileAJobHoldsTheExecutor) {
    const Trace trace;
    const Signal started, release;
    const RaiseOnExit releaseOnExit(release);
    struct Long {
        std::thread::id on;
        Clock::time_point start;
    };
    const auto noted = std::make_shared<Long>();
    ThreadDispatcher::add(L"long", 0, [noted, started, release] {
        noted->on = std::this_thread::get_id();
        noted->start = Clock::now();
        started.raise();
        release.waitFor(1);
        std::this_thread::sleep_until(noted->start + milliseconds(1050));  // a long-operation record
    });
    ASSERT_TRUE(started.waitFor(1));
    const std::thread::id longOn = noted->on;
    const Clock::time_point longStart = noted->start;
    ThreadDispatcher::add(L"while long runs", 0, trace.job(1));
    ThreadDispatcher::add(L"throws on the engine", 0, [] { throw std::runtime_error("engine side"); });
    ThreadDispatcher::add(L"after the throw", 0, trace.job(2));
    ASSERT_TRUE(trace.ran.waitFor(2, milliseconds(3000)));
    EXPECT_NE(trace.ranOn(1), longOn);
    // The engine counts its 500 ms from the hand-over, a moment before the job began.
    EXPECT_GE(trace.ranAt(1) - longStart, milliseconds(450)) << "the executor gets 500 ms first";
    release.raise();

    // Once the long job has returned, jobs go to the executor again.
    bool backOnExecutor = false;
    for (int tag = 3; tag < 100 && !backOnExecutor; ++tag) {
        ThreadDispatcher::add(L"back on the executor", 0, trace.job(tag));
        ASSERT_TRUE(trace.ran.waitFor(tag));
        backOnExecutor = trace.ranOn(tag) == longOn;
        if (!backOnExecutor) std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_TRUE(backOnExecutor);
    EXPECT_EQ(loggedCount("dispatcher: the main thread got timeout for executor thread."), 1);
    EXPECT_GE(loggedCount("dispatcher: handle the queue by engine thread."), 2);
    EXPECT_EQ(loggedCount("dispatcher: Last operation took a long time"), 1);
    EXPECT_EQ(observedAt(L"ERROR"), std::vector<std::wstring>{L"Диспетчер потоков. Поймано необработанное исключение.\n"
                                                  L"Причина: 'engine side'.\nОписание источника 'throws on the engine'."});
}

TEST_F(Dispatcher, ExceptionsInJobsAreLoggedAndSurvived) {
    const Trace trace;
    ThreadDispatcher::add(L"internal", 0, [] { throw exception::InternalError(L"сломано"); });
    ThreadDispatcher::add(L"stop", 0, [] { throw exception::StopProgram(); });
    ThreadDispatcher::add(L"std", 0, [] { throw std::runtime_error("bad thing"); });
    ThreadDispatcher::add(L"int", 0, [] { throw 42; });
    ThreadDispatcher::add(L"survivor", 0, trace.job(1));
    ASSERT_TRUE(trace.ran.waitFor(1));
    EXPECT_EQ(observedAt(L"ERROR"), (std::vector<std::wstring>{
                            L"Сообщение: 'Internal error'\nОписание: 'сломано'",
                            L"stop program",
                            L"Диспетчер потоков. Поймано необработанное исключение.\nПричина: 'bad thing'.\n"
                            L"Описание источника 'std'.",
                            L"Диспетчер потоков. Поймано необработанное исключение.\nОписание источника 'int'.",
                        }));
    EXPECT_EQ(loggedCount("dispatcher: 'Internal error', 'сломано', 'internal'"), 1);
}

// Jobs call add and remove, and a removed job's function object may add a
// job from its destructor, which runs on the engine: none of it deadlocks.
TEST_F(Dispatcher, JobsMayAddAndRemoveJobs) {
    const Trace trace;
    struct AddsWhenDestroyed {
        Trace trace;
        std::shared_ptr<int> copies = std::make_shared<int>(0);
        ~AddsWhenDestroyed() {
            if (copies.use_count() == 1) ThreadDispatcher::add(L"from a destructor", 0, trace.job(3));
        }
        void operator()() const { trace.job(-1)(); }
    };
    // Far from due when the outer job removes it, however late that runs.
    const std::uint32_t doomed = ThreadDispatcher::add(L"doomed", 10000, AddsWhenDestroyed{trace});
    ThreadDispatcher::add(L"outer", 0, [doomed, trace] {
        ThreadDispatcher::remove(doomed);
        ThreadDispatcher::add(L"inner", 0, trace.job(2));
        trace.job(1)();
    });
    ASSERT_TRUE(trace.ran.waitFor(3));
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{1, 2, 3}));
}

TEST_F(Dispatcher, ShutdownDropsWaitingJobsAndJoins) {
    const Trace trace;
    const Signal started;
    ThreadDispatcher::add(L"deferred", 5000, trace.job(1));
    ThreadDispatcher::add(L"sleeper", 0, [started, trace] {
        started.raise();
        boost::this_thread::sleep_for(boost::chrono::seconds(10));  // an interruption point
        trace.job(2)();
    });
    ASSERT_TRUE(started.waitFor(1));
    const auto begin = Clock::now();
    ThreadDispatcher::instance()->shutdown();
    EXPECT_LT(Clock::now() - begin, milliseconds(2000));

    EXPECT_EQ(ThreadDispatcher::add(L"too late", 0, trace.job(3)), 0u);
    ThreadDispatcher::instance()->shutdown();
    ThreadDispatcher::destroy();
    EXPECT_EQ(ThreadDispatcher::add(L"no dispatcher", 0, trace.job(4)), 0u);
    EXPECT_TRUE(trace.snapshot().empty());
    EXPECT_EQ(loggedCount("dispatcher: stop handle"), 1);
    EXPECT_EQ(loggedCount("'too late' is dropped"), 1);
    EXPECT_EQ(loggedCount("'no dispatcher' is dropped"), 1);

    // A job without interruption points is waited for.
    ThreadDispatcher::create();
    const auto finished = std::make_shared<std::atomic<bool>>(false);
    ThreadDispatcher::add(L"busy", 0, [started, finished] {
        started.raise();
        std::this_thread::sleep_for(milliseconds(300));
        *finished = true;
    });
    ASSERT_TRUE(started.waitFor(2));
    ThreadDispatcher::destroy();
    EXPECT_TRUE(*finished);
}

TEST_F(Dispatcher, MisuseIsRefused) {
    EXPECT_THROW(ThreadDispatcher::add(L"empty", 0, boost::function<void()>()), exception::InternalError);
    const Trace trace;
    EXPECT_EQ(ThreadDispatcher::add(L"first real", 0, trace.job(1)), 1u) << "the empty one used no id";
    EXPECT_THROW(ThreadDispatcher::create(), exception::StopProgram);
    ThreadDispatcher::destroy();
    EXPECT_THROW(ThreadDispatcher::destroy(), exception::StopProgram);
    EXPECT_EQ(loggedCount("FATAL\t"), 2);
    EXPECT_EQ(loggedCount("Не удалось создать новый экземпляр диспетчера потоков"), 1);
    EXPECT_EQ(loggedCount("Не удалось уничтожить диспетчер потоков"), 1);
}

// Jobs that became due while both threads were held start in the order of
// their due times, not in the order they were added.
TEST_F(Dispatcher, JobsDueTogetherStartInTheOrderOfTheirDueTimes) {
    const Trace trace;
    const Signal release;
    const RaiseOnExit releaseOnExit(release);
    ASSERT_TRUE(holdAThread(L"holder", release));
    ASSERT_TRUE(holdAThread(L"second holder", release));  // once the first has had its 500 ms
    const auto added = Clock::now();
    for (int delay : {30, 10, 20, 0}) ThreadDispatcher::add(L"job", delay, trace.job(delay));
    std::this_thread::sleep_until(added + milliseconds(30));  // all four are due
    EXPECT_TRUE(trace.snapshot().empty());
    release.raise();
    ASSERT_TRUE(trace.ran.waitFor(4));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{0, 10, 20, 30}));
}

// Either thread watches the other: a job that the taking-over thread runs is
// itself taken over after 500 ms, and never more than two jobs run at once.
TEST_F(Dispatcher, EveryLongJobIsTakenOverButTwoRunAtMost) {
    struct Runs {
        std::mutex mutex;
        int running = 0, most = 0;
        std::map<int, Clock::time_point> startedAt, endedAt;
    };
    const auto runs = std::make_shared<Runs>();
    const Signal done;
    for (int tag = 1; tag <= 4; ++tag)
        ThreadDispatcher::add(L"long", 0, [runs, done, tag] {
            {
                std::lock_guard<std::mutex> lock(runs->mutex);
                runs->most = std::max(runs->most, ++runs->running);
                runs->startedAt[tag] = Clock::now();
            }
            std::this_thread::sleep_for(milliseconds(700));
            {
                std::lock_guard<std::mutex> lock(runs->mutex);
                --runs->running;
                runs->endedAt[tag] = Clock::now();
            }
            done.raise();
        });
    ASSERT_TRUE(done.waitFor(4, milliseconds(6000)));
    std::lock_guard<std::mutex> lock(runs->mutex);
    const int most = runs->most;
    auto& startedAt = runs->startedAt;
    auto& endedAt = runs->endedAt;
    EXPECT_EQ(most, 2);
    for (int tag = 2; tag <= 4; ++tag) EXPECT_GE(startedAt[tag] - startedAt[tag - 1], milliseconds(450)) << tag;
    EXPECT_LT(startedAt[3], endedAt[2]) << "the third starts 500 ms into the second, which was a take-over";
    EXPECT_EQ(loggedCount("dispatcher: the main thread got timeout for executor thread."), 3);
}

// A job added when the running one has already had its 500 ms starts at
// once on the other thread, even though nothing was due when they passed.
TEST_F(Dispatcher, JobAddedAfterTheRunningJobsTimeStartsAtOnce) {
    const Trace trace;
    const Signal release;
    const RaiseOnExit releaseOnExit(release);
    ASSERT_TRUE(holdAThread(L"long", release));
    std::this_thread::sleep_for(milliseconds(700));
    const auto added = Clock::now();
    ThreadDispatcher::add(L"late", 0, trace.job(1));
    const bool ran = trace.ran.waitFor(1, milliseconds(1000));
    release.raise();
    ASSERT_TRUE(ran) << "not held up by the long job";
    EXPECT_LT(trace.ranAt(1) - added, milliseconds(200));
}

// A thread that fell asleep while a job of the other one overran, with
// nothing else due, slept its longest wait: a job due while the other then
// ran a long one waited for that job's end, or up to those 10 s.
TEST_F(Dispatcher, AThreadThatSleptThroughAnOverrunStillTakesOverAfterTheHandOff) {
    ThreadDispatcher::destroy();
    m_threads = testing_support::threadsStartedBy([] { ThreadDispatcher::create({milliseconds(200)}); });
    // Leaves both threads idle, the one that took a job over from the
    // overrunning one in the wait it began once that job was done.
    const auto sleepThroughAnOverrun = [this] {
        ASSERT_TRUE(testing_support::waitUntil([&] { return bothAsleep(); }));
        const Signal release, tookOver;
        const RaiseOnExit releaseOnExit(release);
        const auto watcher = std::make_shared<std::atomic<pid_t>>(0);
        ASSERT_TRUE(holdAThread(L"overruns", release));
        ThreadDispatcher::add(L"taken over", 0, [watcher, tookOver] {
            *watcher = testing_support::currentThreadId();
            tookOver.raise();
        });
        ASSERT_TRUE(tookOver.waitFor(1));
        ASSERT_TRUE(testing_support::waitUntil([&] { return testing_support::sleepsInEpoll(*watcher); }));
        release.raise();
        ASSERT_TRUE(testing_support::waitUntil([&] { return bothAsleep(); }));
    };
    const Trace trace;
    const Signal first, second;
    const RaiseOnExit releaseFirst(first), releaseSecond(second);

    // Added once the long job runs; one beside it is removed while it waits.
    ASSERT_NO_FATAL_FAILURE(sleepThroughAnOverrun());
    ASSERT_TRUE(holdAThread(L"long", first));
    ThreadDispatcher::add(L"due", 0, trace.job(1));
    ThreadDispatcher::remove(ThreadDispatcher::add(L"removed", 0, trace.job(-1)));
    // The long job lets go by itself after 5 s.
    EXPECT_TRUE(trace.ran.waitFor(1, milliseconds(3000))) << "held up by the long job";
    first.raise();

    // Added before the long job starts, by a job that adds both.
    ASSERT_NO_FATAL_FAILURE(sleepThroughAnOverrun());
    ThreadDispatcher::add(L"adds", 0, [second, trace] {
        ThreadDispatcher::add(L"long", 0, [second] { second.waitFor(1); });
        ThreadDispatcher::add(L"due", 0, trace.job(2));
    });
    EXPECT_TRUE(trace.ran.waitFor(2, milliseconds(3000))) << "held up by the long job";
    second.raise();
    ThreadDispatcher::add(L"after", 0, trace.job(3));
    ASSERT_TRUE(trace.ran.waitFor(3));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{1, 2, 3}));
}

namespace {

/// A pipe whose read end the dispatcher watches.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
    ~Pipe() {
        for (int fd : fds) close(fd);
    }
    void put(char c) const { EXPECT_EQ(write(fds[1], &c, 1), 1); }
    std::string take() const {
        std::string taken;
        char buffer[64];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            taken.append(buffer, static_cast<std::size_t>(n));
        return taken;
    }
};

/// Ends the watch of a descriptor on every way out of a test body, before
/// the descriptor and what its function touches go.
class EndWatch {
public:
    explicit EndWatch(int fd) : m_fd(fd) {}
    ~EndWatch() { ThreadDispatcher::unwatch(m_fd); }
    EndWatch(const EndWatch&) = delete;
    EndWatch& operator=(const EndWatch&) = delete;

private:
    int m_fd;
};

}  // namespace

// Input of a watched descriptor that comes while both threads sleep wakes
// one of them, which reads it and runs the jobs that it became; the other
// sleeps on.
TEST_F(Dispatcher, AWatchedDescriptorIsReadByTheThreadThatRunsItsJobs) {
    ASSERT_EQ(m_threads.size(), 2u);
    Pipe input;
    struct Last {
        std::atomic<pid_t> reader{0}, runner{0};
    };
    const auto last = std::make_shared<Last>();
    const Signal ran;
    ASSERT_TRUE(ThreadDispatcher::watch(input.fds[0], [&input, last, ran] {
        for (std::size_t i = input.take().size(); i > 0; --i)
            ThreadDispatcher::add(L"input", 0, [last, ran, reader = testing_support::currentThreadId()] {
                last->reader = reader;
                last->runner = testing_support::currentThreadId();
                ran.raise();
            });
    }));
    const EndWatch endWatch(input.fds[0]);
    // While both threads are idle each also wakes by itself now and then (at
    // least every 500 ms) to look for due jobs, and may then take the input
    // or its job: input that meets such a look shows nothing either way and
    // is written again.
    int shown = 0;
    std::string unshown;
    for (int written = 0; shown < 5 && written < 20; ++written) {
        ASSERT_TRUE(testing_support::waitUntil([&] { return bothAsleep(); }));
        const testing_support::Sleeps sleeps(m_threads);
        input.put('x');
        ASSERT_TRUE(ran.waitFor(written + 1));
        ASSERT_TRUE(testing_support::waitUntil([&] { return bothAsleep(); }));
        const pid_t reader = last->reader, runner = last->runner;
        const pid_t other = reader == m_threads[0] ? m_threads[1] : m_threads[0];
        if (std::count(m_threads.begin(), m_threads.end(), reader) == 1 && runner == reader &&
            sleeps.wakeUpsOf(other) == 0)
            ++shown;
        else
            unshown += "\nread on " + std::to_string(reader) + ", its job ran on " + std::to_string(runner) +
                       ", the other woke " + std::to_string(sleeps.wakeUpsOf(other)) + " times";
    }
    EXPECT_EQ(shown, 5) << "dispatcher threads " << m_threads[0] << " and " << m_threads[1] << ":" << unshown;
}

// One descriptor at a time; unwatch() returns once no other thread is inside
// the function, and nothing reads after; the function may end its own watch.
TEST_F(Dispatcher, UnwatchWaitsForTheReaderAndMayComeFromIt) {
    Pipe input, other;
    Signal entered;
    std::atomic<bool> left{false};
    std::atomic<int> calls{0};
    ASSERT_TRUE(ThreadDispatcher::watch(input.fds[0], [&] {
        ++calls;
        input.take();
        entered.raise();
        std::this_thread::sleep_for(milliseconds(300));
        left = true;
    }));
    const EndWatch endWatch(input.fds[0]);
    EXPECT_FALSE(ThreadDispatcher::watch(other.fds[0], [] {}));
    ThreadDispatcher::unwatch(other.fds[0]);  // not the watched one: nothing happens
    input.put('x');
    ASSERT_TRUE(entered.waitFor(1));
    ThreadDispatcher::unwatch(input.fds[0]);
    EXPECT_TRUE(left) << "returned while the function still ran";
    // Both threads may have been called for 'x' (it wakes one, but the other
    // may find it before it is taken); none is after the watch.
    const int calledBefore = calls;
    input.put('y');
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(calls, calledBefore);
    input.take();

    Signal ended;
    ASSERT_TRUE(ThreadDispatcher::watch(input.fds[0], [&] {
        input.take();
        ThreadDispatcher::unwatch(input.fds[0]);
        ended.raise();
    }));
    const EndWatch endSecondWatch(input.fds[0]);
    input.put('z');
    ASSERT_TRUE(ended.waitFor(1)) << "ending its own watch from within";
    EXPECT_TRUE(testing_support::waitUntil([&] { return ThreadDispatcher::watch(input.fds[0], [] {}); }))
        << "watchable again once the function is gone";
    ThreadDispatcher::unwatch(input.fds[0]);
}
