#pragma once

#include <chrono>
#include <optional>

namespace device {

/// What the transport has learnt of one device's reply times, kept the way
/// TCP keeps its retransmission timer (RFC 6298 with Karn's algorithm):
///  - a smoothed reply time and its mean variation. The first reply time r
///    sets them to r and r/2; each later one moves the variation a quarter
///    of the way to its distance from the smoothed time, and then the
///    smoothed time an eighth of the way to r;
///  - reply times only from requests that were sent once: the answer to a
///    request sent twice may be the reply to either send (devices send no
///    sequence numbers), so it teaches nothing;
///  - a back-off: a request that drew a reply only after it was resent
///    (answered, or its late reply came after the give-up) doubles the
///    resend time of the device's next requests, again after each such
///    request, until a request sent once is answered and gives a reply time.
///    A device that was simply late beyond its resend time thus gets a
///    request whose single reply can be timed. A request given up without
///    any reply backs nothing off: for a device that has gone quiet a longer
///    resend time would only keep every caller waiting longer;
///
/// A request with base resend time R is resent after the smoothed time plus
/// the spread (four variations, at least R/10), doubled per back-off,
/// and kept between R and kMaxResendMultiple·R: below R nothing is ever
/// resent sooner than the request itself asks; above 3R a request given up
/// after two or three sends would hold its device, and every caller and
/// layer that waits for it, six to nine resend times.
///
/// Ageing: an estimate that no reply time or back-off has renewed for a
/// whole ageing period (kAgeing unless the owner chose another) has its
/// smoothed time and variation halved and one back-off undone, again for
/// each further period. A site asks a loudspeaker in bursts a few seconds
/// long (an alarm's switch and volume, a give-back, the property panel's
/// pages), so half a minute keeps what one burst taught for the rest of it
/// and for the next one soon after; a lateness that has passed (a busy
/// spell, one late reply) is halved after half a minute of quiet and down
/// to an eighth after a minute and a half, while a device that really is
/// that late teaches it again with its next request sent once. Prompt
/// answers bring the estimate down by the averaging itself.
///
/// Socket- and clock-free: every call is given the time. Not thread-safe
/// (the request queue keeps one per device under its owner's lock).
class ReplyEstimate {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = Clock::duration;
    using TimePoint = Clock::time_point;

    /// The least margin of a resend time over the smoothed reply time is
    /// the base resend time divided by this (a tenth: 100 ms at the devices'
    /// 1 s). A loaded PC's scheduling and a device's own firmware move
    /// replies by tens of milliseconds, and a reply that misses its resend
    /// time by that much costs a resend, a back-off and a drain. A share of
    /// the base rather than a fixed time keeps a scenario the same at any
    /// base, and a request that asks for a short base its short resends.
    static constexpr int kGranularityShare = 10;
    /// A device's resend time is at most this many times a request's base.
    static constexpr int kMaxResendMultiple = 3;
    /// How long an estimate keeps unrenewed before it starts to fade.
    static constexpr Duration kAgeing = std::chrono::seconds(30);

    explicit ReplyEstimate(Duration ageing = kAgeing) : m_ageing(ageing) {}
    /// What was learnt stays; from now on it fades by `ageing`.
    void setAgeing(Duration ageing) { m_ageing = ageing; }

    /// A request sent once was answered `replyTime` after it left.
    void sample(Duration replyTime, TimePoint now);
    /// A request that was resent drew a reply (see the class comment).
    void backOff(TimePoint now);

    /// The resend time of a request with base resend time `base` that
    /// leaves now.
    Duration resendTime(Duration base, TimePoint now) const;

    /// The smoothed reply time as of `now`; empty while nothing is learnt.
    std::optional<Duration> smoothed(TimePoint now) const;
    /// How far a reply time may be from the smoothed one and still be what
    /// the device is known to take, for a request of base resend time
    /// `base`: four variations, at least the granularity.
    Duration spread(Duration base, TimePoint now) const;
    /// Whether a reply that took `replyTime` is what the device is known to
    /// take: within the spread of the smoothed time. False while nothing is
    /// learnt.
    bool fits(Duration replyTime, Duration base, TimePoint now) const;
    /// After how long a reply is overdue: the smoothed time plus the spread;
    /// empty while nothing is learnt.
    std::optional<Duration> overdue(Duration base, TimePoint now) const;
    /// The variation of the reply times as of `now`.
    Duration variation(TimePoint now) const { return aged(now).variation; }
    /// Back-offs in force as of `now`.
    int backOffs(TimePoint now) const { return aged(now).backOffs; }

private:
    struct State {
        std::optional<Duration> smoothed;
        Duration variation{};
        int backOffs = 0;
    };
    /// The estimate with the ageing up to `now` applied.
    State aged(TimePoint now) const;
    void settle(TimePoint now);

    Duration m_ageing;
    std::optional<Duration> m_smoothed;
    Duration m_variation{};
    int m_backOffs = 0;
    TimePoint m_renewed{};  // the last reply time or back-off
};

}  // namespace device
