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

using base::ThreadDispatcher;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

/// A counter that tests wait on.
struct Signal {
    std::atomic<int> count{0};
    void raise() { ++count; }
    bool waitFor(int n, milliseconds limit = milliseconds(5000)) {
        return testing_support::waitUntil([&] { return count >= n; }, limit);
    }
};

/// Jobs that note their tag, time and thread when they run.
struct Trace {
    std::mutex mutex;
    std::vector<int> order;
    std::map<int, Clock::time_point> ranAt;
    std::map<int, std::thread::id> ranOn;
    Signal ran;

    std::function<void()> job(int tag) {
        return [this, tag] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(tag);
                ranAt[tag] = Clock::now();
                ranOn[tag] = std::this_thread::get_id();
            }
            ran.raise();
        };
    }
    std::vector<int> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return order;
    }
};

class Dispatcher : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::DEBUG);
        ThreadDispatcher::create();
    }
    void TearDown() override {
        if (ThreadDispatcher::instance() != nullptr) ThreadDispatcher::destroy();
        CountingLogFixture::TearDown();
    }
    /// Keeps one dispatcher thread in a job until `release` is raised;
    /// true once that job runs.
    static bool holdAThread(const wchar_t* description, Signal& release) {
        Signal started;
        ThreadDispatcher::add(description, 0, [&started, &release] {
            started.raise();
            release.waitFor(1);
        });
        return started.waitFor(1);
    }
};

}  // namespace

// Four threads add at once and each removes every second job it added:
// exactly the others run, so every id named its own job.
TEST_F(Dispatcher, IdsBelongToTheirJobsAcrossThreads) {
    Trace trace;
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
    Trace trace;
    std::this_thread::sleep_for(milliseconds(20));  // the engine is in its long idle wait
    const auto added = Clock::now();
    for (int delay : {300, 100, 0, 200}) ThreadDispatcher::add(L"job", delay, trace.job(delay));
    ASSERT_TRUE(trace.ran.waitFor(4));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{0, 100, 200, 300}));
    for (int delay : {0, 100, 200, 300}) {
        const auto late = trace.ranAt[delay] - (added + milliseconds(delay));
        EXPECT_GE(late.count(), 0) << delay;
        EXPECT_LT(late, milliseconds(200)) << delay;
    }
}

// delay × 1000 is formed in 64 bits: in 32 bits 4294968 ms (72 minutes)
// would wrap to 704 µs.
TEST_F(Dispatcher, LongDelaysDoNotWrap) {
    Trace trace;
    ThreadDispatcher::add(L"in 72 minutes", 4294968, trace.job(1));
    ThreadDispatcher::add(L"in 50 days", 0xFFFFFFFFu, trace.job(2));
    EXPECT_FALSE(trace.ran.waitFor(1, milliseconds(200)));
}

TEST_F(Dispatcher, RemovalBeforeAndWhileRunning) {
    Trace trace;
    ThreadDispatcher::remove(0);
    const std::uint32_t deferred = ThreadDispatcher::add(L"deferred", 100, trace.job(1));
    std::this_thread::sleep_for(milliseconds(20));  // now in the delayed list
    ThreadDispatcher::remove(deferred);
    ThreadDispatcher::remove(deferred + 1000);  // unknown ids are forgotten

    // A running job is neither stopped nor waited for.
    Signal started, release;
    const std::uint32_t running = ThreadDispatcher::add(L"running", 0, [&] {
        started.raise();
        release.waitFor(1);
        trace.job(2)();
    });
    ASSERT_TRUE(started.waitFor(1));
    ThreadDispatcher::remove(running);
    release.raise();
    std::this_thread::sleep_for(milliseconds(200));  // past the removed job's due time
    ThreadDispatcher::add(L"after", 0, trace.job(3));
    ASSERT_TRUE(trace.ran.waitFor(2));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{2, 3}));
    EXPECT_EQ(loggedCount("dispatcher: an action is removed with id=" + std::to_string(deferred)), 1);
    EXPECT_EQ(loggedCount("dispatcher: an action is removed"), 1);
}

TEST_F(Dispatcher, EngineTakesOverWhileAJobHoldsTheExecutor) {
    Trace trace;
    Signal started, release;
    std::thread::id longOn;
    Clock::time_point longStart;
    ThreadDispatcher::add(L"long", 0, [&] {
        longOn = std::this_thread::get_id();
        longStart = Clock::now();
        started.raise();
        release.waitFor(1);
        std::this_thread::sleep_until(longStart + milliseconds(1050));  // a long-operation record
    });
    ASSERT_TRUE(started.waitFor(1));
    ThreadDispatcher::add(L"while long runs", 0, trace.job(1));
    ThreadDispatcher::add(L"throws on the engine", 0, [] { throw std::runtime_error("engine side"); });
    ThreadDispatcher::add(L"after the throw", 0, trace.job(2));
    ASSERT_TRUE(trace.ran.waitFor(2, milliseconds(3000)));
    EXPECT_NE(trace.ranOn[1], longOn);
    // The engine counts its 500 ms from the hand-over, a moment before the job began.
    EXPECT_GE(trace.ranAt[1] - longStart, milliseconds(450)) << "the executor gets 500 ms first";
    release.raise();

    // Once the long job has returned, jobs go to the executor again.
    bool backOnExecutor = false;
    for (int tag = 3; tag < 100 && !backOnExecutor; ++tag) {
        ThreadDispatcher::add(L"back on the executor", 0, trace.job(tag));
        ASSERT_TRUE(trace.ran.waitFor(tag));
        std::lock_guard<std::mutex> lock(trace.mutex);
        backOnExecutor = trace.ranOn[tag] == longOn;
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
    Trace trace;
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
    Trace trace;
    struct AddsWhenDestroyed {
        Trace* trace;
        std::shared_ptr<int> copies = std::make_shared<int>(0);
        ~AddsWhenDestroyed() {
            if (copies.use_count() == 1) ThreadDispatcher::add(L"from a destructor", 0, trace->job(3));
        }
        void operator()() const { trace->job(-1)(); }
    };
    const std::uint32_t doomed = ThreadDispatcher::add(L"doomed", 100, AddsWhenDestroyed{&trace});
    ThreadDispatcher::add(L"outer", 0, [&] {
        ThreadDispatcher::remove(doomed);
        ThreadDispatcher::add(L"inner", 0, trace.job(2));
        trace.job(1)();
    });
    ASSERT_TRUE(trace.ran.waitFor(3));
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{1, 2, 3}));
}

TEST_F(Dispatcher, ShutdownDropsWaitingJobsAndJoins) {
    Trace trace;
    Signal started;
    ThreadDispatcher::add(L"deferred", 5000, trace.job(1));
    ThreadDispatcher::add(L"sleeper", 0, [&] {
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
    std::atomic<bool> finished{false};
    ThreadDispatcher::add(L"busy", 0, [&] {
        started.raise();
        std::this_thread::sleep_for(milliseconds(300));
        finished = true;
    });
    ASSERT_TRUE(started.waitFor(2));
    ThreadDispatcher::destroy();
    EXPECT_TRUE(finished);
}

TEST_F(Dispatcher, MisuseIsRefused) {
    EXPECT_THROW(ThreadDispatcher::add(L"empty", 0, boost::function<void()>()), exception::InternalError);
    Trace trace;
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
    Trace trace;
    Signal release;
    ASSERT_TRUE(holdAThread(L"holder", release));
    for (int delay : {30, 10, 20, 0}) ThreadDispatcher::add(L"job", delay, trace.job(delay));
    std::this_thread::sleep_for(milliseconds(100));  // all four are due, the holder has its 500 ms
    EXPECT_TRUE(trace.snapshot().empty());
    release.raise();
    ASSERT_TRUE(trace.ran.waitFor(4));
    EXPECT_EQ(trace.snapshot(), (std::vector<int>{0, 10, 20, 30}));
}

// Either thread watches the other: a job that the taking-over thread runs is
// itself taken over after 500 ms, and never more than two jobs run at once.
TEST_F(Dispatcher, EveryLongJobIsTakenOverButTwoRunAtMost) {
    std::mutex mutex;
    int running = 0, most = 0;
    std::map<int, Clock::time_point> startedAt, endedAt;
    Signal done;
    for (int tag = 1; tag <= 4; ++tag)
        ThreadDispatcher::add(L"long", 0, [&, tag] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                most = std::max(most, ++running);
                startedAt[tag] = Clock::now();
            }
            std::this_thread::sleep_for(milliseconds(700));
            {
                std::lock_guard<std::mutex> lock(mutex);
                --running;
                endedAt[tag] = Clock::now();
            }
            done.raise();
        });
    ASSERT_TRUE(done.waitFor(4, milliseconds(6000)));
    EXPECT_EQ(most, 2);
    for (int tag = 2; tag <= 4; ++tag) EXPECT_GE(startedAt[tag] - startedAt[tag - 1], milliseconds(450)) << tag;
    EXPECT_LT(startedAt[3], endedAt[2]) << "the third starts 500 ms into the second, which was a take-over";
    EXPECT_EQ(loggedCount("dispatcher: the main thread got timeout for executor thread."), 3);
}

// A job added when the running one has already had its 500 ms starts at
// once on the other thread, even though nothing was due when they passed.
TEST_F(Dispatcher, JobAddedAfterTheRunningJobsTimeStartsAtOnce) {
    Trace trace;
    Signal release;
    ASSERT_TRUE(holdAThread(L"long", release));
    std::this_thread::sleep_for(milliseconds(700));
    const auto added = Clock::now();
    ThreadDispatcher::add(L"late", 0, trace.job(1));
    const bool ran = trace.ran.waitFor(1, milliseconds(1000));
    release.raise();
    ASSERT_TRUE(ran) << "not held up by the long job";
    EXPECT_LT(trace.ranAt[1] - added, milliseconds(200));
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

}  // namespace

// Input of a watched descriptor becomes jobs on the thread that read it, with
// no hand-over to the other thread, however long the reading takes.
TEST_F(Dispatcher, AWatchedDescriptorIsReadByTheThreadThatRunsItsJobs) {
    Pipe input;
    std::atomic<int> sameThread{0};
    Signal ran;
    ASSERT_TRUE(ThreadDispatcher::watch(input.fds[0], [&] {
        for (std::size_t i = input.take().size(); i > 0; --i)
            ThreadDispatcher::add(L"input", 0, [&, reader = std::this_thread::get_id()] {
                if (reader == std::this_thread::get_id()) ++sameThread;
                ran.raise();
            });
        std::this_thread::sleep_for(milliseconds(20));  // a woken partner would take the job meanwhile
    }));
    for (int i = 0; i < 5; ++i) {
        input.put('x');
        ASSERT_TRUE(ran.waitFor(i + 1));
        std::this_thread::sleep_for(milliseconds(30));  // both threads wait again
    }
    // A thread that wakes on its own (every 500 ms) may take a job that is due.
    EXPECT_GE(sameThread, 4);
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
    input.put('z');
    ASSERT_TRUE(ended.waitFor(1)) << "ending its own watch from within";
    EXPECT_TRUE(testing_support::waitUntil([&] { return ThreadDispatcher::watch(input.fds[0], [] {}); }))
        << "watchable again once the function is gone";
    ThreadDispatcher::unwatch(input.fds[0]);
}
