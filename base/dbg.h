#pragma once

// The C-style log interface: a numbered level and a narrow text, for start-up
// and exit steps and for the C-style modules (streams, player engine).

#include <string>

/// Same numbering and names as base::Log::Level.
enum dbg_level {
    TRACE3 = 0, TRACE2, TRACE, DEBUG, MARK, INFO, EXTERN, IMPOR, NOTICE, WARN, ERROR, FATAL
};

/// Logs a narrow text with the place "dbg_puts". The text is UTF-8 when it is
/// well-formed UTF-8, else code page 1251; it is never read as a format.
/// MARK and unknown levels log an ERROR, then the text at NOTICE. From INFO
/// on, the file and the log's observer get the text's catalogue entry.
void dbg_puts(int level, const char* text);

/// printf-style variant; the result is cut at 4095 characters, and a result of
/// 4086 characters or more adds "Debug system: Small buffer" at EXTERN. From
/// INFO on, the file and the observer get the format's catalogue entry (code
/// page 1251) filled with the same values when its directives are the
/// format's, else the result's own entry.
void dbg_printf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// The printf directives of a format in order, one a line ("%s\n%u\n"), "%%"
/// left out; "?" for a directive cut off at the end. Two formats with the
/// same result take the same values.
std::string dbg_conversions(const char* format);

/// dbg_puts with values is the printf-style call; without values the text is
/// taken as it stands.
template <class First, class... Rest>
void dbg_puts(int level, const char* format, First first, Rest... rest) {
    dbg_printf(level, format, first, rest...);
}

/// Logs the failed condition at FATAL (which flushes the log), then
/// "dbg_abort() in <function>(..)" at TRACE, and ends the process with exit
/// code 1 without running static destructors while other threads still log.
[[noreturn]] void dbg_abort(const char* condition, const char* function);
