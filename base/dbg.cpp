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
    // From INFO on the text is looked up once, for the file and the notice.
    std::wstring line = log->translate(decode(text), level);
    std::wstring notice = log->notifies(level) ? line : std::wstring();
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
    if (log != nullptr && unsignedLevel <= base::Log::FATAL && level >= base::Log::INFO && log->accepts(level)) {
        // The catalogue's format filled with the same values, for the file
        // and the operator alike; an entry whose directives differ from the
        // format's is not used (the values would be read as other types), and
        // the formatted text is looked up whole instead.
        const std::wstring original = decode(format);
        const std::wstring translated = log->translate(original, level);
        std::wstring text;
        if (translated != original) {
            const std::string narrow = base::toNarrow(translated);
            if (dbg_conversions(narrow.c_str()) == dbg_conversions(format)) {
                char translatedBuffer[4096] = {};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
                std::vsnprintf(translatedBuffer, sizeof translatedBuffer, narrow.c_str(), again);
#pragma GCC diagnostic pop
                text = decode(translatedBuffer);
            }
        }
        va_end(again);
        if (text.empty()) text = log->translate(decode(buffer), level);
        std::wstring notice;
        if (log->notifies(level)) {
            notice = text;
            // What boost adds of an exception is for the file only.
            for (const wchar_t* boilerplate :
                 {L"No diagnostic information available.", L"Throw location unknown", L"Dynamic exception type:"}) {
                const std::size_t at = notice.find(boilerplate);
                if (at != std::wstring::npos) notice.erase(at);
            }
            while (!notice.empty() && (notice.back() == L' ' || notice.back() == L',' || notice.back() == L'\n'))
                notice.pop_back();
        }
        log->writeText(static_cast<base::Log::Level>(level), kPlace, std::move(text), std::move(notice));
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
