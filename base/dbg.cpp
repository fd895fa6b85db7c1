#include "base/dbg.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "base/log.h"
#include "base/text.h"

namespace {

std::wstring decode(const char* text) {
    const std::string bytes(text);
    return base::isValidUtf8(bytes) ? base::fromUtf8(bytes) : base::toWide(bytes);
}

}  // namespace

void dbg_puts(int level, const char* text) {
    base::Log* log = base::Log::instance();
    if (!log) return;
    const base::LogPlace place("dbg_puts");
    const auto unsignedLevel = static_cast<unsigned>(level);
    if (unsignedLevel > base::Log::FATAL || level == base::Log::MARK) {
        place.error(L"Неизвестный уровень логирования");
        place.notice(L"%1%", decode(text));
        return;
    }
    if (!log->accepts(level)) return;
    place.at(static_cast<base::Log::Level>(level), L"%1%", decode(text));
}

void dbg_printf(int level, const char* format, ...) {
    char buffer[4096] = {};
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    dbg_puts(level, static_cast<const char*>(buffer));
    if ((length >= 4086 || length < 0) && base::Log::instance())
        base::LogPlace("dbg_puts").external(L"%1%", decode("Debug system: Small buffer"));
}

void dbg_abort(const char* condition, const char* function) {
    dbg_puts(FATAL, condition);
    dbg_puts(TRACE, "dbg_abort() in %s(..)", function);
    base::flushLog();
    _exit(1);
}
