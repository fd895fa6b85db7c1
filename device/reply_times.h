#pragma once

#include <chrono>

// How long the devices are given to answer, in one place: the base resend
// time every device request starts from, and what the layers above wait for
// derived from it, so that a change of the one moves the others with it.

namespace device {

/// The base resend time of the device objects' requests: a request to a
/// device the transport has learnt nothing of is sent again when unanswered
/// this long, and given up when unanswered as long again. The transport
/// lengthens it for a device it has learnt to answer later.
constexpr std::chrono::milliseconds kBaseResendTime{1000};

/// How long a batch of loudspeaker requests waits for a loudspeaker that
/// gives no answer, from when it took it or last heard from it: the give-up,
/// and a tenth of a resend time for the completion to come through the
/// transport's completer (a loudspeaker that answers each request in time
/// is never counted silent).
constexpr std::chrono::milliseconds kAnswerLimit = 2 * kBaseResendTime + kBaseResendTime / 10;

/// How long after a batch settles a reply past the give-up may still come.
/// The transport takes a reply up to 2.5R after the first send as the late
/// answer of the request it gave up: R/2 after the give-up. A batch settles
/// at the give-up at the earliest, but the request may have left up to R/2
/// after the batch took the loudspeaker (behind another of its requests), so
/// a whole resend time covers both.
constexpr std::chrono::milliseconds kLateReplies = kBaseResendTime;

/// How long a request to one device waits for its answer as the transport
/// serves that device now (what it learnt of the device's lateness
/// included): the layers above derive their own waits from it.
struct ReplyTimes {
    /// After its first send, when an unanswered request is sent again.
    std::chrono::milliseconds resend{kBaseResendTime};
    /// After its first send, when an unanswered request is given up.
    std::chrono::milliseconds giveUp{2 * kBaseResendTime};
    /// After the give-up, how long the request's late reply may still come.
    std::chrono::milliseconds lateReply{kBaseResendTime + kBaseResendTime / 2};
};

/// What the operator is told of a device that gave no answer in time.
constexpr const wchar_t* kNoAnswerCause = L"устройство не ответило";

}  // namespace device
