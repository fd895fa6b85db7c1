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
    /// How long the device takes to answer a request that is not lost, as
    /// far as known: its smoothed reply time and their spread (the resend
    /// time while nothing was learnt). Below `resend` for a device that
    /// answers in time.
    std::chrono::milliseconds answer{kBaseResendTime};
};

/// What the operator is told of a device that gave no answer in time.
constexpr const wchar_t* kNoAnswerCause = L"устройство не ответило";

}  // namespace device
