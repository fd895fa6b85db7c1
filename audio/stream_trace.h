#pragma once

#include <string>
#include <string_view>

#include "base/dbg.h"
#include "base/log.h"

// Entry lines of the streaming modules: "<own name>(..)" at TRACE2. Built only
// when the log takes TRACE2, since write_pcm is called a few dozen times a
// second on the audio path.
inline void stream_trace_entry(std::string_view place) {
    const base::Log* log = base::Log::instance();
    if (log == nullptr || !log->accepts(TRACE2)) return;
    dbg_puts(TRACE2, "%s(..)", std::string(place).c_str());
}

#define STREAM_TRACE_ENTRY() stream_trace_entry(::base::functionPlace(__PRETTY_FUNCTION__))
