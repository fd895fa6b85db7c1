#pragma once

#include "base/log.h"

// Log calls that also work when no Log exists (before start-up made it, after
// exit destroyed it, on the crash path): then the bare format text goes to the
// debugger output while the debugger echo switch is on.
namespace debug {
namespace detail {

template <class... A>
void safeWrite(base::Log::Level level, std::string_view place, const wchar_t* format, const A&... args) {
    if (base::Log* log = base::Log::instance())
        log->write(level, place, format, args...);
    else if (format != nullptr)
        base::Log::echoToDebugger(format);
}

}  // namespace detail

template <class... A> void trace2_safe(const wchar_t* f, const A&... a) { detail::safeWrite(base::Log::TRACE2, "debug::trace2_safe", f, a...); }
template <class... A> void trace_safe(const wchar_t* f, const A&... a) { detail::safeWrite(base::Log::TRACE, "debug::trace_safe", f, a...); }
template <class... A> void debug_safe(const wchar_t* f, const A&... a) { detail::safeWrite(base::Log::DEBUG, "debug::debug_safe", f, a...); }
template <class... A> void important_safe(const wchar_t* f, const A&... a) { detail::safeWrite(base::Log::IMPOR, "debug::important_safe", f, a...); }
template <class... A> void error_safe(const wchar_t* f, const A&... a) { detail::safeWrite(base::Log::ERROR, "debug::error_safe", f, a...); }
template <class... A> void fatal_safe(const wchar_t* f, const A&... a) { detail::safeWrite(base::Log::FATAL, "debug::fatal_safe", f, a...); }

}  // namespace debug
