#include "base/password.h"

#include <algorithm>

#include "base/exception.h"

namespace {

constexpr wchar_t kKey = 0x5A;

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

}  // namespace

std::wstring encodePassword(std::wstring password) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring stored;
    stored.reserve(password.size() * 2);
    for (const wchar_t c : password) {
        if (c < 0 || c > 0xFF)
            throw exception::UserError(L"Недопустимый символ в пароле",
                                       L"Пароль может содержать только латинские буквы, цифры и знаки");
        const wchar_t scrambled = c ^ kKey;
        stored += digits[scrambled >> 4];
        stored += digits[scrambled & 0x0F];
    }
    return stored;
}

std::wstring decodePassword(std::wstring stored) {
    std::wstring password;
    password.reserve((stored.size() + 1) / 2);
    for (std::size_t i = 0; i < stored.size(); i += 2) {
        wchar_t value = 0;
        const std::size_t end = std::min(i + 2, stored.size());
        for (std::size_t j = i; j < end; ++j) {
            const int digit = hexValue(stored[j]);
            if (digit < 0) break;
            value = static_cast<wchar_t>(value * 16 + digit);
        }
        password += static_cast<wchar_t>(value ^ kKey);
    }
    return password;
}
