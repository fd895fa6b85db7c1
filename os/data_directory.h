#pragma once

#include <string>

// The per-user data folder: settings, daily logs, XML state files, command
// suites and crash dumps live in
//   <local application data>/Varko Security Systems/Sonvar/1.2
// where the local application data folder follows the XDG rules.
namespace os {

/// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share, else
/// the home folder of the user's passwd entry + "/.local/share". The
/// environment's bytes are taken as UTF-8. Empty when no home is known.
std::wstring localApplicationDataFolder();

/// Finds and creates the data folder (every level we create gets mode 0700)
/// and on the first run of this version moves the previous version's "1.1"
/// folder to "1.2". On true `folder` holds the data folder without a trailing
/// separator; on false it is of no use. Logs nothing: start-up calls it
/// before the log exists.
///
/// When "1.1" cannot be moved, "1.2" is made empty and start-up goes on with
/// defaults; the old folder stays where it was.
bool prepareDataDirectory(std::wstring& folder);

/// True once prepareDataDirectory has tried to move the "1.1" folder, whether
/// the move succeeded or not; start-up then resets the stored folder paths.
bool dataDirectoryMigrated();

/// The same data folder, created when missing (no move of "1.1"). A folder
/// that cannot be made raises boost::filesystem::filesystem_error.
std::wstring getUserDataDirectory();

/// The folder of the running executable (/proc/self/exe). When it cannot be
/// found, logs an ERROR and stops the program (debug::stopProgram).
std::wstring getApplicationDirectory();

}  // namespace os
