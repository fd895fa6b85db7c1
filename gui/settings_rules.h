#pragma once

#include <string>
#include <vector>

// The rules of the settings dialog that need no window: the log level
// entries, what OK does with a password pair, the check of the stored
// multicast group, and the folders and default gong that opening the dialog
// prepares. Any thread; the file-system calls take UTF-8 paths, whatever the
// process locale.
namespace frm {
namespace settings {

/// The entries of the log level choice, most detailed first.
const std::vector<std::wstring>& logLevels();

/// The entry of a stored `debug.level`; -1 for any other text ("warn").
int logLevelIndex(const std::wstring& stored);

/// What OK does with one pair of password fields.
struct PasswordChange {
    enum Kind {
        Keep,      // "Повторить" is empty: the stored password stays
        Store,     // both texts agree: `stored` is the new key's value
        Mismatch,  // the texts differ
        Refused,   // a character the stored form cannot carry; `details` says so
    };
    Kind kind = Keep;
    std::wstring stored;
    std::wstring details;
};
PasswordChange passwordChange(const std::wstring& password, const std::wstring& repeat);

/// The text the three password fields show instead of the stored passwords.
extern const wchar_t* const kPasswordFiller;

/// A multicast address typed anew: four dotted numbers, each at most 255,
/// without leading zeros and nothing else (net::parseWholeIp4Address), so
/// that it never stops the next start (which also takes the leading zeros
/// earlier versions stored).
bool isMulticastAddressText(const std::wstring& address);

/// What the operator reads when OK refuses the text of an address field
/// (`field` is its label): the field's name, what was typed and the form
/// an address takes.
std::wstring addressRefusal(const std::wstring& field, const std::wstring& typed);

/// What the dialog shows of a stored multicast group when it is filled:
/// the address, ":" and the port must split into an address as stored
/// (leading zeros of an earlier version read as decimal,
/// net::parseStoredIp4Address) and a decimal number. The address's dotted
/// form, which OK takes as it stands; empty for anything else.
std::wstring shownGroup(const std::wstring& address, int port);

/// True when anything (file, folder) exists at the path.
bool pathExists(const std::wstring& path);

/// Creates a folder with its missing parents; false with the system's text.
bool createFolder(const std::wstring& folder, std::wstring& error);

/// The default gong: the name without its extension, the file the dialog
/// puts into the gong folder, and where it ships beside the program.
extern const wchar_t* const kDefaultGongName;
std::wstring defaultGongPath(const std::wstring& gongFolder);
std::wstring shippedGongPath(const std::wstring& applicationFolder);

/// Copies `from` to `to`, never over an existing file; false with the system's text.
bool copyFile(const std::wstring& from, const std::wstring& to, std::wstring& error);

}  // namespace settings
}  // namespace frm
