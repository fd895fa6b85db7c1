#include <gtest/gtest.h>

#include "device/request_queue.h"

using device::RequestQueue;
using std::chrono::milliseconds;

namespace {

constexpr std::uint32_t kA = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t kB = 0x7F000003;

struct Step {
    std::vector<RequestQueue::Send> sends;
    std::vector<RequestQueue::Id> expired;
    RequestQueue::TimePoint wake;
};

class Queue : public ::testing::Test {
protected:
    RequestQueue::TimePoint at(int ms) const { return m_start + milliseconds(ms); }
    Step poll(int ms) {
        Step step;
        step.wake = m_queue.poll(at(ms), step.sends, step.expired);
        return step;
    }
    RequestQueue::Id add(std::uint32_t address, const char* text, int priority = 2, int resendMs = 100) {
        return m_queue.add(address, 11990, text, priority, milliseconds(resendMs));
    }

    RequestQueue m_queue;
    const RequestQueue::TimePoint m_start = RequestQueue::Clock::now();
};

}  // namespace

TEST_F(Queue, SendsResendsAndGivesUpAfterTwoResendTimes) {
    const auto id = add(kA, "get vol\n");
    auto step = poll(0);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, id);
    EXPECT_EQ(step.sends[0].datagram, "get vol\n");
    EXPECT_EQ(step.sends[0].port, 11990);
    EXPECT_FALSE(step.sends[0].resend);
    EXPECT_EQ(step.wake, at(100));

    step = poll(99);
    EXPECT_TRUE(step.sends.empty());
    step = poll(100);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_TRUE(step.sends[0].resend);
    EXPECT_EQ(step.wake, at(200));

    step = poll(199);
    EXPECT_TRUE(step.sends.empty() && step.expired.empty());
    step = poll(200);
    EXPECT_TRUE(step.sends.empty());
    EXPECT_EQ(step.expired, std::vector<RequestQueue::Id>{id});
    EXPECT_EQ(step.wake, RequestQueue::TimePoint::max());
    EXPECT_TRUE(m_queue.empty());
    EXPECT_EQ(m_queue.match(kA, at(201)), 0u) << "a reply after the give-up is unsolicited";
}

TEST_F(Queue, OneRequestInFlightPerAddressOthersInParallel) {
    const auto a1 = add(kA, "a1");
    const auto a2 = add(kA, "a2");
    const auto b1 = add(kB, "b1");
    auto step = poll(0);
    ASSERT_EQ(step.sends.size(), 2u) << "one per address";
    EXPECT_EQ(m_queue.match(kB, at(5)), b1);
    EXPECT_EQ(m_queue.match(kA, at(5)), a1);
    step = poll(5);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, a2);
    EXPECT_EQ(m_queue.match(kB, at(6)), 0u) << "nothing in flight to B";
}

TEST_F(Queue, HigherPriorityFirstThenArrivalOrder) {
    add(kA, "busy");
    poll(0);
    const auto low = add(kA, "p0", 0);
    const auto high = add(kA, "p3", 3);
    const auto normal1 = add(kA, "p2a", 2);
    const auto normal2 = add(kA, "p2b", 2);
    std::vector<RequestQueue::Id> order;
    for (int t = 1; t <= 5; ++t) {
        m_queue.match(kA, at(t));
        for (const auto& send : poll(t).sends) order.push_back(send.id);
    }
    EXPECT_EQ(order, (std::vector<RequestQueue::Id>{high, normal1, normal2, low}));
}

TEST_F(Queue, AnsweredAfterResendDrainsTheAddress) {
    add(kA, "first", 2, 100);
    poll(0);
    poll(100);                          // resent
    ASSERT_NE(m_queue.match(kA, at(150)), 0u);
    const auto next = add(kA, "second");
    auto step = poll(150);
    EXPECT_TRUE(step.sends.empty()) << "the duplicate reply to the resend may still come";
    EXPECT_EQ(m_queue.match(kA, at(250)), 0u) << "the duplicate is not a reply";
    EXPECT_TRUE(poll(299).sends.empty());
    step = poll(300);                   // drain: resend span + half a resend time after the reply
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, next);
}

TEST_F(Queue, AnsweredAtOnceDoesNotDrain) {
    add(kA, "first");
    poll(0);
    ASSERT_NE(m_queue.match(kA, at(3)), 0u);
    add(kA, "second");
    EXPECT_EQ(poll(3).sends.size(), 1u);
}

TEST_F(Queue, CancelRemovesOnlyUnsentRequests) {
    const auto inFlight = add(kA, "a");
    poll(0);
    const auto queued = add(kA, "b");
    const auto kept = add(kA, "c");
    EXPECT_FALSE(m_queue.cancel(inFlight));
    EXPECT_TRUE(m_queue.cancel(queued));
    EXPECT_FALSE(m_queue.cancel(queued));
    EXPECT_EQ(m_queue.match(kA, at(1)), inFlight) << "a request in flight still takes its reply";
    const auto step = poll(1);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, kept);
}

TEST_F(Queue, ClearForgetsEverything) {
    add(kA, "a");
    add(kA, "b");
    poll(0);
    m_queue.clear();
    EXPECT_TRUE(m_queue.empty());
    EXPECT_EQ(m_queue.match(kA, at(1)), 0u);
    const auto step = poll(1000);
    EXPECT_TRUE(step.sends.empty() && step.expired.empty());
}
