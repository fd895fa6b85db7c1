#pragma once

#include <cstddef>
#include <functional>

namespace frm {

/// Calls `visit(i)` for every i below `count` on up to `maxThreads` threads
/// of its own and returns once every call has returned. For requests to many
/// loudspeakers at once: the transport serves different devices in parallel,
/// so one that no longer answers costs its give-up time once, not once for
/// every loudspeaker after it. The first exception a call lets out is thrown
/// here after the others have finished; the calls not yet begun are skipped.
void forEachConcurrently(std::size_t count, std::size_t maxThreads, const std::function<void(std::size_t)>& visit);

}  // namespace frm
