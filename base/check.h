#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/exception.h"
#include "base/log.h"

// Run-time checks. A passing check costs one test; everything else sits on the
// failing path. `place` is the calling function's qualified name, as
// SV_PLACE gives it; it appears inside the message, while the record's own
// place is the check's name.

/// The qualified name of the enclosing function ("device::TransferProtocol::sync").
#define SV_PLACE (::base::functionPlace(__PRETTY_FUNCTION__))

namespace debug {

/// False: a TRACE record with the comment (a message format without
/// arguments), an ERROR record naming the place, then exception::ServerError.
/// The thrown object never carries the place or the comment.
void throwIfFalse(bool condition, std::string_view place);
void throwIfFalse(bool condition, std::string_view place, const wchar_t* comment);
void throwIfFalse(bool condition, std::string_view place, const std::wstring& comment);

/// False: a WARN record naming the place; returns normally.
void warnIfFalse(bool condition, std::string_view place);

/// Flushes the log and throws exception::StopProgram; the main loop's
/// exception hook then ends the process.
[[noreturn]] void stopProgram();

namespace detail {
[[noreturn]] void nullPointer(std::string_view place);
[[noreturn]] void negativeIndex(std::int64_t size, std::int64_t index, std::string_view place);
[[noreturn]] void indexOutOfRange(std::int64_t size, std::uint64_t index, std::string_view place);
[[noreturn]] void indexOutOfRange(std::uint64_t size, std::uint64_t index, std::string_view place);

/// index >= size, correct for every mix of signedness (index already >= 0).
template <class Size, class Index>
bool notBelow(Size size, Index index) {
    if constexpr (std::is_signed_v<Size>)
        if (size < 0) return true;
    return static_cast<std::uint64_t>(index) >= static_cast<std::uint64_t>(size);
}
}  // namespace detail

/// A plain or smart pointer, or a function object: empty means null. A null
/// one is FATAL and stops the program.
template <class P>
void terminateIfNull(const P& pointer, std::string_view place) {
    if (pointer) return;
    detail::nullPointer(place);
}

/// An index against a size (both integers), or against a container whose
/// element count is the size. A negative index or one not below the size is
/// FATAL and stops the program.
template <class Size, class Index>
void terminateIfOutOfRange(const Size& size, Index index, std::string_view place) {
    static_assert(std::is_integral_v<Index>, "the index must be an integer");
    if constexpr (std::is_integral_v<Size>) {
        if constexpr (std::is_signed_v<Index>)
            if (index < 0) detail::negativeIndex(static_cast<std::int64_t>(size), index, place);
        if (!detail::notBelow(size, index)) return;
        if constexpr (std::is_signed_v<Size>)
            detail::indexOutOfRange(static_cast<std::int64_t>(size), static_cast<std::uint64_t>(index), place);
        else
            detail::indexOutOfRange(static_cast<std::uint64_t>(size), static_cast<std::uint64_t>(index), place);
    } else {
        terminateIfOutOfRange(size.size(), index, place);
    }
}

}  // namespace debug

// The checks of the C-style modules: they end the process at once (exit code
// 1, no unwinding) through the dbg_abort sequence.
namespace error {

namespace detail {
[[noreturn]] void nullPointer(std::string_view place);
[[noreturn]] void indexOutOfRange(std::uint64_t count, std::uint64_t index, std::string_view place);
[[noreturn]] void empty(std::string_view place);
}  // namespace detail

/// A plain or smart pointer, or a function object testable as a boolean.
template <class P>
void terminateIfNull(const P& pointer, std::string_view place) {
    if (pointer) return;
    detail::nullPointer(place);
}

template <class Count, class Index>
void terminateIfOutOfRange(Count count, Index index, std::string_view place) {
    static_assert(std::is_integral_v<Count> && std::is_integral_v<Index>, "count and index are integers");
    if constexpr (std::is_signed_v<Index>)
        if (index < 0) detail::indexOutOfRange(static_cast<std::uint64_t>(count), static_cast<std::uint64_t>(index), place);
    if (debug::detail::notBelow(count, index))
        detail::indexOutOfRange(static_cast<std::uint64_t>(count), static_cast<std::uint64_t>(index), place);
}

/// Anything with empty(): a container, a text.
template <class Data>
void terminateIfEmpty(const Data& data, std::string_view place) {
    if (!data.empty()) return;
    detail::empty(place);
}

}  // namespace error
