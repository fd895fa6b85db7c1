#include "device/reply_estimate.h"

#include <algorithm>

namespace device {

namespace {

/// Two doublings take any resend time past kMaxResendMultiple times its
/// base; more would only take longer to age away.
constexpr int kMostBackOffs = 2;

/// Ageing periods past this many have halved everything to nothing.
constexpr long long kMostHalvings = 62;

}  // namespace

ReplyEstimate::State ReplyEstimate::aged(TimePoint now) const {
    State state{m_smoothed, m_variation, m_backOffs};
    if (m_ageing <= Duration::zero() || now <= m_renewed) return state;
    const long long periods = std::min<long long>((now - m_renewed) / m_ageing, kMostHalvings);
    if (periods == 0) return state;
    const auto halve = [periods](Duration d) { return Duration(d.count() >> periods); };
    if (state.smoothed) state.smoothed = halve(*state.smoothed);
    state.variation = halve(state.variation);
    state.backOffs = static_cast<int>(std::max<long long>(0, state.backOffs - periods));
    return state;
}

void ReplyEstimate::settle(TimePoint now) {
    const State state = aged(now);
    m_smoothed = state.smoothed;
    m_variation = state.variation;
    m_backOffs = state.backOffs;
    m_renewed = std::max(m_renewed, now);
}

void ReplyEstimate::sample(Duration replyTime, TimePoint now) {
    if (replyTime < Duration::zero()) return;
    settle(now);
    if (!m_smoothed) {
        m_smoothed = replyTime;
        m_variation = replyTime / 2;
    } else {
        const Duration distance = replyTime > *m_smoothed ? replyTime - *m_smoothed : *m_smoothed - replyTime;
        m_variation = (3 * m_variation + distance) / 4;
        *m_smoothed = (7 * *m_smoothed + replyTime) / 8;
    }
    m_backOffs = 0;
}

void ReplyEstimate::backOff(TimePoint now) {
    settle(now);
    m_backOffs = std::min(m_backOffs + 1, kMostBackOffs);
}

std::optional<ReplyEstimate::Duration> ReplyEstimate::smoothed(TimePoint now) const { return aged(now).smoothed; }

namespace {

ReplyEstimate::Duration spreadOf(ReplyEstimate::Duration variation, ReplyEstimate::Duration base) {
    return std::max(base / ReplyEstimate::kGranularityShare, 4 * variation);
}

}  // namespace

ReplyEstimate::Duration ReplyEstimate::spread(Duration base, TimePoint now) const {
    return spreadOf(aged(now).variation, base);
}

std::optional<ReplyEstimate::Duration> ReplyEstimate::overdue(Duration base, TimePoint now) const {
    const State state = aged(now);
    if (!state.smoothed) return std::nullopt;
    return *state.smoothed + spreadOf(state.variation, base);
}

bool ReplyEstimate::fits(Duration replyTime, Duration base, TimePoint now) const {
    const State state = aged(now);
    if (!state.smoothed) return false;
    const Duration spread = spreadOf(state.variation, base);
    return replyTime >= *state.smoothed - spread && replyTime <= *state.smoothed + spread;
}

ReplyEstimate::Duration ReplyEstimate::resendTime(Duration base, TimePoint now) const {
    const State state = aged(now);
    const Duration most = kMaxResendMultiple * base;
    Duration resend = base;
    if (state.smoothed) resend = std::max(base, *state.smoothed + spreadOf(state.variation, base));
    for (int i = 0; i < state.backOffs && resend < most; ++i) resend *= 2;
    return std::min(resend, most);
}

}  // namespace device
