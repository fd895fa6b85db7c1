#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/exception.h"
#include "base/wx/gui_thread_invoker.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using namespace std::chrono_literals;
using wx_testing::runEventLoopFor;
using wx_testing::runEventLoopUntil;

class Invoker : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        m_window = new wx_testing::TaskWindow;
    }
    void TearDown() override {
        wx_testing::closeInvokerAndWindow(m_window);
        CountingLogFixture::TearDown();
    }

    wx_testing::TaskWindow* m_window = nullptr;
};

/// Waits, without handling events, until the invoker's thread has posted
/// an event.
bool waitUntilPosted() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!wxTheApp->HasPendingEvents()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace

TEST_F(Invoker, TasksFromFourThreadsRunOnTheGuiThreadEachOnceInOrder) {
    GuiThreadInvoker::createInstance(m_window);
    constexpr int kThreads = 4;
    constexpr int kTasks = 50;
    std::vector<std::vector<int>> ran(kThreads);  // touched by the tasks only, on the GUI thread
    bool allOnGuiThread = true;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kTasks; ++i) {
                GuiThreadInvoker::add([&, t, i] {
                    ran[t].push_back(i);
                    allOnGuiThread &= wxThread::IsMain();
                });
                if (i % 10 == 0) std::this_thread::sleep_for(1ms);
            }
        });
    }
    for (auto& w : workers) w.join();
    const auto total = [&] {
        std::size_t n = 0;
        for (const auto& r : ran) n += r.size();
        return n;
    };
    ASSERT_TRUE(runEventLoopUntil([&] { return total() == kThreads * kTasks; }));
    runEventLoopFor(50ms);
    EXPECT_EQ(total(), static_cast<std::size_t>(kThreads * kTasks)) << "each task runs once";
    EXPECT_TRUE(allOnGuiThread);
    std::vector<int> expected(kTasks);
    for (int i = 0; i < kTasks; ++i) expected[i] = i;
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(ran[t], expected) << "thread " << t;
}

TEST_F(Invoker, ExceptionsInTasksAreLoggedAndTheNextTaskRuns) {
    GuiThreadInvoker::createInstance(m_window);
    GuiThreadInvoker::add([] { throw exception::Offline(); });
    GuiThreadInvoker::add([] { throw exception::InternalError(L"нет буфера"); });
    GuiThreadInvoker::add([] { throw exception::UserError(L"Файл не найден", L""); });
    GuiThreadInvoker::add([] { throw exception::UnexpectedResponseOfDevice("ERR 5"); });
    GuiThreadInvoker::add([] { throw std::runtime_error("boom"); });
    GuiThreadInvoker::add([] { throw 42; });
    GuiThreadInvoker::add(GuiThreadInvoker::Task());
    bool last = false;
    GuiThreadInvoker::add([&] { last = true; });
    ASSERT_TRUE(runEventLoopUntil([&] { return last; }));

    EXPECT_TRUE(logged("NOTICE\t[GuiThreadInvoker]  Устройство не в сети."));
    EXPECT_TRUE(
        logged("ERROR\t[GuiThreadInvoker]  Произошла внутренняя ошибка.\\AСообщение: 'Internal error'"
               "\\AОписание: 'нет буфера'"));
    EXPECT_TRUE(logged("NOTICE\t[GuiThreadInvoker]  Сообщение: 'Файл не найден'"));
    EXPECT_TRUE(logged("Сообщение: 'Получен неожиданный ответ устройства'\\AОписание: 'ERR 5'"));
    EXPECT_TRUE(logged("ERROR\t[dbg_puts]          caught std exception: boom, "));
    EXPECT_TRUE(logged("ERROR\t[dbg_puts]          caught unknown exception: "));
    EXPECT_TRUE(logged("WARN\t[dbg_puts]          internal error, don't set function"));
    // Each of these reaches the operator through the log's observer.
    const auto seen = observed();
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                            [](const std::wstring& s) { return s == L"NOTICE|Устройство не в сети."; }));
}

TEST_F(Invoker, StopDropsTheQueueAndDestroyJoins) {
    GuiThreadInvoker::createInstance(m_window);
    auto token = std::make_shared<int>(0);
    bool ran = false;
    for (int i = 0; i < 5; ++i)
        GuiThreadInvoker::add([&ran, token] { ran = true; });  // queued in the start pause
    EXPECT_TRUE(GuiThreadInvoker::isActive());
    GuiThreadInvoker::stop();
    EXPECT_EQ(token.use_count(), 1) << "dropped tasks are destroyed, not kept";
    EXPECT_TRUE(GuiThreadInvoker::exists());
    EXPECT_FALSE(GuiThreadInvoker::isActive());
    GuiThreadInvoker::add([&] { ran = true; });
    EXPECT_TRUE(logged("DEBUG\t[GuiThreadInvoker]  skip adding task for gui thread invoker"));

    runEventLoopFor(1300ms);  // past the start pause: nothing was posted
    EXPECT_FALSE(ran);
    EXPECT_EQ(m_window->tasksDelivered, 0);

    const auto start = std::chrono::steady_clock::now();
    GuiThreadInvoker::destroyInstance();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(GuiThreadInvoker::exists());
    EXPECT_TRUE(logged("TRACE2\t[GuiThreadInvoker]  gui thread invoker: end"))
        << "joined: the thread has ended";
}

// The one task is added in the invoker thread's start pause and must run
// without another add to wake it.
TEST_F(Invoker, SecondCreateKeepsTheFirstWindowAndAStartPauseTaskRuns) {
    GuiThreadInvoker::createInstance(m_window);
    auto* other = new wx_testing::TaskWindow;
    GuiThreadInvoker::createInstance(other);
    EXPECT_TRUE(logged("WARN\t[dbg_puts]          recall GuiThreadInvoker::createInstance"));
    bool ran = false;
    GuiThreadInvoker::add([&] { ran = true; });
    ASSERT_TRUE(runEventLoopUntil([&] { return ran; }, 3s));
    EXPECT_EQ(m_window->tasksDelivered, 1);
    EXPECT_EQ(other->tasksDelivered, 0);
    other->Destroy();
}

// A task whose event arrives after the invoker is gone, or whose window is
// destroyed before the event is handled, never runs, but what it captured
// (a transport, devices) must not be kept for ever.
TEST_F(Invoker, TasksThatNeverRunAreDestroyedWithWhatTheyCaptured) {
    auto ignored = std::make_shared<int>(0);
    auto pending = std::make_shared<int>(0);
    bool ran = false;
    GuiThreadInvoker::createInstance(m_window);
    GuiThreadInvoker::add([&ran, ignored] { ran = true; });
    // Posted by the invoker's thread, not yet handled: the GUI thread is here.
    ASSERT_TRUE(waitUntilPosted());
    GuiThreadInvoker::destroyInstance();
    runEventLoopFor(100ms);
    EXPECT_EQ(m_window->tasksDelivered, 1);
    EXPECT_FALSE(ran);
    EXPECT_EQ(ignored.use_count(), 1) << "the ignored task is destroyed";

    auto* other = new wx_testing::TaskWindow;
    GuiThreadInvoker::createInstance(other);
    GuiThreadInvoker::add([&ran, pending] { ran = true; });
    ASSERT_TRUE(waitUntilPosted());
    GuiThreadInvoker::destroyInstance();
    delete other;  // with the task's event still pending
    EXPECT_FALSE(ran);
    EXPECT_EQ(pending.use_count(), 1) << "the pending task is destroyed with its window";
}
