#pragma once

#include <chrono>

#include "audio/playback.h"

namespace frm {

/// Those of `speakers` that play a notice of their own (their audio memory,
/// an input of their own), asked of all of them at once: an Orvel-510 is
/// asked about its memory, whose playback its state packets do not show;
/// the others answer from their state packets without a request. One that
/// is away or gives no answer by `until` counts as not playing. Waits for
/// the answers until then at most; an interruption point of the calling
/// boost thread.
DeviceSet playingOnTheirOwn(const DeviceSet& speakers, std::chrono::steady_clock::time_point until);

/// How long one request to each of the loudspeakers takes at most: the
/// latest give-up among their reply times (what the transport learnt of
/// each), and a tenth of its resend time for the completion to come
/// through. A wait for one answer of each never needs longer.
std::chrono::milliseconds longestAnswer(const DeviceSet& speakers);

}  // namespace frm
