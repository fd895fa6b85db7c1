// The channels' Yes/No question: asked on the GUI thread while the asking
// worker waits for the answer, asked directly on the GUI thread, and No when
// the GUI thread goes away before anyone answered.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <wx/thread.h>

#include "gui/channel_gui.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using namespace std::chrono_literals;
using wx_testing::runEventLoopFor;
using wx_testing::runEventLoopUntil;

class ChannelGuiTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        m_window = new wx_testing::TaskWindow;
        GuiThreadInvoker::createInstance(m_window);
    }
    void TearDown() override {
        wx_testing::closeInvokerAndWindow(m_window);
        CountingLogFixture::TearDown();
    }

    /// Records where the question was shown and answers `yes`.
    frm::InvokerChannelGui gui(bool yes) {
        return frm::InvokerChannelGui([this, yes](const std::wstring& caption, const std::wstring& text) {
            askedOnGuiThread = wxThread::IsMain();
            asked = caption + L"|" + text;
            return yes;
        });
    }

    wx_testing::TaskWindow* m_window = nullptr;
    std::atomic<bool> askedOnGuiThread{false};
    std::wstring asked;
};

}  // namespace

TEST_F(ChannelGuiTest, AWorkerWaitsForTheAnswerGivenOnTheGuiThread) {
    for (const bool yes : {true, false}) {
        auto channelGui = gui(yes);
        std::atomic<int> answer{-1};
        std::thread worker([&] { answer = channelGui.askYesNo(L"Предупреждение", L"Запустить?") ? 1 : 0; });
        ASSERT_TRUE(runEventLoopUntil([&] { return answer.load() >= 0; }));
        worker.join();
        EXPECT_EQ(answer, yes ? 1 : 0);
        EXPECT_TRUE(askedOnGuiThread);
        EXPECT_EQ(asked, L"Предупреждение|Запустить?");
    }
}

TEST_F(ChannelGuiTest, OnTheGuiThreadTheQuestionIsAskedDirectly) {
    auto channelGui = gui(false);
    EXPECT_FALSE(channelGui.askYesNo(L"c", L"t"));
    EXPECT_TRUE(askedOnGuiThread);
}

TEST_F(ChannelGuiTest, AQuestionNobodyCanAnswerIsNo) {
    auto channelGui = gui(true);
    std::atomic<int> answer{-1};
    GuiThreadInvoker::stop();  // shutdown: queued tasks are dropped
    std::thread worker([&] { answer = channelGui.askYesNo(L"c", L"t") ? 1 : 0; });
    worker.join();
    EXPECT_EQ(answer, 0);
    EXPECT_FALSE(askedOnGuiThread);
}
