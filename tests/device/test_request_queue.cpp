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
};

/// Drives a queue on a clock of its own; every datagram the queue hands out,
/// from add, match or poll, is collected in m_sent.
class Queue : public ::testing::Test {
protected:
    RequestQueue::TimePoint at(int ms) const { return m_start + milliseconds(ms); }
    Step poll(int ms) {
        Step step;
        m_queue.poll(at(ms), step.sends, step.expired);
        m_sent.insert(m_sent.end(), step.sends.begin(), step.sends.end());
        return step;
    }
    RequestQueue::Id add(int ms, std::uint32_t address, const char* text, int priority = 2, int resendMs = 100) {
        std::optional<RequestQueue::Send> send;
        const auto id = m_queue.add(address, 11990, text, priority, milliseconds(resendMs), at(ms), send);
        if (send) m_sent.push_back(*send);
        return id;
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
        if (next) m_sent.push_back(*next);
        return found;
    }
    std::vector<RequestQueue::Id> sentIds() const {
        std::vector<RequestQueue::Id> ids;
        for (const auto& send : m_sent) ids.push_back(send.id);
        return ids;
    }

    RequestQueue m_queue;
    std::vector<RequestQueue::Send> m_sent;
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

    // A datagram that came after the drain but before the request left.
    add(600, kA, "third");
    poll(700);  // resent
    const auto fourth = add(710, kA, "fourth");
    ASSERT_EQ(poll(800).expired.size(), 1u);  // drains until 950
    ASSERT_EQ(poll(960).sends.size(), 1u);
    EXPECT_EQ(matchAny(961, kA, 955).id, 0u) << "came before the request left: not its answer";
    EXPECT_EQ(match(970, kA), fourth);
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

// Requests, replies, cancellations and polls at random times to a few
// devices: once the traffic stops, polling at each wake-up the queue asks
// for ends every request, each exactly once, with at most one in flight per
// device all along.
TEST_F(Queue, RandomTrafficEndsEveryRequestOnce) {
    std::mt19937 random(20261207);
    for (int run = 0; run < 300; ++run) {
        RequestQueue queue;
        std::set<RequestQueue::Id> open;
        std::map<std::uint32_t, RequestQueue::Id> inFlight;
        auto take = [&](const RequestQueue::Send& send) {
            ASSERT_EQ(inFlight.count(send.address) && inFlight[send.address] != send.id, false)
                << "two requests in flight to one device";
            inFlight[send.address] = send.id;
        };
        auto end = [&](std::uint32_t address, RequestQueue::Id id) {
            ASSERT_EQ(open.erase(id), 1u) << "ended twice or never queued";
            if (inFlight[address] == id) inFlight.erase(address);
        };
        auto pollAt = [&](RequestQueue::TimePoint now) {
            std::vector<RequestQueue::Send> sends;
            std::vector<RequestQueue::Id> expired;
            queue.poll(now, sends, expired);
            for (const auto id : expired)
                for (std::uint32_t a = kA; a < kA + 3; ++a)
                    if (inFlight.count(a) && inFlight[a] == id) end(a, id);
            for (const auto& s : sends) take(s);
        };
        int ms = 0;
        for (int step = 0; step < 200; ++step) {
            ms += std::uniform_int_distribution<int>(0, 40)(random);
            const auto now = at(ms);
            const std::uint32_t address = kA + std::uniform_int_distribution<std::uint32_t>(0, 2)(random);
            std::optional<RequestQueue::Send> send;
            switch (std::uniform_int_distribution<int>(0, 6)(random)) {
                case 0:
                case 1:
                    open.insert(queue.add(address, 1, "x", std::uniform_int_distribution<int>(0, 3)(random),
                                          milliseconds(60), now, send));
                    break;
                case 2:
                case 3: {
                    const auto found = queue.match(address, now, now, send);
                    if (found.late)
                        ASSERT_EQ(open.count(found.id), 0u) << "a late reply of a request still open";
                    else if (found.id != 0)
                        end(address, found.id);
                    break;
                }
                case 4:
                    if (!open.empty()) {
                        const auto id = *std::next(open.begin(), std::uniform_int_distribution<std::size_t>(
                                                                    0, open.size() - 1)(random));
                        for (std::uint32_t a = kA; a < kA + 3; ++a)
                            if (queue.cancel(a, id)) open.erase(id);
                    }
                    break;
                default:
                    pollAt(now);
            }
            if (send) take(*send);
        }
        for (int wakes = 0; !open.empty() && wakes < 10000; ++wakes) {
            const auto wake = queue.nextWake();
            ASSERT_NE(wake, RequestQueue::TimePoint::max()) << "run " << run << ": " << open.size() << " stranded";
            pollAt(wake);
        }
        ASSERT_TRUE(open.empty()) << "run " << run;
        EXPECT_TRUE(queue.empty());
    }
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
                    std::vector<RequestQueue::Id> ended;
                    queue.poll(at(now), sendsNow, ended);
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
