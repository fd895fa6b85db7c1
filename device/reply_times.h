#pragma once

#include <chrono>

// How long the devices are given to answer, in one place: the base resend
// time every device request starts from, and the record of the times the
// transport gives one device now, from which the layers above derive their
// own waits.

namespace device {

/// The base resend time of the device objects' requests: a request to a
/// device with nothing learnt is sent again when unanswered this long. The
/// transport lengthens it, up to three times, for a device it has learnt to
/// answer later (see ReplyEstimate); TransferProtocol::replyTimes() and
/// DeviceBase::replyTimes() tell what one device gets now.
constexpr std::chrono::milliseconds kBaseResendTime{1000};

/// How long a batch of loudspeaker requests waits for a loudspeaker that
/// gives no answer, from when it took it or last heard from it: the give-up
/// at the base resend time (three sends, for a loudspeaker whose state
/// packets still come), and a tenth of it for the completion to come through
/// the transport's completer. A fixed figure, for the code that does not
/// yet take the loudspeaker's own from replyTimes().
constexpr std::chrono::milliseconds kAnswerLimit = 3 * kBaseResendTime + kBaseResendTime / 10;

/// How long after a batch settles a reply past the give-up may still come,
/// as a fixed figure for the code that does not yet take the loudspeaker's
/// own from replyTimes(). The transport takes a reply up to 2.5 resend times
/// after the first send as the late answer of the request it gave up: half
/// a resend time after the give-up. A batch settles at the give-up at the
/// earliest, but the request may have left up to half a resend time after
/// the batch took the loudspeaker (behind another of its requests), so a
/// whole resend time covers both.
constexpr std::chrono::milliseconds kLateReplies = kBaseResendTime;

/// How long a request to one device waits for its answer as the transport
/// serves that device now (what it learnt of the device's reply times
/// included): the layers above derive their own waits from it. The defaults
/// are those of a device with nothing learnt at the base resend time.
struct ReplyTimes {
    /// After its first send, when an unanswered request is sent again.
    std::chrono::milliseconds resend{kBaseResendTime};
    /// After its first send, when an unanswered request is given up at the
    /// latest: three resend times, for a request sent a third time because
    /// the device was heard from while its first two sends went unanswered.
    std::chrono::milliseconds giveUp{3 * kBaseResendTime};
    /// After the give-up, how long the request's late reply may still come.
    std::chrono::milliseconds lateReply{kBaseResendTime + kBaseResendTime / 2};
    /// After its first send, when an unanswered request is given up if
    /// nothing at all came from the device meanwhile (no third send): two
    /// resend times.
    std::chrono::milliseconds giveUpUnheard{2 * kBaseResendTime};
};

/// What the operator is told of a device that gave no answer in time.
constexpr const wchar_t* kNoAnswerCause = L"устройство не ответило";

}  // namespace device
