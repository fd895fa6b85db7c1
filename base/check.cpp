#include "base/check.h"

#include <cstdio>
#include <string>

#include "base/dbg.h"

namespace debug {

void throwIfFalse(bool condition, std::string_view place) {
    if (condition) return;
    throwIfFalse(condition, place, L"");
}

void throwIfFalse(bool condition, std::string_view place, const wchar_t* comment) {
    if (condition) return;
    const base::LogPlace self("debug::throwIfFalse");
    // The comment is the caller's message format; a faulty one becomes the
    // log's own format-error record rather than a second failure here.
    self.trace(comment != nullptr ? comment : L"");
    self.error(L"Проверяемое условие неверно! Место '%1%'", place);
    throw exception::ServerError();
}

void throwIfFalse(bool condition, std::string_view place, const std::wstring& comment) {
    if (condition) return;
    throwIfFalse(condition, place, comment.c_str());
}

void warnIfFalse(bool condition, std::string_view place) {
    if (condition) return;
    base::LogPlace("debug::warnIfFalse").warn(L"Проверяемое условие неверно! Место '%1%'", place);
}

void stopProgram() {
    base::flushLog();
    throw exception::StopProgram();
}

namespace detail {

void nullPointer(std::string_view place) {
    base::LogPlace("debug::terminateIfNull")
        .fatal(L"Внутренняя ошибка. Указатель не установлен. Место '%1%'", place);
    stopProgram();
}

void negativeIndex(std::int64_t size, std::int64_t index, std::string_view place) {
    base::LogPlace("debug::terminateIfOutOfRange")
        .fatal(L"Внутренняя ошибка. Индекс данных - отрицательный. [size %1%, index %2%, place %3%]",
               size, index, place);
    stopProgram();
}

void indexOutOfRange(std::int64_t size, std::uint64_t index, std::string_view place) {
    base::LogPlace("debug::terminateIfOutOfRange")
        .fatal(L"Внутренняя ошибка. Индекс данных вне диапазона. [size %1%, index %2%, place %3%]",
               size, index, place);
    stopProgram();
}

void indexOutOfRange(std::uint64_t size, std::uint64_t index, std::string_view place) {
    base::LogPlace("debug::terminateIfOutOfRange")
        .fatal(L"Внутренняя ошибка. Индекс данных вне диапазона. [size %1%, index %2%, place %3%]",
               size, index, place);
    stopProgram();
}

}  // namespace detail
}  // namespace debug

namespace error {
namespace detail {

void nullPointer(std::string_view place) {
    char text[512];
    std::snprintf(text, sizeof text, "Internal error. Pointer isn't set. Place %.*s",
                  static_cast<int>(place.size()), place.data());
    dbg_abort(text, "error::terminateIfNull");
}

void indexOutOfRange(std::uint64_t count, std::uint64_t index, std::string_view place) {
    char text[512];
    std::snprintf(text, sizeof text, "Internal error. Data index out of bounds. size %llu, index %llu. Place %.*s",
                  static_cast<unsigned long long>(count), static_cast<unsigned long long>(index),
                  static_cast<int>(place.size()), place.data());
    dbg_abort(text, "error::terminateIfOutOfRange");
}

void empty(std::string_view place) {
    char text[512];
    std::snprintf(text, sizeof text, "Internal error. Data are not available. Place %.*s",
                  static_cast<int>(place.size()), place.data());
    dbg_abort(text, "error::terminateIfEmpty");
}

}  // namespace detail
}  // namespace error
