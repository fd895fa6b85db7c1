#pragma once

#include <string>
#include <vector>

namespace frm {

/// The command suites of the device console: named lists of command lines,
/// one text file per suite, "<folder>/<name>.txt", UTF-8 without a
/// byte-order mark and with a line feed after every line. The names come
/// from the operator, so each is checked before it becomes a path: nothing
/// outside the folder is ever read, written or removed. No window; the
/// command-suite dialog calls it on the GUI thread.
class CommandSuiteFolder {
public:
    /// Creates the folder with its missing parents; a folder that cannot be
    /// made raises boost::filesystem::filesystem_error.
    explicit CommandSuiteFolder(std::wstring folder);

    /// A name that stays inside the folder: neither "." nor "..", and no
    /// "/", "\" or NUL. The empty name is valid (the file ".txt").
    static bool isValidName(const std::wstring& name);

    /// The names of the folder's regular files that end with ".txt", without
    /// the extension, sorted.
    std::vector<std::wstring> names() const;

    /// Whether anything (a file or a folder) is at the suite's path.
    bool exists(const std::wstring& name) const;

    /// The suite's lines in file order: a last line without its line feed
    /// counts, a final line feed adds no empty line, and a carriage return
    /// before a line feed (a file written on Windows) is dropped. A file
    /// that cannot be read gives no lines.
    std::vector<std::wstring> read(const std::wstring& name) const;

    /// Replaces the suite's file with the lines, never leaving it half
    /// written. On false `error` says in the operator's words why, and the
    /// old file is kept.
    bool write(const std::wstring& name, const std::vector<std::wstring>& lines, std::wstring& error) const;

    /// Removes the suite's file; a missing one is no error, and a folder of
    /// that name is left alone. Other failures raise
    /// boost::filesystem::filesystem_error.
    void remove(const std::wstring& name) const;

    /// The suite's path. An invalid name raises exception::InternalError.
    std::wstring path(const std::wstring& name) const;

    const std::wstring& folder() const { return m_folder; }

private:
    std::wstring m_folder;
};

}  // namespace frm
