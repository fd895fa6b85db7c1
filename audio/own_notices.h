#pragma once

#include <chrono>

#include "audio/playback.h"

namespace frm {

/// Those of `speakers` that play a notice of their own (their audio memory,
/// an input of their own), asked of all of them at once: an Orvel-510 is
/// asked about its memory, whose playback its state packets do not show;
/// the others answer from their state packets without a request. One that
/// is away or gives no answer counts as not playing. Waits for the answers,
/// `limit` at most; an interruption point of the calling boost thread.
DeviceSet playingOnTheirOwn(const DeviceSet& speakers, std::chrono::milliseconds limit);

}  // namespace frm
