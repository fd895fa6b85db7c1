#include <gtest/gtest.h>

#include "device/reply_estimate.h"

using device::ReplyEstimate;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

constexpr milliseconds kBase{1000};

/// An estimate on a clock of its own, its ageing period a test's choice.
class Estimate : public ::testing::Test {
protected:
    ReplyEstimate::TimePoint at(int ms) const { return m_start + milliseconds(ms); }
    milliseconds resend(int ms, milliseconds base = kBase) const {
        return std::chrono::ceil<milliseconds>(m_estimate.resendTime(base, at(ms)));
    }
    void sample(int ms, int replyMs) { m_estimate.sample(milliseconds(replyMs), at(ms)); }

    const ReplyEstimate::TimePoint m_start = ReplyEstimate::Clock::now();
    ReplyEstimate m_estimate{seconds(30)};
};

}  // namespace

// The smoothed time and its variation as RFC 6298 keeps them: the variation
// is moved by the distance from the smoothed time as it was before this
// reply, the smoothed time after. A device whose replies vary keeps a wide
// margin; one that answers steadily comes down to its reply time plus the
// granularity, and never below the base.
TEST_F(Estimate, FollowsTheSmoothedReplyTimeAndItsVariationWithinTheBase) {
    EXPECT_EQ(resend(0), kBase) << "nothing learnt: the base";
    EXPECT_FALSE(m_estimate.fits(milliseconds(0), kBase, at(0))) << "nothing fits an estimate of nothing";
    sample(0, 400);
    EXPECT_EQ(m_estimate.smoothed(at(0)), std::optional<ReplyEstimate::Duration>(milliseconds(400)));
    EXPECT_EQ(resend(0), milliseconds(1200)) << "400 + 4 x 200";
    sample(10, 800);
    EXPECT_EQ(m_estimate.variation(at(10)), milliseconds(250)) << "3/4 x 200 + 1/4 x |400 - 800|, not |450 - 800|";
    EXPECT_EQ(m_estimate.smoothed(at(10)), std::optional<ReplyEstimate::Duration>(milliseconds(450)));
    EXPECT_EQ(resend(10), milliseconds(1450));

    // A device steadily 1.9 s late: its resend time comes down to the
    // lateness plus the granularity, a tenth of the base, and no further.
    for (int i = 0; i < 60; ++i) sample(20 + i, 1900);
    EXPECT_EQ(resend(100), milliseconds(2000));
    EXPECT_EQ(resend(100, milliseconds(2000)), milliseconds(2100));
    EXPECT_EQ(resend(100, milliseconds(500)), milliseconds(1500)) << "three of a short base at the most";
    EXPECT_TRUE(m_estimate.fits(milliseconds(1850), kBase, at(100)));
    EXPECT_FALSE(m_estimate.fits(milliseconds(1700), kBase, at(100))) << "much sooner than it ever answers";
    EXPECT_FALSE(m_estimate.fits(milliseconds(2050), kBase, at(100)));

    // A prompt one: the base, whatever the estimate.
    for (int i = 0; i < 60; ++i) sample(200 + i, 5);
    EXPECT_EQ(resend(300), kBase);
}

// Karn: the answer to a request sent more than once teaches no reply time,
// it only backs the resend time off. The reply to the resend after a lost
// first datagram to a device 1.2 s late was once timed from the first send
// (2.2 s learnt); here it is not timed at all. The back-off doubles up to
// three times the base, and the next request sent once and answered takes
// it back, with its reply time learnt.
TEST_F(Estimate, AResentRequestTeachesNothingButBacksOffUntilARequestSentOnceIsAnswered) {
    for (int i = 0; i < 10; ++i) sample(i, 10);
    EXPECT_EQ(resend(10), kBase);
    m_estimate.backOff(at(2200));  // the lost first datagram's request, answered 2.2 s after its first send
    EXPECT_EQ(m_estimate.smoothed(at(2200)), m_estimate.smoothed(at(10))) << "nothing learnt from it";
    EXPECT_EQ(resend(2200), 2 * kBase);
    m_estimate.backOff(at(4000));
    EXPECT_EQ(resend(4000), 3 * kBase) << "doubled again, within the bound";
    m_estimate.backOff(at(7000));
    EXPECT_EQ(resend(7000), 3 * kBase);
    EXPECT_EQ(m_estimate.backOffs(at(7000)), 2) << "no doubling beyond the bound is kept to age away";

    sample(8200, 1200);  // sent once, answered 1.2 s late
    EXPECT_EQ(m_estimate.backOffs(at(8200)), 0);
    EXPECT_GT(*m_estimate.smoothed(at(8200)), milliseconds(10));
    EXPECT_LT(*m_estimate.smoothed(at(8200)), milliseconds(1200)) << "one reply time among the others";
    EXPECT_FALSE(m_estimate.fits(milliseconds(2200), kBase, at(8200)));
}

// A loudspeaker answered late (its requests resent, the resend time backed
// off twice) and then had nothing asked for a while: its next alarm
// waited the late reply's figures (switched at 2.66 s, volume at 9.3 s).
// The estimate fades with quiet: per ageing period the smoothed time and
// variation halve and a back-off goes; anything new starts the period
// again. A prompt answer after the fading does not bring the old lateness
// back.
TEST_F(Estimate, AgesWithQuietAndFadesBackToTheBase) {
    ReplyEstimate estimate(seconds(10));
    const auto resendAt = [&](int s) {
        return std::chrono::ceil<milliseconds>(estimate.resendTime(kBase, at(s * 1000)));
    };
    for (int i = 0; i < 20; ++i) estimate.sample(milliseconds(1600), at(i));
    estimate.backOff(at(1000));
    estimate.backOff(at(1000));
    EXPECT_EQ(resendAt(1), 3 * kBase);
    EXPECT_EQ(resendAt(10), 3 * kBase) << "within the period: unchanged";
    EXPECT_EQ(resendAt(11), 2 * kBase) << "one period: 800 + 100, within the base, doubled once";
    EXPECT_EQ(resendAt(21), kBase) << "two: 400 + 100, the base";
    EXPECT_EQ(estimate.backOffs(at(21000)), 0);
    EXPECT_EQ(estimate.smoothed(at(41000)), std::optional<ReplyEstimate::Duration>(milliseconds(100)));

    // Renewed: the period starts again from the reply.
    estimate.sample(milliseconds(5), at(41000));
    EXPECT_EQ(resendAt(41), kBase) << "a prompt answer after the fading keeps the base";
    const auto smoothed = *estimate.smoothed(at(41000));
    EXPECT_EQ(estimate.smoothed(at(50999)), std::optional<ReplyEstimate::Duration>(smoothed));
    EXPECT_EQ(estimate.smoothed(at(51000)), std::optional<ReplyEstimate::Duration>(smoothed / 2));

    // A back-off alone renews it too: a device whose every request needs a
    // resend keeps its backed-off time.
    estimate.backOff(at(60000));
    EXPECT_EQ(resendAt(65), 2 * kBase);
    estimate.backOff(at(69000));
    EXPECT_EQ(resendAt(78), 3 * kBase);
    EXPECT_EQ(resendAt(79), 2 * kBase);
    EXPECT_EQ(resendAt(89), kBase);
}

// A device exactly as late as its resend time: whichever comes first, the
// reply or the resend, the estimate ends with the replies sent once and a
// granularity's margin before the resend.
TEST_F(Estimate, ADeviceAsLateAsTheBaseEndsWithItsRepliesBeforeTheResend) {
    // The reply came first: timed, a wide margin at once.
    sample(1000, 1000);
    EXPECT_EQ(resend(1000), 3 * kBase);
    // The resend came first: no reply time, a back-off; the next request,
    // sent once, is timed.
    ReplyEstimate other(seconds(30));
    other.backOff(at(1000));
    EXPECT_EQ(other.resendTime(kBase, at(1000)), 2 * kBase);
    other.sample(milliseconds(1000), at(3000));
    EXPECT_EQ(other.resendTime(kBase, at(3000)), 3 * kBase);
    for (int i = 0; i < 40; ++i) {
        sample(4000 + i, 1000);
        other.sample(milliseconds(1000), at(4000 + i));
        ASSERT_GT(resend(4000 + i), kBase) << i << ": every reply comes before its resend";
    }
    EXPECT_EQ(resend(5000), kBase + kBase / 10);
    EXPECT_EQ(other.resendTime(kBase, at(5000)), kBase + kBase / 10);
}
