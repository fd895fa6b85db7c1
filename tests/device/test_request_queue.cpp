#include <algorithm>
#include <random>
#include <map>
#include <set>
#include <vector>

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
    std::vector<RequestQueue::Id> released;
};

/// Drives a queue on a clock of its own; every datagram the queue hands out,
/// from add, match or poll, is collected in m_sent.
class Queue : public ::testing::Test {
protected:
    RequestQueue::TimePoint at(int ms) const { return m_start + milliseconds(ms); }
    Step poll(int ms) {
        Step step;
        m_queue.poll(at(ms), step.sends, step.expired, step.released);
        m_released.insert(m_released.end(), step.released.begin(), step.released.end());
        for (const auto& send : step.sends) sent(ms, send);
        return step;
    }
    RequestQueue::Id add(int ms, std::uint32_t address, const char* text, int priority = 2, int resendMs = 100) {
        std::optional<RequestQueue::Send> send;
        const auto id = m_queue.add(address, 11990, text, priority, milliseconds(resendMs), at(ms), send);
        if (send) sent(ms, *send);
        return id;
    }
    /// A request whose caller waits for it (resend time 100 ms: its bound is
    /// 250 ms); 0 when it ends at once.
    RequestQueue::Id wait(int ms, std::uint32_t address, const char* text, RequestQueue::Caller caller,
                          int priority = 2) {
        std::optional<RequestQueue::Send> send;
        const auto id = m_queue.add(address, 11990, text, priority, milliseconds(100), at(ms), send, caller, true);
        if (send) sent(ms, *send);
        return id;
    }
    /// A request nobody waits for, of `caller`.
    RequestQueue::Id ask(int ms, std::uint32_t address, const char* text, RequestQueue::Caller caller,
                         int resendMs = 100) {
        std::optional<RequestQueue::Send> send;
        const auto id =
            m_queue.add(address, 11990, text, 2, milliseconds(resendMs), at(ms), send, caller, false);
        if (send) sent(ms, *send);
        return id;
    }
    void sent(int ms, const RequestQueue::Send& send) {
        m_sent.push_back(send);
        if (!send.resend) m_sentAt.emplace_back(ms, send.id);
    }
    bool released(RequestQueue::Id id) const {
        return std::count(m_released.begin(), m_released.end(), id) != 0;
    }
    /// When the request left first, in ms; -1 when it never did.
    int sentAt(RequestQueue::Id id) const {
        for (const auto& [ms, send] : m_sentAt)
            if (send == id) return ms;
        return -1;
    }
    /// The request a datagram handed over at `ms` answers; 0 also for a late
    /// reply (see late()). It came at `cameMs`, by default as it is handed over.
    RequestQueue::Id match(int ms, std::uint32_t address, int cameMs = -1) {
        const auto found = matchAny(ms, address, cameMs);
        return found.late ? 0 : found.id;
    }
    /// The given-up request a datagram is the late reply of; 0 when it is none.
    RequestQueue::Id late(int ms, std::uint32_t address, int cameMs = -1) {
        const auto found = matchAny(ms, address, cameMs);
        return found.late ? found.id : 0;
    }
    RequestQueue::Match matchAny(int ms, std::uint32_t address, int cameMs = -1) {
        std::optional<RequestQueue::Send> next;
        const auto found = m_queue.match(address, at(cameMs < 0 ? ms : cameMs), at(ms), next);
        if (next) sent(ms, *next);
        return found;
    }
    std::vector<RequestQueue::Id> sentIds() const {
        std::vector<RequestQueue::Id> ids;
        for (const auto& send : m_sent) ids.push_back(send.id);
        return ids;
    }

    RequestQueue m_queue;
    std::vector<RequestQueue::Send> m_sent;
    std::vector<RequestQueue::Id> m_released;
    std::vector<std::pair<int, RequestQueue::Id>> m_sentAt;
    const RequestQueue::TimePoint m_start = RequestQueue::Clock::now();
};

}  // namespace

TEST_F(Queue, SendsResendsAndGivesUpAfterTwoResendTimes) {
    const auto id = add(0, kA, "get vol\n");
    ASSERT_EQ(m_sent.size(), 1u) << "an idle device gets its request at once";
    EXPECT_EQ(m_sent[0].id, id);
    EXPECT_EQ(m_sent[0].datagram, "get vol\n");
    EXPECT_EQ(m_sent[0].port, 11990);
    EXPECT_FALSE(m_sent[0].resend);
    EXPECT_EQ(m_queue.nextWake(), at(100));

    EXPECT_TRUE(poll(99).sends.empty());
    auto step = poll(100);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_TRUE(step.sends[0].resend);
    EXPECT_EQ(step.sends[0].datagram, "get vol\n");
    EXPECT_EQ(m_queue.nextWake(), at(200));

    step = poll(199);
    EXPECT_TRUE(step.sends.empty() && step.expired.empty());
    step = poll(200);
    EXPECT_TRUE(step.sends.empty());
    EXPECT_EQ(step.expired, std::vector<RequestQueue::Id>{id});
    EXPECT_EQ(m_queue.nextWake(), RequestQueue::TimePoint::max());
    EXPECT_TRUE(m_queue.empty());
    EXPECT_EQ(match(201, kA), 0u) << "a reply after the give-up is unsolicited";
}

TEST_F(Queue, OneRequestInFlightPerAddressOthersInParallel) {
    const auto a1 = add(0, kA, "a1");
    const auto a2 = add(0, kA, "a2");
    const auto b1 = add(0, kB, "b1");
    EXPECT_EQ(sentIds(), (std::vector<RequestQueue::Id>{a1, b1})) << "one per address";
    EXPECT_EQ(match(5, kB), b1);
    EXPECT_EQ(match(5, kA), a1);
    EXPECT_EQ(sentIds(), (std::vector<RequestQueue::Id>{a1, b1, a2})) << "the reply lets the next one go";
    EXPECT_EQ(match(6, kB), 0u) << "nothing in flight to B";
    EXPECT_EQ(m_queue.nextWake(), at(105)) << "only a2 waits for time";
}

TEST_F(Queue, HigherPriorityFirstThenArrivalOrder) {
    const auto busy = add(0, kA, "busy");
    const auto low = add(1, kA, "p0", 0);
    const auto high = add(1, kA, "p3", 3);
    const auto normal1 = add(1, kA, "p2a", 2);
    const auto normal2 = add(1, kA, "p2b", 2);
    for (int t = 2; t <= 6; ++t) match(t, kA);
    EXPECT_EQ(sentIds(), (std::vector<RequestQueue::Id>{busy, high, normal1, normal2, low}));
}

TEST_F(Queue, AnsweredAfterResendDrainsTheAddress) {
    add(0, kA, "first", 2, 100);
    poll(100);                                  // resent
    ASSERT_NE(match(150, kA), 0u);
    const auto next = add(150, kA, "second");
    EXPECT_EQ(m_sent.size(), 2u) << "the duplicate reply to the resend may still come";
    EXPECT_EQ(m_queue.nextWake(), at(350)) << "resend span + half a resend time after the time of the give-up";
    const auto duplicate = matchAny(250, kA);
    EXPECT_EQ(duplicate.id, 0u) << "the duplicate is not a reply";
    EXPECT_FALSE(duplicate.late) << "nor a late one: its request was answered";
    EXPECT_EQ(m_queue.nextWake(), at(400)) << "the drain goes on as long from the duplicate";
    EXPECT_EQ(matchAny(260, kA).id, 0u);
    EXPECT_EQ(m_queue.nextWake(), at(400)) << "an answered request draws one duplicate: a third datagram is none";
    EXPECT_TRUE(poll(399).sends.empty());
    const auto step = poll(400);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, next);
    EXPECT_FALSE(step.sends[0].resend);
}

TEST_F(Queue, LateReplyAfterGiveUpIsNotTheReplyToTheNextRequest) {
    const auto first = add(0, kA, "first", 2, 100);
    poll(100);  // resent
    const auto next = add(150, kA, "second");
    ASSERT_EQ(poll(200).expired.size(), 1u);
    EXPECT_EQ(m_sent.size(), 2u) << "the given-up request's replies may still come";
    EXPECT_EQ(m_queue.nextWake(), at(350)) << "resend span + half a resend time after the give-up";
    EXPECT_EQ(late(210, kA), first) << "the first datagram is the given-up request's late reply";
    EXPECT_EQ(matchAny(300, kA).id, 0u) << "the late reply to the resend answers nothing";
    EXPECT_EQ(m_queue.nextWake(), at(450)) << "each reply extends the drain as long from its arrival";
    // A device that goes on sending holds up its queue no longer: the
    // request was sent twice, so two replies at most extend the drain.
    EXPECT_EQ(matchAny(320, kA).id, 0u);
    EXPECT_EQ(m_queue.nextWake(), at(450));
    EXPECT_TRUE(poll(449).sends.empty());
    const auto step = poll(450);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, next);
    EXPECT_EQ(match(451, kA), next);
}

// In the field a device answered 2.5 resend times late: its reply to the
// resend came just as the drain after the give-up ended, and was taken as the
// reply to the next request. The first late reply now extends the drain, so
// the second falls inside it; the next request leaves after both.
TEST_F(Queue, ReplyToTheResendOfADeviceLateByTwoAndAHalfResendTimesFallsInsideTheDrain) {
    const auto given = add(0, kA, "mem info", 2, 1000);
    poll(1000);  // resent
    const auto next = add(1500, kA, "set ch 1", 2, 1000);
    ASSERT_EQ(poll(2000).expired, std::vector<RequestQueue::Id>{given});
    EXPECT_EQ(m_queue.drainEnd(kA), at(3500));
    EXPECT_EQ(late(2500, kA), given) << "the reply to the first send, 2.5 s late";
    EXPECT_TRUE(poll(3500).sends.empty()) << "the drain as counted from the give-up ends here";
    EXPECT_EQ(matchAny(3501, kA).id, 0u) << "the reply to the resend, 2.5 s late, answers no request";
    EXPECT_EQ(m_sent.size(), 2u);
    EXPECT_TRUE(poll(5000).sends.empty());
    const auto step = poll(5001);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, next);
    EXPECT_EQ(match(5010, kA), next);
}

// A waiting caller's request straddled a change of the device's lateness:
// its reply to the first send came 1.5R late and answered it, its reply to
// the resend 2.05R late. The drain counted from the answer ended first; the
// caller's next request went and was answered at once, and the queued
// request after it took the old reply.
TEST_F(Queue, ReplyToTheResendLaterThanTheAnswerToTheFirstSendAnswersNoOtherRequest) {
    const auto waited = add(0, kA, "echo w76", 3);
    const auto queued = add(1, kA, "echo 60", 2);
    poll(100);  // resent
    ASSERT_EQ(match(150, kA), waited) << "the reply to the first send, 1.5R late";
    const auto next = add(150, kA, "echo w77", 3);
    EXPECT_TRUE(poll(300).sends.empty()) << "a drain counted from the answer would end here";
    EXPECT_EQ(matchAny(305, kA).id, 0u) << "the reply to the resend, 2.05R late, answers nothing";
    EXPECT_TRUE(poll(454).sends.empty()) << "nor does a reply to the resend up to 2.5R late";
    EXPECT_EQ(sentIds(), (std::vector<RequestQueue::Id>{waited, waited}));
    poll(455);
    EXPECT_EQ(match(456, kA), next);
    EXPECT_EQ(match(457, kA), queued);
}

// The reader of the socket fell behind: a late reply that came during the
// drain was read only after the drain had ended and the next request had
// left, and was taken as that request's answer.
TEST_F(Queue, ADatagramCountsFromWhenItCameNotFromWhenItIsRead) {
    const auto first = add(0, kA, "first");
    poll(100);  // resent
    const auto second = add(150, kA, "second");
    ASSERT_EQ(poll(200).expired, std::vector<RequestQueue::Id>{first});
    ASSERT_EQ(poll(350).sends.size(), 1u) << "the drain ended";
    EXPECT_EQ(late(352, kA, 340), first) << "came within the drain: the late reply, not the answer";
    EXPECT_EQ(matchAny(420, kA).id, 0u) << "the drain goes on from that reply: the one to the resend may still come";
    EXPECT_EQ(match(571, kA), second) << "after the drain as the reply to the resend extended it";

    // A datagram that came after the drain but before the request left (to
    // another device: A's late replies have made it resend later by now).
    add(600, kB, "third");
    poll(700);  // resent
    const auto fourth = add(710, kB, "fourth");
    ASSERT_EQ(poll(800).expired.size(), 1u);  // drains until 950
    ASSERT_EQ(poll(960).sends.size(), 1u);
    EXPECT_EQ(matchAny(961, kB, 955).id, 0u) << "came before the request left: not its answer";
    EXPECT_EQ(match(970, kB), fourth);
}

// A request that came after a drain had ended but before the sender polled
// for that end dropped the device's only timed entry: the requests queued
// behind the drain then waited for ever.
TEST_F(Queue, RequestAfterAnUnpolledDrainEndDoesNotStrandTheQueue) {
    add(0, kA, "first", 2, 100);
    poll(100);  // resent
    const auto second = add(110, kA, "second", 2);
    ASSERT_NE(match(150, kA), 0u);  // drains until 350
    const auto third = add(360, kA, "third", 3);
    EXPECT_LE(m_queue.nextWake(), at(360)) << "the drain is over: the queue is due now";
    const auto step = poll(360);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, third) << "the higher priority first, as ever";
    EXPECT_EQ(match(361, kA), third);
    EXPECT_EQ(sentIds().back(), second);
}

TEST_F(Queue, DrainOfAnIdleDeviceNeedsNoWakeUntilARequestComes) {
    add(0, kA, "first");
    poll(100);
    ASSERT_NE(match(120, kA), 0u);
    EXPECT_TRUE(m_queue.empty());
    EXPECT_EQ(m_queue.nextWake(), RequestQueue::TimePoint::max());
    add(200, kA, "second");
    EXPECT_EQ(m_sent.size(), 2u) << "still draining";
    EXPECT_EQ(m_queue.nextWake(), at(350));
    add(280, kB, "other");
    EXPECT_EQ(m_sent.size(), 3u) << "another device is not held up";
    ASSERT_NE(match(285, kB), 0u);
    add(285, kB, "next");
    EXPECT_EQ(m_sent.size(), 4u) << "an answer without a resend leaves nothing to drain";
    poll(350);
    EXPECT_EQ(m_sent.size(), 5u);
}

TEST_F(Queue, CancelRemovesOnlyUnsentRequestsClearEverything) {
    const auto inFlight = add(0, kA, "a");
    const auto queued = add(0, kA, "b");
    const auto kept = add(0, kA, "c");
    EXPECT_FALSE(m_queue.cancel(kA, inFlight));
    EXPECT_FALSE(m_queue.cancel(kB, queued)) << "another device's";
    EXPECT_TRUE(m_queue.cancel(kA, queued));
    EXPECT_FALSE(m_queue.cancel(kA, queued));
    EXPECT_EQ(match(1, kA), inFlight) << "a request in flight still takes its reply";
    EXPECT_EQ(sentIds(), (std::vector<RequestQueue::Id>{inFlight, kept}));

    add(2, kA, "d");
    m_queue.clear();
    EXPECT_TRUE(m_queue.empty()) << "clear forgets everything";
    EXPECT_EQ(m_queue.nextWake(), RequestQueue::TimePoint::max());
    EXPECT_EQ(match(3, kA), 0u);
    const auto step = poll(1000);
    EXPECT_TRUE(step.sends.empty() && step.expired.empty());
}

TEST_F(Queue, ManyDevicesKeepTheirOwnTimes) {
    // Devices added 1 ms apart resend and give up in the same order.
    for (std::uint32_t n = 0; n < 50; ++n) add(static_cast<int>(n), kA + n, "x", 2, 100);
    for (int t = 0; t <= 250; ++t) poll(t);
    std::vector<std::uint32_t> resentTo;
    for (const auto& send : m_sent)
        if (send.resend) resentTo.push_back(send.address - kA);
    ASSERT_EQ(resentTo.size(), 50u);
    EXPECT_TRUE(std::is_sorted(resentTo.begin(), resentTo.end()));
    EXPECT_TRUE(m_queue.empty()) << "all given up by 2R after the last";
}

// ---- waiting requests ----------------------------------------------------------

constexpr RequestQueue::Caller kPanel = 7;  // waits for its replies
constexpr RequestQueue::Caller kGong = 8;   // asks without waiting

// The property panel, opened 0.4 s after the gong on a loudspeaker that had
// just stopped answering, waited behind the gong's requests and then its own
// time from its first send: the window froze 5.3 s. A waiting request's time
// now counts from its call; behind another caller's requests it is let go
// at its bound, unsent.
TEST_F(Queue, AWaitingRequestBehindAnotherCallersIsLetGoAtItsBoundFromTheCall) {
    const auto gong = ask(0, kA, "set ch 1", kGong, 1000);
    const auto volume = ask(0, kA, "set vol 90", kGong, 1000);
    const auto panel = wait(40, kA, "get name", kPanel);
    ASSERT_NE(panel, 0u) << "the device has not missed an answer yet";
    ASSERT_EQ(match(90, kA), gong);  // the volume leaves
    EXPECT_TRUE(poll(289).released.empty());
    EXPECT_EQ(poll(290).released, std::vector<RequestQueue::Id>{panel}) << "2R + 50 ms from the call";
    EXPECT_EQ(sentAt(panel), -1) << "withdrawn unsent";
    EXPECT_EQ(match(291, kA), volume) << "a request nobody waits for keeps its turn";
    EXPECT_TRUE(m_queue.empty());
}

// A caller that queued requests of its own and then waits: the time the
// device spends on those is its own, beyond the bound.
TEST_F(Queue, TimeBehindTheCallersOwnRequestsIsItsOwn) {
    const auto first = ask(0, kA, "set name x", kPanel);
    const auto second = ask(0, kA, "set zone 3", kPanel);
    const auto read = wait(0, kA, "get name", kPanel);
    const auto other = wait(0, kA, "get vol", kGong);
    ASSERT_EQ(match(90, kA), first);
    ASSERT_EQ(match(180, kA), second);
    EXPECT_EQ(sentAt(read), 180);
    EXPECT_EQ(poll(250).released, std::vector<RequestQueue::Id>{other}) << "another caller's: its bound from the call";
    EXPECT_TRUE(poll(269).released.empty()) << "250 ms past the call, 180 of them its own caller's";
    EXPECT_EQ(match(270, kA), read);

    // Its own resent request, given up, and the drain after it count too.
    const auto lost = ask(300, kB, "set vol 1", kPanel);
    const auto after = wait(310, kB, "get vol", kPanel);
    poll(400);                                 // resent
    ASSERT_EQ(poll(500).expired.size(), 1u);   // drains until 650
    EXPECT_TRUE(poll(649).released.empty()) << "past 310 + 250, yet the device was the caller's own";
    ASSERT_EQ(poll(650).sends.size(), 1u);
    EXPECT_EQ(sentAt(after), 650);
    poll(750);  // resent
    const auto step = poll(850);
    EXPECT_EQ(step.expired, std::vector<RequestQueue::Id>{after}) << "its own full time: given up, not let go";
    EXPECT_TRUE(step.released.empty());
    EXPECT_EQ(m_released.size(), 1u);
    EXPECT_NE(lost, 0u);
}

// A loudspeaker counts as not answering from a give-up until it is heard
// from again: a waiting request behind another caller's request to it ends
// at once, unanswered. Behind its own caller's, or behind nothing but the
// drain, it is sent in turn: the device may be back.
TEST_F(Queue, BehindAnotherCallerToADeviceThatDoesNotAnswerAWaitingRequestEndsAtOnce) {
    const auto gong = ask(0, kA, "set ch 1", kGong);
    const auto volume = ask(10, kA, "set vol 90", kGong);
    const auto panel = wait(50, kA, "get name", kPanel);
    ASSERT_NE(panel, 0u);
    const auto own = wait(60, kA, "set ch 0", kGong);
    poll(100);  // resent
    const auto step = poll(200);
    EXPECT_EQ(step.expired, std::vector<RequestQueue::Id>{gong});
    EXPECT_EQ(step.released, std::vector<RequestQueue::Id>{panel}) << "let go at the give-up";
    EXPECT_EQ(sentAt(panel), -1);

    // The gong's requests go on after the drain (until 350); another
    // caller's waiting request behind them ends at once.
    poll(350);
    EXPECT_EQ(sentAt(volume), 350);
    EXPECT_EQ(wait(360, kA, "get name", kPanel), 0u);
    poll(450);  // resent
    ASSERT_EQ(poll(550).expired, std::vector<RequestQueue::Id>{volume});
    EXPECT_TRUE(poll(699).sends.empty());
    poll(700);
    EXPECT_EQ(sentAt(own), 700) << "its caller's own requests and drains were its own wait";
    poll(800);
    EXPECT_EQ(poll(900).expired, std::vector<RequestQueue::Id>{own});

    // Behind nothing but the drain, then idle: sent.
    const auto alone = wait(910, kA, "get name", kPanel);
    ASSERT_NE(alone, 0u);
    poll(1050);
    EXPECT_EQ(sentAt(alone), 1050);
    EXPECT_EQ(match(1060, kA), alone);
    // Heard from again: a waiting request queues as before.
    ask(1070, kA, "set ch 1", kGong);
    EXPECT_NE(wait(1071, kA, "get name", kPanel), 0u);
    EXPECT_EQ(m_released.size(), 1u);
}

// A waiting request that left late, behind another caller's, is let go at
// its bound while in flight; the device stays busy with it until its reply
// or give-up, and the reply is still its own.
TEST_F(Queue, AWaitingRequestInFlightPastItsBoundIsLetGoAndKeepsTheDevice) {
    const auto gong = ask(0, kA, "set ch 1", kGong);
    const auto panel = wait(0, kA, "get name", kPanel);
    const auto next = ask(10, kA, "set vol 90", kGong);
    ASSERT_EQ(match(200, kA), gong);
    EXPECT_EQ(sentAt(panel), 200);
    EXPECT_EQ(poll(250).released, std::vector<RequestQueue::Id>{panel});
    EXPECT_EQ(sentAt(next), -1) << "the device is still the panel's request's";
    EXPECT_EQ(match(260, kA), panel) << "its reply answers it, though nobody waits";
    EXPECT_EQ(sentAt(next), 260);
    EXPECT_EQ(m_released.size(), 1u) << "let go once";
}

// ---- learnt resend times --------------------------------------------------------

// Every loudspeaker answering 1 s late, the resend time: each step of an
// alarm (switch, volume) was resent, answered by the reply to the first
// send, and the address drained until 3.5 s for the reply to the resend:
// about two reply times a step. Once the lateness is known nothing is
// resent and nothing drains.
TEST_F(Queue, ADeviceAsLateAsTheResendTimeIsNotResentOnceItsLatenessIsKnown) {
    const auto first = ask(0, kA, "get vol", kGong, 1000);
    poll(1000);  // resent as the reply comes
    ASSERT_EQ(match(1001, kA, 1000), first);
    const auto second = ask(1002, kA, "set ch 1", kGong, 1000);
    EXPECT_EQ(m_queue.replyTime(kA), std::nullopt) << "the answer may be the prompt reply to the resend";
    EXPECT_EQ(matchAny(2000, kA).id, 0u) << "the reply to the resend";
    EXPECT_EQ(m_queue.replyTime(kA), std::optional<RequestQueue::Duration>(milliseconds(1000)));
    EXPECT_EQ(m_queue.resendTime(kA, milliseconds(1000)), milliseconds(1250));
    EXPECT_EQ(m_queue.resendTime(kA, milliseconds(300)), milliseconds(300))
        << "later than 2.75 times a shorter resend time: that time";

    poll(3500);  // the drain ends
    EXPECT_EQ(sentAt(second), 3500);
    const auto third = ask(3600, kA, "set vol 90", kGong, 1000);
    EXPECT_TRUE(poll(4499).sends.empty()) << "not resent at 1 s";
    EXPECT_EQ(match(4500, kA), second);
    EXPECT_EQ(sentAt(third), 4500) << "a reply to a single send: nothing to drain";
    EXPECT_EQ(match(5500, kA), third);
    EXPECT_EQ(m_sent.size(), 4u) << "one resend, the first request's";

    // Given up after twice the learnt resend time, and drained as long.
    const auto silent = ask(5600, kA, "get vol", kGong, 1000);
    poll(6850);
    EXPECT_TRUE(m_sent.back().resend);
    EXPECT_TRUE(poll(8099).expired.empty());
    EXPECT_EQ(poll(8100).expired, std::vector<RequestQueue::Id>{silent});
    EXPECT_EQ(m_queue.drainEnd(kA), at(8100 + 1250 + 625));
}

// Devices that answer in time keep the least resend time, and an answer to
// a resend without its sibling teaches nothing (the first send may have
// been lost); a late reply after a give-up tells the device's lateness.
// What was learnt falls back a quarter of the way per prompt answer. A device
// later than 2.75 resend times keeps the least: a resend at three would go as
// its reply comes.
TEST_F(Queue, LearntResendTimesStayBetweenOneAndThreeResendTimes) {
    add(0, kA, "prompt", 2, 1000);
    ASSERT_NE(match(10, kA), 0u);
    EXPECT_EQ(m_queue.resendTime(kA, milliseconds(1000)), milliseconds(1000));
    add(20, kA, "lost first", 2, 1000);
    poll(1020);
    ASSERT_NE(match(1030, kA), 0u);
    poll(5000);
    EXPECT_EQ(m_queue.replyTime(kA), std::optional<RequestQueue::Duration>(milliseconds(10)));
    EXPECT_EQ(m_queue.resendTime(kA, milliseconds(1000)), milliseconds(1000));
    EXPECT_EQ(m_queue.resendTime(kB, milliseconds(1000)), milliseconds(1000)) << "a device never heard";

    const auto given = add(6000, kB, "late", 2, 1000);
    poll(7000);
    poll(8000);
    EXPECT_EQ(late(8600, kB), given);
    EXPECT_EQ(m_queue.resendTime(kB, milliseconds(1000)), milliseconds(2850));
    int at = 12000;
    std::vector<long long> times;
    for (int i = 0; i < 12; ++i, at += 100) {
        add(at, kB, "prompt", 2, 1000);
        ASSERT_NE(match(at + 10, kB), 0u);
        times.push_back(std::chrono::duration_cast<milliseconds>(m_queue.resendTime(kB, milliseconds(1000))).count());
    }
    EXPECT_GT(times[0], 2000) << "one prompt answer does not bring the resends back";
    EXPECT_EQ(times.back(), 1000);
    EXPECT_TRUE(std::is_sorted(times.rbegin(), times.rend()));

    // Later than 2.75 resend times: served as before, given up at 2R and its
    // replies taken as late ones.
    const auto later = add(20000, kB, "later", 2, 1000);
    poll(21000);
    EXPECT_EQ(poll(22000).expired, std::vector<RequestQueue::Id>{later});
    EXPECT_EQ(late(22900, kB), later);
    EXPECT_EQ(m_queue.replyTime(kB), std::optional<RequestQueue::Duration>(milliseconds(2900)));
    EXPECT_EQ(m_queue.resendTime(kB, milliseconds(1000)), milliseconds(1000));
    EXPECT_EQ(m_queue.resendTime(kB, milliseconds(1100)), milliseconds(3175)) << "within three of a longer one";
}

// Waiting requests of callers of their own beside requests nobody waits
// for, to devices that lose, answer late or go silent for a while: polled
// on time, each waiting request ends (answered, given up or let go) within
// twice its device's resend time plus kWaitSlack from its call, whatever it
// queued behind; requests nobody waits for are never let go; every request
// ends once, a waiting one let go in flight once more when its device is
// done with it; never two in flight to one device.
TEST_F(Queue, RandomWaitingRequestsEndWithinTheirBound) {
    std::mt19937 random(20261210);
    const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    constexpr std::uint32_t kDevices[] = {kA, kB};
    constexpr int kResend = 60;
    int waitedAnswers = 0, letGo = 0, endedAtOnce = 0, givenUp = 0;
    for (int run = 0; run < 100; ++run) {
        RequestQueue queue;
        std::map<RequestQueue::Id, int> deadline;  // waiting requests still waited for
        std::set<RequestQueue::Id> open, goneInFlight, waiting;
        std::map<std::uint32_t, RequestQueue::Id> inFlight;
        std::map<std::uint32_t, std::multimap<int, RequestQueue::Id>> inbox;
        std::map<std::uint32_t, int> silentUntil;
        RequestQueue::Caller nextCaller = 100;
        const auto ended = [&](std::uint32_t address, RequestQueue::Id id) {
            if (inFlight.count(address) && inFlight[address] == id) inFlight.erase(address);
            if (goneInFlight.erase(id) == 1) return;
            ASSERT_EQ(open.erase(id), 1u) << "ended twice";
            deadline.erase(id);
        };
        const auto sent = [&](const RequestQueue::Send& send, int now) {
            if (!send.resend) {
                ASSERT_FALSE(inFlight.count(send.address)) << "two in flight to one device";
                inFlight[send.address] = send.id;
            }
            if (now < silentUntil[send.address] || chance(0.2)) return;
            const int late = chance(0.5) ? uniform(1, 10) : uniform(1, kResend * 5 / 2 - 1);
            inbox[send.address].insert({now + late, send.id});
        };
        for (int now = 0; now < 4000 || !open.empty(); ++now) {
            ASSERT_LT(now, 60000) << "run " << run << ": stranded";
            std::optional<RequestQueue::Send> send;
            // On time, before anything else of this millisecond.
            if (queue.nextWake() <= at(now)) {
                std::vector<RequestQueue::Send> sends;
                std::vector<RequestQueue::Id> expired, released;
                queue.poll(at(now), sends, expired, released);
                for (const auto id : released) {
                    ASSERT_EQ(waiting.count(id), 1u) << "a request nobody waits for was let go";
                    ASSERT_EQ(open.erase(id), 1u);
                    deadline.erase(id);
                    ++letGo;
                    for (const auto address : kDevices)
                        if (inFlight.count(address) && inFlight[address] == id) goneInFlight.insert(id);
                }
                for (const auto id : expired) {
                    for (const auto address : kDevices)
                        if (inFlight.count(address) && inFlight[address] == id) ended(address, id);
                    ++givenUp;
                }
                for (const auto& one : sends) sent(one, now);
            }
            for (const auto& [id, end] : deadline)
                ASSERT_GT(end, now) << "run " << run << ": waiting request " << id << " kept past its bound";
            for (const auto address : kDevices) {
                auto& box = inbox[address];
                while (!box.empty() && box.begin()->first <= now) {
                    const auto reply = box.begin()->second;
                    box.erase(box.begin());
                    const auto found = queue.match(address, at(now), at(now), send);
                    if (found.id != 0) {
                        ASSERT_EQ(found.id, reply) << "a reply of another request";
                    }
                    if (found.id != 0 && !found.late) {
                        if (deadline.count(found.id)) ++waitedAnswers;
                        ended(address, found.id);
                    }
                    if (send) sent(*send, now);
                    send.reset();
                }
            }
            if (now < 4000 && chance(0.002)) silentUntil[kDevices[uniform(0, 1)]] = now + uniform(100, 600);
            if (now < 4000 && chance(0.03)) {
                const std::uint32_t address = kDevices[uniform(0, 1)];
                const bool waits = chance(0.4);
                const int bound = static_cast<int>(
                    std::chrono::ceil<milliseconds>(2 * queue.resendTime(address, milliseconds(kResend)) +
                                                    RequestQueue::kWaitSlack)
                        .count());
                const auto id = queue.add(address, 1, "x", uniform(1, 3), milliseconds(kResend), at(now), send,
                                          waits ? nextCaller++ : 1, waits);
                if (id == 0) {
                    ASSERT_TRUE(waits);
                    ++endedAtOnce;
                } else {
                    open.insert(id);
                    if (waits) {
                        waiting.insert(id);
                        deadline[id] = now + bound + 1;
                    }
                }
                if (send) sent(*send, now);
            }
        }
        EXPECT_TRUE(queue.empty()) << "run " << run;
    }
    // The mix reaches every case.
    EXPECT_GT(waitedAnswers, 300);
    EXPECT_GT(letGo, 500);
    EXPECT_GT(endedAtOnce, 200);
    EXPECT_GT(givenUp, 300);
}

// Requests of any priority and resend time to two devices; each send is
// lost or answered up to 2.5 resend times late, its two replies late by
// unrelated times; the sender polls late, a device's replies are now and then
// read late (in the order they came), callers withdraw queued requests.
// Whatever the interleaving, a datagram answers its own request or none,
// and a late reply is reported for its own request only.
TEST_F(Queue, RepliesUpToTwoAndAHalfResendTimesLateAnswerNoOtherRequest) {
    std::mt19937 random(20261209);
    const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    constexpr std::uint32_t kDevices[] = {kA, kB};
    int answers = 0, lateReplies = 0, givenUp = 0, resentAnswers = 0, readLate = 0;
    for (int run = 0; run < 150; ++run) {
        RequestQueue queue;
        std::map<std::uint32_t, std::multimap<int, RequestQueue::Id>> inbox;  // by the millisecond each came
        std::map<std::uint32_t, int> readerStalledUntil;
        std::map<RequestQueue::Id, int> resendMs;
        std::map<RequestQueue::Id, int> sends;
        std::map<RequestQueue::Id, std::uint32_t> open;
        std::set<RequestQueue::Id> expired;
        const int pollLag = std::vector<int>{5, 30, 150}[run % 3];
        const auto sent = [&](const RequestQueue::Send& send, int now) {
            ++sends[send.id];
            if (chance(0.25)) return;  // lost
            const int late = chance(0.4) ? uniform(1, 5) : uniform(1, resendMs[send.id] * 5 / 2 - 1);
            inbox[send.address].insert({now + late, send.id});
        };
        const auto wakeMs = [&] {
            const auto wake = queue.nextWake();
            if (wake == RequestQueue::TimePoint::max()) return INT32_MAX;
            return static_cast<int>(std::chrono::ceil<milliseconds>(wake - m_start).count());
        };
        const auto waiting = [&] {
            for (const auto& device : inbox)
                if (!device.second.empty()) return true;
            return false;
        };
        for (int now = 0; now < 3000 || waiting() || !queue.empty(); ++now) {
            ASSERT_LT(now, 60000) << "run " << run << ": the queue never empties";
            std::vector<int> actions;  // -1 poll, -2 add, -3 withdraw, else the device whose next reply is read
            if (chance(0.2) || now >= wakeMs() + pollLag) actions.push_back(-1);
            if (now < 3000 && chance(0.08)) actions.push_back(-2);
            if (chance(0.01)) actions.push_back(-3);
            for (int d = 0; d < 2; ++d) {
                int& stalled = readerStalledUntil[kDevices[d]];
                if (now >= stalled && chance(0.003)) stalled = now + uniform(1, 100);
                if (now < stalled) continue;
                const auto& box = inbox[kDevices[d]];
                for (auto it = box.begin(); it != box.end() && it->first <= now; ++it) actions.push_back(d);
            }
            std::shuffle(actions.begin(), actions.end(), random);
            for (const int action : actions) {
                std::optional<RequestQueue::Send> send;
                if (action == -1) {
                    std::vector<RequestQueue::Send> sendsNow;
                    std::vector<RequestQueue::Id> ended, released;
                    queue.poll(at(now), sendsNow, ended, released);
                    ASSERT_TRUE(released.empty());
                    for (const auto id : ended) {
                        ASSERT_EQ(open.erase(id), 1u);
                        expired.insert(id);
                        ++givenUp;
                    }
                    for (const auto& one : sendsNow) sent(one, now);
                } else if (action == -2) {
                    const std::uint32_t address = kDevices[uniform(0, 1)];
                    const int resend = std::vector<int>{40, 60, 100}[uniform(0, 2)];
                    const auto id =
                        queue.add(address, 1, "x", uniform(0, 3), milliseconds(resend), at(now), send);
                    resendMs[id] = resend;
                    open[id] = address;
                } else if (action == -3) {
                    if (!open.empty()) {
                        const auto it = std::next(open.begin(), uniform(0, static_cast<int>(open.size()) - 1));
                        if (queue.cancel(it->second, it->first)) open.erase(it);
                    }
                } else {
                    const std::uint32_t address = kDevices[action];
                    auto& box = inbox[address];
                    const int came = box.begin()->first;
                    const RequestQueue::Id request = box.begin()->second;
                    box.erase(box.begin());
                    if (came < now) ++readLate;
                    const auto found = queue.match(address, at(came), at(now), send);
                    if (found.id != 0) {
                        ASSERT_EQ(found.id, request) << "run " << run << " at " << now << ": "
                                                     << (found.late ? "late " : "") << "reply of another request";
                    }
                    if (found.late) {
                        EXPECT_EQ(expired.count(found.id), 1u);
                        ++lateReplies;
                    } else if (found.id != 0) {
                        ASSERT_EQ(open.erase(found.id), 1u) << "answered twice";
                        ++answers;
                        if (sends[found.id] > 1) ++resentAnswers;
                    }
                }
                if (send) sent(*send, now);
            }
        }
        EXPECT_TRUE(open.empty()) << "run " << run;
    }
    // The mix reaches every case.
    EXPECT_GT(answers, 1000);
    EXPECT_GT(resentAnswers, 100);
    EXPECT_GT(givenUp, 100);
    EXPECT_GT(lateReplies, 50);
    EXPECT_GT(readLate, 500);
}
