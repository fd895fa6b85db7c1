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
    /// A request whose caller waits for it (base resend time 100 ms unless
    /// given); 0 when it ends at once.
    RequestQueue::Id wait(int ms, std::uint32_t address, const char* text, RequestQueue::Caller caller,
                          int priority = 2, int resendMs = 100) {
        std::optional<RequestQueue::Send> send;
        const auto id =
            m_queue.add(address, 11990, text, priority, milliseconds(resendMs), at(ms), send, caller, true);
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
    /// The times a request with base resend time `resendMs` would get at `ms`.
    device::ReplyTimes times(int ms, std::uint32_t address, int resendMs = 1000) const {
        return m_queue.replyTimes(address, milliseconds(resendMs), at(ms));
    }
    /// Polls at the queue's next wake; returns when that was, in ms.
    int pollWhenDue() {
        const int ms =
            static_cast<int>(std::chrono::ceil<milliseconds>(m_queue.nextWake() - m_start).count());
        poll(ms);
        return ms;
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
    // Sooner after the answer than the resend went after the first send:
    // not known to be the resend's reply, which may still come.
    const auto duplicate = matchAny(230, kA);
    EXPECT_EQ(duplicate.id, 0u) << "the duplicate is not a reply";
    EXPECT_FALSE(duplicate.late) << "nor a late one: its request was answered";
    EXPECT_EQ(m_queue.nextWake(), at(380)) << "the drain goes on as long from the duplicate";
    EXPECT_EQ(matchAny(260, kA).id, 0u);
    EXPECT_EQ(m_queue.nextWake(), at(380)) << "an answered request draws one duplicate: a third datagram is none";
    EXPECT_TRUE(poll(379).sends.empty());
    const auto step = poll(380);
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
    // 120 ms after the first, the sends 100 ms apart: maybe not the reply to
    // the resend, which may still come.
    EXPECT_EQ(matchAny(330, kA).id, 0u) << "the late reply to the resend answers nothing";
    EXPECT_EQ(m_queue.nextWake(), at(480)) << "each reply extends the drain as long from its arrival";
    // A device that goes on sending holds up its queue no longer: the
    // request was sent twice, so two replies at most extend the drain.
    EXPECT_EQ(matchAny(350, kA).id, 0u);
    EXPECT_EQ(m_queue.nextWake(), at(480));
    EXPECT_TRUE(poll(479).sends.empty());
    const auto step = poll(480);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, next);
    EXPECT_EQ(match(481, kA), next);
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
    // Each send has its reply, as far apart as the sends: none can follow.
    const auto step = poll(3501);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, next);
    EXPECT_EQ(match(3510, kA), next);
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
    // another device: A's late reply has backed its resend time off).
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

// The property panel, opened just after the gong's requests to a loudspeaker
// that answers each, was let go 2R + 50 ms after its call, unsent, and told
// the loudspeaker was offline. It waits its turn behind another caller's
// requests as long as the device answers, and is then sent.
TEST_F(Queue, AWaitingRequestBehindAnotherCallersToAnAnsweringDeviceWaitsItsTurn) {
    const auto gong = ask(0, kA, "set ch 1", kGong, 1000);
    const auto volume = ask(0, kA, "set vol 90", kGong, 1000);
    const auto panel = wait(40, kA, "get name", kPanel);
    ASSERT_NE(panel, 0u);
    ASSERT_EQ(match(90, kA), gong);  // the volume leaves
    EXPECT_TRUE(poll(290).released.empty()) << "past 2R + 50 ms from its call: it waits on";
    EXPECT_EQ(match(291, kA), volume);
    EXPECT_EQ(sentAt(panel), 291) << "its turn";
    EXPECT_EQ(match(300, kA), panel);
    EXPECT_TRUE(m_queue.empty());
    EXPECT_TRUE(m_released.empty());
}

// A waiting request's own time counts from its own first send, whoever's
// requests it queued behind: it ends by its answer or its own give-up.
TEST_F(Queue, AWaitingRequestEndsByItsOwnGiveUpAfterItsOwnFirstSend) {
    const auto first = ask(0, kA, "set name x", kPanel);
    const auto second = ask(0, kA, "set zone 3", kPanel);
    const auto read = wait(0, kA, "get name", kPanel);
    const auto other = wait(0, kA, "get vol", kGong);
    ASSERT_EQ(match(90, kA), first);
    ASSERT_EQ(match(180, kA), second);
    EXPECT_EQ(sentAt(read), 180);
    EXPECT_TRUE(poll(250).released.empty()) << "another caller's waits too";
    EXPECT_EQ(match(270, kA), read);
    EXPECT_EQ(sentAt(other), 270);
    EXPECT_EQ(match(280, kA), other);

    // Behind its own caller's request given up, and the drain after it: sent
    // in turn, and given up at its own time.
    const auto lost = ask(300, kB, "set vol 1", kPanel);
    const auto after = wait(310, kB, "get vol", kPanel);
    poll(400);                                 // resent
    ASSERT_EQ(poll(500).expired.size(), 1u);   // drains until 650
    EXPECT_TRUE(poll(649).released.empty());
    ASSERT_EQ(poll(650).sends.size(), 1u);
    EXPECT_EQ(sentAt(after), 650);
    poll(750);  // resent
    const auto step = poll(850);
    EXPECT_EQ(step.expired, std::vector<RequestQueue::Id>{after}) << "its own full time: given up, not let go";
    EXPECT_TRUE(m_released.empty());
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

// A waiting request that left late, behind another caller's, was let go
// in flight at 2R + 50 ms from its call, and its answer, a moment later,
// went to nobody. Its caller now waits for it.
TEST_F(Queue, AWaitingRequestInFlightIsWaitedForUntilItsAnswer) {
    const auto gong = ask(0, kA, "set ch 1", kGong);
    const auto panel = wait(0, kA, "get name", kPanel);
    const auto next = ask(10, kA, "set vol 90", kGong);
    ASSERT_EQ(match(90, kA), gong);
    EXPECT_EQ(sentAt(panel), 90);
    EXPECT_TRUE(poll(250).released.empty());
    EXPECT_EQ(sentAt(next), -1) << "the device is still the panel's request's";
    EXPECT_EQ(match(260, kA), panel);
    EXPECT_EQ(sentAt(next), 260);
    EXPECT_TRUE(m_released.empty());
}

// ---- learnt resend times --------------------------------------------------------

namespace {

/// A chain of requests to one device that answers every send exactly
/// `lateMs` late, the next request added as each is answered; at a moment
/// when both a reply and a resend are due, the reply is handed over first
/// or the queue is polled first. Records the sends of each request and any
/// datagram taken for another request's reply.
struct Chain {
    std::map<RequestQueue::Id, int> sends;
    int answered = 0;
    int wrong = 0;
    int endMs = 0;
};

Chain chainToALateDevice(int lateMs, int resendMs, bool replyFirst, int requests) {
    RequestQueue queue;
    const auto start = RequestQueue::Clock::now();
    const auto at = [&](int ms) { return start + milliseconds(ms); };
    std::multimap<int, RequestQueue::Id> inbox;  // by arrival, the request each send was of
    Chain chain;
    int asked = 0;
    const auto sent = [&](const RequestQueue::Send& send, int ms) {
        ++chain.sends[send.id];
        inbox.emplace(ms + lateMs, send.id);
    };
    const auto ask = [&](int ms) {
        std::optional<RequestQueue::Send> send;
        queue.add(kA, 1, "x", 2, milliseconds(resendMs), at(ms), send);
        ++asked;
        if (send) sent(*send, ms);
    };
    ask(0);
    for (int ms = 0; chain.answered < requests || !inbox.empty() || !queue.empty(); ++ms) {
        if (ms > 200 * lateMs + 100000) break;
        const auto pollNow = [&] {
            if (queue.nextWake() > at(ms)) return;
            std::vector<RequestQueue::Send> sends;
            std::vector<RequestQueue::Id> expired, released;
            queue.poll(at(ms), sends, expired, released);
            for (const auto& one : sends) sent(one, ms);
        };
        const auto deliver = [&] {
            while (!inbox.empty() && inbox.begin()->first == ms) {
                const RequestQueue::Id of = inbox.begin()->second;
                inbox.erase(inbox.begin());
                std::optional<RequestQueue::Send> next;
                const auto found = queue.match(kA, at(ms), at(ms), next);
                if (found.id != 0 && found.id != of) ++chain.wrong;
                if (next) sent(*next, ms);
                if (found.id == 0 || found.late) continue;
                ++chain.answered;
                if (asked < requests) ask(ms);
            }
        };
        if (replyFirst) {
            deliver();
            pollNow();
        } else {
            pollNow();
            deliver();
        }
        chain.endMs = ms;
    }
    return chain;
}

}  // namespace

// Every loudspeaker answering exactly as late as the resend time: the reply
// to the first send and the resend come at the same moment, and which the
// transport sees first was a race. Either way every reply answers its own
// request, and once the lateness is learnt each request goes once, its
// reply a granularity's margin before its resend time.
TEST_F(Queue, ADeviceAsLateAsTheResendTimeIsLearntWhicheverComesFirst) {
    for (const bool replyFirst : {true, false}) {
        const Chain chain = chainToALateDevice(1000, 1000, replyFirst, 30);
        EXPECT_EQ(chain.wrong, 0) << replyFirst;
        EXPECT_EQ(chain.answered, 30) << replyFirst;
        EXPECT_EQ(chain.sends.begin()->second, replyFirst ? 1 : 2)
            << "the first request, with nothing learnt";
        int resent = 0;
        for (const auto& [id, sends] : chain.sends) resent += sends > 1;
        EXPECT_EQ(resent, replyFirst ? 0 : 1);
        EXPECT_LT(chain.endMs, 30 * 1000 + 3000)
            << replyFirst << ": one reply time a request, the first aside";
    }
}

// The lateness taken from replies to single sends only (Karn). A first
// datagram lost to a loudspeaker 1.2 s late: the reply to its resend came
// after the give-up and was timed from the first send, 2.2 s, beside 1.2 s
// learnt by one that lost nothing. Now neither learns anything from a
// resent request; both back off alike, and the next request, sent once,
// teaches both the same reply time.
TEST_F(Queue, TheReplyToAResendTeachesNothingWhetherTheFirstSendWasLostOrNot) {
    const auto lostFirst = add(0, kA, "get vol", 2, 1000);
    const auto lostNothing = add(0, kB, "get vol", 2, 1000);
    poll(1000);  // both resent
    ASSERT_EQ(match(1200, kB), lostNothing) << "the reply to its first send";
    ASSERT_EQ(poll(2000).expired, std::vector<RequestQueue::Id>{lostFirst}) << "nothing heard from A";
    EXPECT_EQ(late(2200, kA), lostFirst) << "the reply to A's resend";
    EXPECT_EQ(matchAny(2200, kB).id, 0u) << "the reply to B's resend";
    for (const auto address : {kA, kB}) {
        const auto backedOff = times(2200, address);
        EXPECT_EQ(backedOff.resend, milliseconds(2000)) << "backed off; not 2.2 s + R/4 learnt";
        EXPECT_EQ(backedOff.giveUp, milliseconds(6000));
    }

    // The next request goes once: not resent at the base time, and its
    // answer gives the reply time.
    EXPECT_EQ(m_queue.drainEnd(kA), at(3700)) << "the reply to A's first send may still come";
    EXPECT_EQ(m_queue.drainEnd(kB), at(2200)) << "B's two sends have their replies";
    const auto nextA = add(3700, kA, "set ch 1", 2, 1000);
    const auto nextB = add(3700, kB, "set ch 1", 2, 1000);
    EXPECT_TRUE(poll(4700).sends.empty());
    EXPECT_EQ(match(4900, kA), nextA);
    EXPECT_EQ(match(4900, kB), nextB);
    EXPECT_EQ(times(4900, kA).resend, milliseconds(3000)) << "1.2 s + 4 x 0.6 s, at the bound";
    EXPECT_EQ(times(4900, kB).resend, milliseconds(3000));
    EXPECT_EQ(m_sent.size(), 6u);
}

// Layers above waited a fixed 2.1 s for a loudspeaker whose requests the
// transport gave up only after up to 5.9 s: one 2.1-2.9 s late was counted
// silent while its request was still out. replyTimes() tells the figures
// the next request gets, with what was learnt, and the request keeps to them.
TEST_F(Queue, ReplyTimesTellWhatTheNextRequestGetsAndItKeepsToThem) {
    const auto fresh = times(0, kA);
    EXPECT_EQ(fresh.resend, milliseconds(1000));
    EXPECT_EQ(fresh.giveUpUnheard, milliseconds(2000));
    EXPECT_EQ(fresh.giveUp, milliseconds(3000)) << "a third send to a device heard from meanwhile";
    EXPECT_EQ(fresh.lateReply, milliseconds(1500));

    // A loudspeaker 1.9 s late: its first request is resent, the next ones
    // go once.
    add(0, kA, "get vol", 2, 1000);
    poll(1000);
    ASSERT_NE(match(1900, kA), 0u);
    EXPECT_EQ(matchAny(2900, kA).id, 0u) << "the reply to the resend";
    EXPECT_EQ(m_queue.drainEnd(kA), at(2900)) << "a reply to each send: nothing left to drain";
    int t = 4400;
    for (int i = 0; i < 20; ++i, t += 1900) {
        add(t, kA, "get vol", 2, 1000);
        ASSERT_NE(match(t + 1900, kA), 0u) << i;
    }
    EXPECT_EQ(m_sent.size(), 22u) << "each sent once after the first";
    const auto learnt = times(t, kA);
    EXPECT_EQ(learnt.resend, milliseconds(2000));
    EXPECT_EQ(learnt.giveUpUnheard, milliseconds(4000));
    EXPECT_EQ(learnt.giveUp, milliseconds(6000));
    EXPECT_EQ(learnt.lateReply, milliseconds(3000));
    EXPECT_EQ(times(t, kA, 500).resend, milliseconds(1500)) << "three of a shorter base at the most";

    // It falls silent: its next request keeps to the figures told.
    const auto silent = add(t, kA, "get vol", 2, 1000);
    EXPECT_TRUE(poll(t + 1999).sends.empty());
    EXPECT_EQ(poll(t + 2000).sends.size(), 1u);
    EXPECT_TRUE(poll(t + 3999).expired.empty()) << "a fixed 2.1 s wait counted it silent here";
    EXPECT_EQ(poll(t + 4000).expired, std::vector<RequestQueue::Id>{silent});
    EXPECT_EQ(m_queue.drainEnd(kA), at(t + 4000 + 3000)) << "its late reply may come this long";
}

// Two datagrams lost in a row to a loudspeaker that answers (its state
// packets coming all the while) gave its request up: its caller was told it
// was offline, and the property panel closed. A request to a device heard
// from since its first send is sent a third time and given up only after
// it; one heard from by nothing is given up after two sends, as before.
TEST_F(Queue, TwoLostDatagramsToADeviceHeardFromMeanwhileAreFollowedByAThirdSend) {
    const auto answered = ask(0, kA, "get name", kGong, 1000);
    m_queue.heard(kA, at(500));  // a state packet, taken by another handler
    poll(1000);                  // resent
    auto step = poll(2000);
    EXPECT_TRUE(step.expired.empty());
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_TRUE(step.sends[0].resend);
    EXPECT_EQ(match(2005, kA), answered);
    EXPECT_EQ(m_sent.size(), 3u);

    // Heard from before the request left only: given up after two sends.
    const auto unheard = ask(3000, kB, "get name", kGong, 1000);
    m_queue.heard(kB, at(2999));  // handed over late
    poll(4000);
    EXPECT_EQ(poll(5000).expired, std::vector<RequestQueue::Id>{unheard});

    // Heard from, yet silent to all three sends: given up three resend
    // times after the first, as replyTimes() says, and its late reply still
    // comes within the drain.
    constexpr std::uint32_t kC = kA + 7;
    const auto quiet = ask(5000, kC, "get name", kGong, 1000);
    EXPECT_EQ(times(5000, kC).giveUp, milliseconds(3000));
    poll(6000);
    m_queue.heard(kC, at(6500));
    EXPECT_EQ(poll(7000).sends.size(), 1u);
    EXPECT_TRUE(poll(7999).expired.empty());
    EXPECT_EQ(poll(8000).expired, std::vector<RequestQueue::Id>{quiet});
    EXPECT_EQ(m_queue.drainEnd(kC), at(9500));
    EXPECT_EQ(late(9400, kC), quiet);
}

// A loudspeaker 1.2 s late to the check made as it is found: the check
// resent, answered, and the address held for its other reply until 3.7 s,
// and an alarm pressed meanwhile asked its port that late. Once each send
// has its reply, as far apart as the sends went, the next request goes;
// until the last of them, and for replies spaced otherwise, it waits.
TEST_F(Queue, TheDrainEndsOnceEachSendHasItsReplyAndNotBefore) {
    const auto checked = add(0, kA, "get vol", 2, 1000);
    poll(1000);  // resent
    ASSERT_EQ(match(1200, kA), checked);
    const auto port = add(1300, kA, "get state", 2, 3000);
    EXPECT_EQ(m_sent.size(), 2u);
    EXPECT_EQ(matchAny(2200, kA).id, 0u) << "the reply to the resend";
    const auto step = poll(2200);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, port);
    EXPECT_EQ(match(3400, kA), port);

    // Sent three times (the device heard from meanwhile): two replies as
    // far apart as two of the sends leave the third send's to come.
    const auto thrice = add(4000, kB, "get name", 2, 1000);
    m_queue.heard(kB, at(4500));
    poll(5000);
    ASSERT_EQ(poll(6000).sends.size(), 1u);
    ASSERT_EQ(match(6100, kB), thrice);
    const auto next = add(6100, kB, "set ch 1", 2, 1000);
    EXPECT_EQ(matchAny(7100, kB).id, 0u);
    EXPECT_TRUE(poll(7100).sends.empty()) << "one reply still owed";
    EXPECT_EQ(matchAny(8100, kB).id, 0u);
    const auto last = poll(8100);
    ASSERT_EQ(last.sends.size(), 1u) << "three replies, as far apart as the three sends";
    EXPECT_EQ(last.sends[0].id, next);
}

// Three callers waited for requests to a loudspeaker 800 ms late that
// answered each: the third was let go 2R + 50 ms after its call, before its
// request even left, and told the loudspeaker was offline. Each waits its
// turn and is answered.
TEST_F(Queue, ThreeCallersWaitingForALateDeviceThatAnswersEachAreEachAnswered) {
    std::vector<RequestQueue::Id> ids;
    for (RequestQueue::Caller caller = 1; caller <= 3; ++caller)
        ids.push_back(wait(static_cast<int>(caller), kA, "get name", caller, 2, 1000));
    EXPECT_EQ(sentIds(), std::vector<RequestQueue::Id>{ids[0]});
    poll(800);
    ASSERT_EQ(match(801, kA), ids[0]);
    EXPECT_EQ(sentAt(ids[1]), 801);
    EXPECT_TRUE(poll(1601).released.empty());
    ASSERT_EQ(match(1601, kA), ids[1]);
    EXPECT_TRUE(poll(2053).released.empty()) << "2R + 50 ms after the third's call";
    EXPECT_EQ(match(2401, kA), ids[2]);
    EXPECT_EQ(sentIds(), ids) << "each sent once";
    EXPECT_TRUE(m_released.empty());
}

// A loudspeaker that answers promptly has the first datagram of a request
// lost, or held back (a queue on the way, a switch busy for a moment): the
// prompt answer to the resend cannot tell which. Were the address to drain
// only briefly, a reply to the first send held back 2.4 resend times would
// answer the next request (seen in the alarm bench: that loudspeaker then
// never took the next alarm's switch). The address drains as after a
// give-up at the request's time, whatever was learnt, and such a reply
// comes inside the drain and answers nothing.
TEST_F(Queue, AnAnswerToAResentRequestDrainsAsAGiveUpAtItsTimeWhateverWasLearnt) {
    for (int i = 0; i < 5; ++i) {
        add(i * 10, kA, "get vol", 2, 1000);
        ASSERT_NE(match(i * 10 + 3, kA), 0u);
    }
    const auto volume = ask(100, kA, "set vol 50", kGong, 1000);  // its first reply held back
    const auto channel = ask(100, kA, "set ch 0", kGong, 1000);
    poll(1100);  // resent
    ASSERT_EQ(match(1103, kA), volume) << "the prompt reply to the resend";
    EXPECT_EQ(m_queue.drainEnd(kA), at(3600)) << "the give-up at 2.1 s, a resend time and a half";
    EXPECT_EQ(matchAny(2500, kA).id, 0u) << "the reply to the first send, held back, answers nothing";
    const int left = pollWhenDue();
    EXPECT_EQ(sentAt(channel), left);
    EXPECT_EQ(left, 4000) << "the held-back reply extended the drain";
    EXPECT_EQ(match(left + 3, kA), channel);
}

// A device later than three of a request's base: the answer to the first
// send comes after the resend and fits that first send; the reply to the
// resend comes about as much later as the resend left. The address drains
// until then, not as long as after a give-up at the request's time.
TEST_F(Queue, AnAnswerThatFitsTheFirstSendDrainsUntilTheOtherReplyIsDue) {
    int t = 0;
    for (int i = 0; i < 16; ++i, t += 1600) {
        add(t, kA, "get vol", 2, 2000);
        ASSERT_NE(match(t + 1600, kA), 0u);
    }
    const auto shortOne = add(t, kA, "get vol", 2, 500);
    poll(t + 1500);  // resent: three of 500 ms at the most
    ASSERT_EQ(match(t + 1600, kA), shortOne);
    EXPECT_EQ(m_queue.drainEnd(kA), at(t + 3150))
        << "the answer, the time between the sends and the spread (as after a give-up: 5.25 s)";
    EXPECT_EQ(matchAny(t + 3100, kA).id, 0u) << "the reply to the resend";
}

// A loudspeaker answered 2.4 s late once, then nothing was asked of it for
// a while; at the next alarm its first datagram was lost: it was switched at
// 2.66 s and given the alarm's volume at 9.3 s, the one late reply holding
// with no time limit. The back-off after it fades with quiet, and the alarm
// then goes as for a loudspeaker never late.
TEST_F(Queue, OneLateReplyIsForgottenWithQuiet) {
    m_queue.setAgeing(std::chrono::seconds(10));
    for (int i = 0; i < 5; ++i) {
        add(i * 10, kA, "get vol", 2, 1000);
        ASSERT_NE(match(i * 10 + 3, kA), 0u);
    }
    const auto once = add(100, kA, "get vol", 2, 1000);
    poll(1100);
    ASSERT_EQ(poll(2100).expired, std::vector<RequestQueue::Id>{once});
    EXPECT_EQ(late(2500, kA), once);
    EXPECT_EQ(times(2500, kA).resend, milliseconds(2000)) << "backed off";
    EXPECT_EQ(times(12499, kA).resend, milliseconds(2000));
    EXPECT_EQ(times(12500, kA).resend, milliseconds(1000)) << "faded after an ageing period of quiet";

    const auto channel = ask(60000, kA, "set ch 1", kGong, 1000);  // lost
    const auto volume = ask(60000, kA, "set vol 90", kGong, 1000);
    EXPECT_TRUE(poll(60999).sends.empty());
    poll(61000);  // resent at 1 s, as to a loudspeaker never late
    ASSERT_EQ(match(61003, kA), channel);
    const int left = pollWhenDue();
    EXPECT_EQ(sentAt(volume), left);
    EXPECT_EQ(left, 63500) << "after the drain of a resent request, as for a loudspeaker never late";
}

// Waiting requests of callers of their own beside requests nobody waits
// for, to devices that lose, answer late or go silent for a while: polled
// on time, each waiting request in flight ends (answered or given up)
// within the give-up replyTimes() told as it left; one is let go only while
// queued, unsent, behind another caller's request to a device that counts as
// not answering (given up since it was last heard from); requests nobody
// waits for are never let go; every request ends once; never two in flight
// to one device; nothing is stranded.
TEST_F(Queue, RandomWaitingRequestsEndByTheirOwnGiveUpOrWhileTheirDeviceIsSilent) {
    std::mt19937 random(20261210);
    const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    constexpr std::uint32_t kDevices[] = {kA, kB};
    constexpr int kResend = 60;
    int waitedAnswers = 0, letGo = 0, endedAtOnce = 0, givenUp = 0;
    for (int run = 0; run < 100; ++run) {
        RequestQueue queue;
        std::map<RequestQueue::Id, int> deadline;  // waiting requests in flight
        std::set<RequestQueue::Id> open, waiting;
        std::map<RequestQueue::Id, std::uint32_t> addressOf;
        std::map<std::uint32_t, RequestQueue::Id> inFlight;
        std::map<std::uint32_t, std::multimap<int, RequestQueue::Id>> inbox;
        std::map<std::uint32_t, int> silentUntil;
        std::map<std::uint32_t, bool> countedSilent;  // a give-up since the last datagram
        std::map<RequestQueue::Id, int> lateness;     // of a request's replies, to within 2 ms
        RequestQueue::Caller nextCaller = 100;
        const auto ended = [&](std::uint32_t address, RequestQueue::Id id) {
            if (inFlight.count(address) && inFlight[address] == id) inFlight.erase(address);
            ASSERT_EQ(open.erase(id), 1u) << "ended twice";
            deadline.erase(id);
        };
        const auto sent = [&](const RequestQueue::Send& send, int now) {
            if (!send.resend) {
                ASSERT_FALSE(inFlight.count(send.address)) << "two in flight to one device";
                inFlight[send.address] = send.id;
                if (waiting.count(send.id)) {
                    // Each send follows the last by the resend time, and may
                    // go up to a millisecond late here (polled each whole one).
                    const auto giveUp = queue.replyTimes(send.address, milliseconds(kResend), at(now)).giveUp;
                    deadline[send.id] = now + static_cast<int>(giveUp.count()) + 3 + 1;
                }
            }
            if (!lateness.count(send.id))
                lateness[send.id] = chance(0.5) ? uniform(1, 10) : uniform(1, kResend * 5 / 2 - 3);
            if (now < silentUntil[send.address] || chance(0.2)) return;
            inbox[send.address].insert({now + lateness[send.id] + uniform(0, 2), send.id});
        };
        for (int now = 0; now < 4000 || !open.empty(); ++now) {
            ASSERT_LT(now, 60000) << "run " << run << ": stranded";
            std::optional<RequestQueue::Send> send;
            // On time, before anything else of this millisecond.
            if (queue.nextWake() <= at(now)) {
                std::vector<RequestQueue::Send> sends;
                std::vector<RequestQueue::Id> expired, released;
                queue.poll(at(now), sends, expired, released);
                for (const auto id : expired) {
                    countedSilent[addressOf[id]] = true;
                    ended(addressOf[id], id);
                    ++givenUp;
                }
                for (const auto id : released) {
                    ASSERT_EQ(waiting.count(id), 1u) << "a request nobody waits for was let go";
                    const auto flying = inFlight.find(addressOf[id]);
                    ASSERT_TRUE(flying == inFlight.end() || flying->second != id) << "let go in flight";
                    ASSERT_TRUE(countedSilent[addressOf[id]]) << "let go behind a device that answers";
                    ended(addressOf[id], id);
                    ++letGo;
                }
                for (const auto& one : sends) sent(one, now);
            }
            for (const auto& [id, end] : deadline)
                ASSERT_GT(end, now) << "run " << run << ": waiting request " << id
                                    << " kept past its give-up";
            for (const auto address : kDevices) {
                auto& box = inbox[address];
                while (!box.empty() && box.begin()->first <= now) {
                    const auto reply = box.begin()->second;
                    box.erase(box.begin());
                    countedSilent[address] = false;
                    const auto found = queue.match(address, at(now), at(now), send);
                    if (found.id != 0) {
                        ASSERT_EQ(found.id, reply) << "a reply of another request";
                    }
                    if (found.id != 0 && !found.late) {
                        if (waiting.count(found.id)) ++waitedAnswers;
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
                const RequestQueue::Caller caller = waits ? nextCaller++ : 1;
                const auto id = queue.add(address, 1, "x", uniform(1, 3), milliseconds(kResend), at(now),
                                          send, caller, waits);
                if (id == 0) {
                    ASSERT_TRUE(waits);
                    ASSERT_TRUE(countedSilent[address]) << "ended at once before a device that answers";
                    ++endedAtOnce;
                } else {
                    open.insert(id);
                    addressOf[id] = address;
                    if (waits) waiting.insert(id);
                }
                if (send) sent(*send, now);
            }
        }
        EXPECT_TRUE(queue.empty()) << "run " << run;
    }
    // The mix reaches every case.
    EXPECT_GT(waitedAnswers, 300);
    EXPECT_GT(letGo, 100);
    EXPECT_GT(endedAtOnce, 100);
    EXPECT_GT(givenUp, 300);
}

// Requests of any priority and resend time to two devices; each send is
// lost or answered up to 2.5 resend times late, the replies to one request's
// sends about as late as each other (within 2 ms), the latenesses of
// different requests unrelated, prompt ones and late ones mixed; the sender
// polls late, a device's replies are now and then read late (in the order
// they came), callers withdraw queued requests. Whatever the interleaving, a
// datagram answers its own request or none, and a late reply is reported for
// its own request only.
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
        std::map<RequestQueue::Id, int> lateness;  // of a request's replies, to within 2 ms
        const auto sent = [&](const RequestQueue::Send& send, int now) {
            ++sends[send.id];
            if (!lateness.count(send.id))
                lateness[send.id] = chance(0.4) ? uniform(1, 5) : uniform(1, resendMs[send.id] * 5 / 2 - 3);
            if (chance(0.25)) return;  // lost
            inbox[send.address].insert({now + lateness[send.id] + uniform(0, 2), send.id});
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

// The quit's give-back to a loudspeaker that answered 700 ms late: the
// first datagram of its volume lost. With what was learnt the volume was
// resent after 1.75 s and the switch back held by the drain until 6.1 s
// after the volume's first send, past the quit's bound; at the end the
// volume is resent after the base and the switch follows its answer at
// once, and a request given up lets the next one go with its late reply.
TEST_F(Queue, AtTheEndRequestsKeepTheirBaseAndFollowTheirAnswerAtOnce) {
    for (int i = 0; i < 2; ++i) {
        add(i * 1000, kA, "get vol", 2, 1000);
        ASSERT_NE(match(i * 1000 + 700, kA), 0u);
    }
    ASSERT_GT(times(2000, kA).resend, milliseconds(1600)) << "the lateness is learnt";
    m_queue.windUp();
    EXPECT_EQ(times(2000, kA).resend, milliseconds(1000));
    const auto volume = ask(2000, kA, "set vol -9", kGong, 1000);
    const auto channel = ask(2000, kA, "set ch 0", kGong, 1000);
    EXPECT_EQ(pollWhenDue(), 3000) << "resent after the base resend time";
    ASSERT_EQ(match(3700, kA), volume);
    EXPECT_EQ(sentAt(channel), 3700) << "no drain holds the switch back";
    EXPECT_EQ(match(4400, kA), channel);

    const auto lost = ask(5000, kA, "set vol -9", kGong, 1000);
    const auto next = ask(5000, kA, "set ch 0", kGong, 1000);
    poll(6000);  // resent
    ASSERT_EQ(poll(7000).expired, std::vector<RequestQueue::Id>{lost});
    EXPECT_EQ(late(7300, kA), lost);
    EXPECT_EQ(pollWhenDue(), 7300);
    EXPECT_EQ(sentAt(next), 7300) << "the late reply ends the wait";
}

// A read its caller resends only after 3 s (so that a late device answers its
// first send) lost its first datagram: the resend's answer drains the address
// as the device's own requests would, and the switch queued behind it leaves
// 2.5 s after that answer, not 7.5 s.
TEST_F(Queue, AResendAnsweredOfALongerResendTimeDrainsOnTheDevicesOwn) {
    add(0, kA, "get state", 2, 3000);
    poll(3000);  // resent
    const auto next = add(3005, kA, "set ch 1", 2, 1000);
    ASSERT_NE(match(3010, kA), 0u);
    EXPECT_EQ(m_queue.nextWake(), at(5500)) << "as a request of a second's resend time given up at its time";
    EXPECT_TRUE(poll(5499).sends.empty());
    const auto step = poll(5500);
    ASSERT_EQ(step.sends.size(), 1u);
    EXPECT_EQ(step.sends[0].id, next);
}
