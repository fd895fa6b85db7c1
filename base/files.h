#pragma once

#include <string>
#include <vector>

// Whole-file helpers and the path helpers of the source panels. Paths are
// wide here and UTF-8 towards the system; the separator is "/".
namespace base {

/// The file's bytes exactly. A file that cannot be opened or read logs at
/// IMPOR and raises exception::ExternalError.
std::string readFile(const std::wstring& path);

/// Replaces the file's content with the bytes (an existing file is
/// truncated). Returns true; failures log and raise exception::ExternalError.
bool writeFile(const std::wstring& path, const std::string& bytes);

/// The file's bytes without logging or raising: 0, or the errno value of the
/// failure (EISDIR for anything but a regular file).
int tryReadFile(const std::wstring& path, std::string& bytes);

/// Replaces a file without ever leaving it half written: the bytes go to
/// "<path>.tmp", are synced and read back, and only then renamed over the
/// old file. On false the old file is untouched, the temporary file is gone
/// and `error` says what failed, `code` (when given) its errno value (EIO
/// when the copy read back differs). Logs nothing; the callers word the error.
bool replaceFile(const std::wstring& path, const std::string& bytes, std::string& error, int* code = nullptr);

/// How many copies of one damaged file asideName leaves: the first and the
/// newest ones, so that a file damaged at every start cannot fill the disk.
constexpr int kKeptAsideCopies = 5;

/// A free name for keeping a damaged copy of the file: "<path>.bad" while
/// that is free, else "<path>.bad.N" one above the highest N in use, so that
/// an earlier copy is never overwritten. Removes the oldest numbered copies
/// beyond kKeptAsideCopies - 1 (the first copy, "<path>.bad", stays).
std::wstring asideName(const std::wstring& path);

/// An earlier copy of the file kept aside ("<path>.bad" or "<path>.bad.N")
/// whose bytes are `bytes`; empty when there is none.
std::wstring sameAsideCopy(const std::wstring& path, const std::string& bytes);

/// Keeps the file's bytes as they are now beside it: copied to a free name
/// (asideName), unless an earlier copy holds the same bytes, which then
/// stands for this one (a file the operator took back from its copy makes
/// no second one). The copy's name; empty when none could be made.
std::wstring copyAside(const std::wstring& path);

/// Moves the file out of its place to a free name (asideName); when an
/// earlier copy holds the same bytes the file is removed instead, that copy
/// keeping them. The name its bytes are kept under; empty when the file
/// stays where it was.
std::wstring moveAside(const std::wstring& path);

}  // namespace base

/// The files of a folder (with `recursive`, of its sub-folders too; hidden
/// entries are skipped) whose names end with one of the masks, compared
/// without regard to case. Masks are separated by ";" and only their part
/// from the last "." counts ("*.mp3;*.wav"); a mask without "." matches every
/// file, and so do an empty mask list and "*". Full paths, in the order the
/// folder lists them, each folder's files before its sub-folders'.
std::vector<std::wstring> getFilesByMask(bool recursive, const std::wstring& folder,
                                         const std::wstring& masks);

/// The part after the last "/", with the extension cut when asked.
std::wstring getFileName(const std::wstring& path, bool cutExtension = false);

/// When no file exists at `path` but one of the same name exists in
/// `folder`, points `path` there. True when a file exists at the result.
bool makeAbsolutePath(std::wstring& path, const std::wstring& folder);
