#include <gtest/gtest.h>
#include <wx/defs.h>

#include <iterator>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/wx/gui_thread_invoker.h"
#include "base/wx/log_setup.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

struct Box {
    std::wstring text;
    std::wstring caption;
    long style;
};

// The application's log set-up with the message box replaced by a recorder.
class Notification : public ::testing::Test {
protected:
    void SetUp() override {
        dbg_init(false, INFO, m_dir.widePath().c_str());
        m_previous =
            dbg_setMessagePresenter([this](const wxString& text, const wxString& caption, long style) {
                m_boxes.push_back({text.ToStdWstring(), caption.ToStdWstring(), style});
            });
        m_window = new wx_testing::TaskWindow;
    }
    void TearDown() override {
        wx_testing::closeInvokerAndWindow(m_window);
        dbg_setMessagePresenter(m_previous);
        base::Log::destroy();
    }

    testing_support::TempDir m_dir;
    MessagePresenter m_previous;
    std::vector<Box> m_boxes;
    wx_testing::TaskWindow* m_window = nullptr;
};

}  // namespace

TEST_F(Notification, ImportantRecordsBecomeBoxesOnTheGuiThreadWithoutRepeats) {
    LOG_NOTICE(L"before the invoker: never shown");
    GuiThreadInvoker::createInstance(m_window);

    LOG_WARN(L"Диск почти заполнен");
    LOG_WARN(L"Диск почти заполнен");  // a repeat within two seconds
    LOG_ERROR(L"Устройство %1% не отвечает", 1);
    LOG_ERROR(L"Устройство %1% не отвечает", 2);
    LOG_ERROR(L"Устройство %1% не отвечает", 1);
    LOG_FATAL(L"Конец");
    LOG_FATAL(L"Конец");  // FATAL is always shown
    LOG_IMPOR(L"important, but no box");
    LOG_INFO(L"below the observer");

    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return m_boxes.size() >= 5; }));
    wx_testing::runEventLoopFor(200ms);
    const long common = wxOK | wxCENTRE;
    const Box expected[] = {{L"Диск почти заполнен", L"WARN", wxICON_WARNING | common},
                            {L"Устройство 1 не отвечает", L"ERROR", wxICON_ERROR | common},
                            {L"Устройство 2 не отвечает", L"ERROR", wxICON_ERROR | common},
                            {L"Конец", L"FATAL", wxICON_ERROR | common},
                            {L"Конец", L"FATAL", wxICON_ERROR | common}};
    ASSERT_EQ(m_boxes.size(), std::size(expected));
    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        EXPECT_EQ(m_boxes[i].text, expected[i].text) << i;
        EXPECT_EQ(m_boxes[i].caption, expected[i].caption) << i;
        EXPECT_EQ(m_boxes[i].style, expected[i].style) << i;
    }
}

TEST_F(Notification, ABoxAskedForWhileAnotherIsOpenWaitsUntilItIsAnswered) {
    // The invoker runs tasks inside an open box's modal loop: a second record
    // shown from there must not stack its box on the first one.
    std::vector<std::wstring> events;
    const MessagePresenter recorder =
        dbg_setMessagePresenter([&](const wxString& text, const wxString&, long) {
            events.push_back(L"open " + text.ToStdWstring());
            if (text == L"первое") {
                dbg_showMessageBox(L"WARN", L"второе");
                dbg_showMessageBox(L"ERROR", L"третье");
            }
            events.push_back(L"answered " + text.ToStdWstring());
        });
    dbg_showMessageBox(L"NOTICE", L"первое");
    EXPECT_EQ(events, (std::vector<std::wstring>{L"open первое", L"answered первое", L"open второе",
                                                 L"answered второе", L"open третье", L"answered третье"}));
    dbg_showMessageBox(L"NOTICE", L"снова");  // nothing left waiting: shown at once
    EXPECT_EQ(events.back(), L"answered снова");
    dbg_setMessagePresenter(recorder);
}
