#pragma once

#include <libconfig.h++>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

// The settings file "sonvar.cfg" in the data folder, in libconfig's syntax.
// Every owner of a key reads it where it uses it, with its default right
// there: a missing key is created with that default and written at the next
// save. Paths are dotted ("multicast.commonStream.bitrate"); string values are
// UTF-8 in the file.
//
// Threads: the GUI thread creates and changes keys while the streaming
// keep-alive thread reads them, so every operation takes the settings' lock.
// A Setting returned by find or create may be removed by another thread's
// create (a retyped key), so an owner that reads or assigns it holds a
// pref::Guard for as long as it uses the reference.
namespace pref {

using Type = libconfig::Setting::Type;

class Settings {
public:
    std::unique_ptr<libconfig::Config> config = std::make_unique<libconfig::Config>();
    /// True while nothing of the file has been read (absent, damaged, no path).
    bool isDefault = true;
    /// Where save writes; empty when the settings have no file.
    std::wstring path;
    /// What the operator is told of a file that open could not use (Russian:
    /// what was wrong, that the defaults apply, where the file was set
    /// aside); empty when the file was read or absent. Start-up shows it
    /// once the window is up, before which no notice can be shown.
    std::wstring damageNotice;
    std::recursive_mutex mutex;
};

/// The settings' lock for a scope.
class Guard {
public:
    explicit Guard(Settings* settings) : m_lock(settings->mutex) {}

private:
    std::unique_lock<std::recursive_mutex> m_lock;
};

/// A settings file larger than this, or naming more settings than
/// kMaxSettings, is damaged and is not parsed: the program writes about 35
/// keys, and libconfig's parser looks for a duplicate among all the members
/// of a group as it adds each one, so a hand-made file of tens of thousands
/// of settings would hold the start for minutes.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;
constexpr std::size_t kMaxSettings = 5000;

/// False for a text that open takes for damaged without parsing it: larger
/// than kMaxFileBytes, or naming more than kMaxSettings settings (their "="
/// and ":" outside strings and comments).
bool withinLimits(const std::string& text);

/// Reads the file into `settings`. A file that cannot be read or parsed, or
/// is too large (see withinLimits), is renamed to "<path>.bad" with a WARN
/// (never deleted), the settings stay empty, as for an absent file, and
/// damageNotice says so.
void open(Settings& settings, const std::wstring& path);

/// Writes the whole tree: into a temporary file that is checked and then
/// renamed over the old one, so an interrupted save leaves the old file whole.
/// Nothing the next open would refuse is written: a tree read from a
/// hand-made file may lay out far larger than the file (libconfig indents
/// each nested group further). A failure logs an ERROR and gives false;
/// nothing is thrown.
bool save(Settings* settings);

/// The setting at the path when it exists with that type, else null; changes
/// nothing.
libconfig::Setting* find(Settings* settings, const char* path, Type type);

/// The setting at the path with that type, made with its groups when missing.
/// A setting of another type is replaced (its value is lost; the caller
/// assigns at once); so is a value standing where a group belongs, with a WARN.
libconfig::Setting& create(Settings* settings, const char* path, Type type);

// The find-or-create-with-default pattern on g_pref, under its lock.
std::wstring getString(const char* path);
void setString(const char* path, const std::wstring& value);
int getInt(const char* path, int defaultValue);
bool getBool(const char* path, bool defaultValue);

}  // namespace pref

/// The process-wide settings, from pref_init to pref_free.
extern pref::Settings* g_pref;

/// Start-up step: makes g_pref from the file at `path`.
void pref_init(const std::wstring& path);

/// Exit step: saves and frees g_pref.
void pref_free();
