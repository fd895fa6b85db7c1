#include <gtest/gtest.h>

#include <chrono>

#include "base/notification_filter.h"

namespace {

using namespace std::chrono_literals;

class RepeatFilter : public ::testing::Test {
protected:
    base::NotificationFilter m_filter{[this] { return m_now; }};
    std::chrono::steady_clock::time_point m_now = std::chrono::steady_clock::time_point{} + 1h;
};

}  // namespace

TEST_F(RepeatFilter, RepeatsWithinTwoSecondsOfTheLastAdditionAreDropped) {
    EXPECT_TRUE(m_filter.pass(L"WARN", L"Диск почти заполнен"));
    m_now += 1s;
    EXPECT_FALSE(m_filter.pass(L"WARN", L"Диск почти заполнен"));
    EXPECT_FALSE(m_filter.pass(L"ERROR", L"Диск почти заполнен")) << "the text counts, not the level";
    m_now += 1001ms;  // 2.001 s after the text was added
    EXPECT_TRUE(m_filter.pass(L"WARN", L"Диск почти заполнен"));
}

TEST_F(RepeatFilter, EveryNewTextRestartsTheWindowForAll) {
    EXPECT_TRUE(m_filter.pass(L"ERROR", L"a"));
    m_now += 500ms;
    EXPECT_TRUE(m_filter.pass(L"ERROR", L"b"));
    EXPECT_FALSE(m_filter.pass(L"ERROR", L"a"));
    m_now += 1900ms;  // 2.4 s after "a", 1.9 s after the last addition
    EXPECT_FALSE(m_filter.pass(L"NOTICE", L"a"));
    m_now += 200ms;
    EXPECT_TRUE(m_filter.pass(L"NOTICE", L"a"));
}

TEST_F(RepeatFilter, FatalAndOtherLevelsAreNeverFiltered) {
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(m_filter.pass(L"FATAL", L"x"));
        EXPECT_TRUE(m_filter.pass(L"IMPOR", L"x"));
    }
    EXPECT_TRUE(m_filter.pass(L"WARN", L"x")) << "FATAL and IMPOR texts are not remembered";
}
