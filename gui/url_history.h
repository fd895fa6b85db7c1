#pragma once

#include <string>
#include <vector>

// The history of station addresses behind the URL dialog's drop-down list:
// a text file with one address a line, the newest first, UTF-8 without a
// byte-order mark (read and written with our own conversion, never the
// locale's). Every line is trimmed of blanks when read and again when
// written. File errors are silent both ways: a missing or unreadable history
// is an empty one. No window; the URL dialog calls it on the GUI thread.
namespace frm {
namespace url_history {

/// Blanks (space, tab, line feed, carriage return, vertical tab, form feed)
/// cut from both ends.
std::wstring trimmed(const std::wstring& text);

/// The trimmed lines of the file, empty ones included; a final line feed
/// adds no empty line.
std::vector<std::wstring> read(const std::wstring& path);

/// The history after `accepted` was taken: the trimmed address first (when
/// it is not empty), then the other entries in their order, trimmed, without
/// the copies of it.
std::vector<std::wstring> afterAccepting(const std::wstring& accepted,
                                         const std::vector<std::wstring>& history);

/// Replaces the file with the lines, a line feed after each; false when it
/// cannot be written (the old file is then kept).
bool write(const std::wstring& path, const std::vector<std::wstring>& lines);

}  // namespace url_history
}  // namespace frm
