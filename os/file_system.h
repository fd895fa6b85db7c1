#pragma once

#include <string>

// Small file-system calls of our own in place of the platform's folder and
// file functions. Paths are wide here and UTF-8 on the system side, so a
// Cyrillic home folder works whatever the process locale is.
namespace os {

/// Makes the folder the process's current directory (chdir).
bool setCurrentDirectory(const std::wstring& folder);

/// Renames a file or a whole folder within one file system (rename).
bool moveFile(const std::wstring& from, const std::wstring& to);

/// True when the path names an existing folder.
bool folderExists(const std::wstring& folder);

/// Creates the folder and every missing level above it with mode 0700 (the
/// data folder holds the operator's settings and passwords). An existing
/// folder counts as success; on failure the errno value is returned, else 0.
int createFolders(const std::wstring& folder);

}  // namespace os
