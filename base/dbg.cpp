#include "base/dbg.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "base/log.h"
#include "base/text.h"

namespace {

std::wstring decode(const char* text) {
    const std::string bytes(text);
    return base::isValidUtf8(bytes) ? base::fromUtf8(bytes) : base::toWide(bytes);
}

constexpr std::string_view kPlace = "dbg_puts";

}  // namespace

std::string dbg_conversions(const char* format) {
    std::string found;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        const char* start = p++;
        if (*p == '%') continue;
        while (*p && std::strchr("-+ #0123456789.*'hljztLq", *p)) ++p;
        if (!*p) return "?";  // a directive cut off at the end
        found.append(start, static_cast<std::size_t>(p - start + 1));
        found += '\n';
    }
    return found;
}

void dbg_puts(int level, const char* text) {
    base::Log* log = base::Log::instance();
    if (!log) return;
    const base::LogPlace place(kPlace);
    const auto unsignedLevel = static_cast<unsigned>(level);
    if (unsignedLevel > base::Log::FATAL || level == base::Log::MARK) {
        place.error(L"Неизвестный уровень логирования");
        place.notice(L"%1%", decode(text));
        return;
    }
    if (!log->accepts(level)) return;
    // The text is the program's own: the operator reads its catalogue entry.
    std::wstring line = decode(text);
    std::wstring notice = log->notifies(level) ? log->translate(line) : std::wstring();
    log->writeText(static_cast<base::Log::Level>(level), kPlace, std::move(line), std::move(notice));
}

void dbg_printf(int level, const char* format, ...) {
    char buffer[4096] = {};
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);

    base::Log* log = base::Log::instance();
    const auto unsignedLevel = static_cast<unsigned>(level);
    if (log != nullptr && unsignedLevel <= base::Log::FATAL && level != base::Log::MARK && log->notifies(level) &&
        log->accepts(level)) {
        // The operator reads the catalogue's format filled with the same
        // values; an entry whose directives differ from the format's is not
        // used (the values would be read as other types).
        const std::wstring original = decode(format);
        const std::wstring translated = log->translate(original);
        std::wstring notice;
        if (translated != original) {
            const std::string narrow = base::toNarrow(translated);
            if (dbg_conversions(narrow.c_str()) == dbg_conversions(format)) {
                char noticeBuffer[4096] = {};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
                std::vsnprintf(noticeBuffer, sizeof noticeBuffer, narrow.c_str(), again);
#pragma GCC diagnostic pop
                notice = decode(noticeBuffer);
            }
        }
        va_end(again);
        if (notice.empty()) notice = decode(buffer);
        // What boost adds of an exception is for the file only.
        for (const wchar_t* boilerplate :
             {L"No diagnostic information available.", L"Throw location unknown", L"Dynamic exception type:"}) {
            const std::size_t at = notice.find(boilerplate);
            if (at != std::wstring::npos) notice.erase(at);
        }
        while (!notice.empty() && (notice.back() == L' ' || notice.back() == L',' || notice.back() == L'\n'))
            notice.pop_back();
        log->writeText(static_cast<base::Log::Level>(level), kPlace, decode(buffer), std::move(notice));
    } else {
        va_end(again);
        dbg_puts(level, static_cast<const char*>(buffer));
    }
    if ((length >= 4086 || length < 0) && base::Log::instance())
        base::LogPlace(kPlace).external(L"%1%", decode("Debug system: Small buffer"));
}

void dbg_abort(const char* condition, const char* function) {
    dbg_puts(FATAL, condition);
    dbg_puts(TRACE, "dbg_abort() in %s(..)", function);
    base::flushLog();
    _exit(1);
}
