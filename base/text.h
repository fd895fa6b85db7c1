#pragma once

#include <string>

// Narrow text of this program is Windows code page 1251 (device texts,
// exception messages, C-style log texts); text that goes to the operating
// system (paths, environment, settings-file strings) is UTF-8. Both codecs are
// table driven and locale free, so they are safe on any thread.
namespace base {

/// Wide to code page 1251. A character the code page cannot hold becomes '?';
/// the conversion stops at the first null character.
std::string toNarrow(const std::wstring& text);

/// Code page 1251 to wide; stops at the first null byte. Byte 0x98, which
/// the code page leaves unassigned, maps to U+0098 so every byte round-trips.
std::wstring toWide(const std::string& text);

/// True when every character of the text has a code page 1251 byte.
bool isRepresentableInCp1251(const std::wstring& text);

/// Wide to UTF-8 and back; invalid sequences are skipped.
std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

/// True when the bytes are well-formed UTF-8.
bool isValidUtf8(const std::string& text);

}  // namespace base

// Thin wrappers for C-style callers. The buffer variants trust the caller to
// provide room for the converted text and its terminating null.
std::string toNarrowString(const wchar_t* text);
int toCharBuffer(char* destination, const wchar_t* text);
std::wstring toWString(const char* text);
int toWCharBuffer(wchar_t* destination, const char* text);
