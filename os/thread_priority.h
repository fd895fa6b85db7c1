#pragma once

#include <boost/thread/thread.hpp>

namespace os {

/// Raises the thread above normal: its nice value becomes the process's
/// minus kAboveNormalSteps. Raising needs CAP_SYS_NICE or an RLIMIT_NICE that
/// allows it; without, a WARN and the thread runs on unchanged. Any thread
/// may call it for any thread object.
void setThreadPriority(boost::thread& thread);

constexpr int kAboveNormalSteps = 5;

}  // namespace os
