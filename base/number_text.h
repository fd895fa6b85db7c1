#pragma once

#include <string>

// The rule of the program's number fields (ports, counts, minutes): what the
// operator typed counts only as a whole decimal number within the field's
// range. Nothing is guessed: an empty field, letters or a number outside the
// range are refused, never turned into the nearest allowed value. No window,
// any thread; the spin fields and the windows that read them all use it, so
// what a field keeps as typed is exactly what OK or Apply refuses.
namespace base {

/// A field's text read against the field's range.
struct NumberText {
    enum Kind {
        Number,      // `value` holds it
        Empty,       // nothing but blanks
        NotANumber,  // anything but an optional sign and the digits 0-9
        OutOfRange,  // a whole number outside the range
    };
    Kind kind = Empty;
    int value = 0;
};

/// Blanks around the text are ignored; then an optional sign ('-' or '+')
/// and one or more of the digits 0-9, nothing else (no separators, no
/// fraction): "+5" is 5, as the spin button's own arrows would never write
/// it but a person may. `min` <= `max`.
NumberText readNumberText(const std::wstring& text, int min, int max);

/// What the operator reads when a field refuses its text (`read` is not a
/// Number): the field's name, what was typed (in quotes, as typed, blanks
/// around it aside) and the range.
std::wstring numberTextRefusal(const std::wstring& field, const std::wstring& text, const NumberText& read,
                               int min, int max);

}  // namespace base
