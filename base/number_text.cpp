#include "base/number_text.h"

namespace base {

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\u00A0'; }

std::wstring trimmed(const std::wstring& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::wstring range(int min, int max) {
    return L"от " + std::to_wstring(min) + L" до " + std::to_wstring(max);
}

}  // namespace

NumberText readNumberText(const std::wstring& text, int min, int max) {
    NumberText read;
    const std::wstring digits = trimmed(text);
    if (digits.empty()) return read;
    const bool negative = digits[0] == L'-';
    const std::size_t start = negative || digits[0] == L'+' ? 1 : 0;
    read.kind = NumberText::NotANumber;
    if (start == digits.size()) return read;
    // Past ten digits a value is outside any int range; the digits are still
    // read to the end, so that "99999999999x" stays not a number.
    long long magnitude = 0;
    for (std::size_t i = start; i < digits.size(); ++i) {
        if (digits[i] < L'0' || digits[i] > L'9') return read;
        if (magnitude <= 9999999999LL) magnitude = magnitude * 10 + (digits[i] - L'0');
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value < min || value > max) {
        read.kind = NumberText::OutOfRange;
        return read;
    }
    read.kind = NumberText::Number;
    read.value = static_cast<int>(value);
    return read;
}

std::wstring numberTextRefusal(const std::wstring& field, const std::wstring& text, const NumberText& read,
                               int min, int max) {
    const std::wstring name = L"\"" + field + L"\"";
    const std::wstring typed = L"В поле " + name + L" введено \"" + trimmed(text) + L"\": ";
    const std::wstring wanted = L"Введите целое число " + range(min, max) + L".";
    switch (read.kind) {
        case NumberText::Empty:
            return L"Поле " + name + L" не заполнено. " + wanted;
        case NumberText::OutOfRange:
            return typed + L"это число вне допустимых пределов. " + wanted;
        case NumberText::NotANumber:
        case NumberText::Number:
            break;
    }
    return typed + L"это не целое число. " + wanted;
}

}  // namespace base
