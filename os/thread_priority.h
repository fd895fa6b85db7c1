#pragma once

#include <pthread.h>

#include <boost/thread/thread.hpp>

namespace os {

/// The same for a thread given by its pthread handle (a std::thread's
/// native handle). A default-constructed handle names no thread: a WARN and
/// nothing else. The handle must belong to a thread that has not been
/// joined yet.
void setThreadPriority(pthread_t thread);

/// Raises the thread above normal: its nice value becomes the process's
/// minus kAboveNormalSteps. Raising needs CAP_SYS_NICE or an RLIMIT_NICE that
/// allows it; without, a WARN and the thread runs on unchanged. Any thread
/// may call it for any thread object.
void setThreadPriority(boost::thread& thread);

constexpr int kAboveNormalSteps = 5;

}  // namespace os
