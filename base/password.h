#pragma once

#include <string>

// The stored form of the password settings (security.interface,
// security.administrator, security.playbackAlarm): every character combined
// with a fixed one-byte key and written as two upper-case hexadecimal digits.
// It keeps a password from being read at a glance; it is no protection.

/// The stored default of all three settings: the password "123456". The
/// operator is expected to change it after installation.
constexpr const wchar_t* defaultStoredPassword = L"6B68696E6F6C";

/// Throws exception::UserError for a character above U+00FF, which two digits
/// cannot carry; the settings dialog shows the notification.
std::wstring encodePassword(std::wstring password);

/// Every pair of digits (either case) gives one character, "00" included; a
/// lone last digit gives one more. A pair that starts with no hexadecimal
/// digit reads as 00.
std::wstring decodePassword(std::wstring stored);
