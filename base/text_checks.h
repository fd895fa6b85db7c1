#pragma once

#include <string>

// Checks of texts that go to devices or to the scheduler. Each compiled
// pattern is built once, on first use, and only read afterwards, so the checks
// may run on several threads at once. Every check matches the whole text.

/// A title of a fragment or scenario in a device's audio memory: 1 to 64
/// printable characters (Cyrillic and "№" included) that code page 1251 can
/// carry, since the title is sent to the device in that code page.
bool isValidTitle(const std::wstring& text);

/// One or more of 0-9, a-f, A-F and nothing else (a console passkey).
bool isHexText(const std::string& text);

/// "YYYY-MM-DD" with the year 2000 to 2100, the month at most 12 and the day
/// at most 31 (00 passes; the days of a given month are not checked).
bool parseDate(const std::wstring& text);

/// "H:MM:SS", "HH:MM:SS", "H:MM" or "HH:MM" with hours below 24 and minutes
/// and seconds below 60.
bool parseTime(const std::wstring& text);
