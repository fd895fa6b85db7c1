#pragma once

#include <cstdint>

namespace base {

/// Asks the scheduler to start the calling thread promptly when it wakes:
/// a thread that sleeps most of the time and runs briefly (the dispatcher's)
/// would otherwise wait behind busy threads for a whole time slice of theirs.
///
/// Two requests, both open to an ordinary user: a short time slice of
/// `sliceMicroseconds` (a SCHED_OTHER thread's sched_runtime on kernels with
/// the EEVDF scheduler: an earlier virtual deadline, so its wake-ups may
/// preempt a thread that has used more of its share; the kernel keeps it
/// within 100 µs..100 ms), and a timer slack of 1 ns, so that its timed
/// waits end on time rather than up to 50 µs later. The nice value and the
/// policy stay as they are; a thread not under SCHED_OTHER is left alone.
/// Where the kernel refuses a request (older kernels, a sandbox), the thread
/// runs on unchanged and nothing is reported: the result is only a matter of
/// latency. Returns whether the short slice was taken.
bool preferPromptWakeups(std::uint32_t sliceMicroseconds = 200);

}  // namespace base
