#pragma once

#include <string>

// The files of the microphone page's recorded messages: where they are kept,
// where a recording in progress is written, which names may become file
// names, and the move of a finished recording into the folder. No windows;
// any thread (the page calls them on the GUI thread).
namespace frm {

/// The recorded-message folder with a trailing "/": the setting
/// "place.pathDirRecordedMessage" when it is not empty, else "record" in the
/// data folder.
std::wstring recordedMessageFolder();

/// The file the alarm channel records the microphone into, in a folder of
/// this user only: "$XDG_RUNTIME_DIR/sonvar", else "tmp" in the data folder
/// (made with mode 0700 when missing). Not the shared temporary folder,
/// where another user's file of the same name could stand.
std::wstring temporaryRecordPath();

/// A name the operator typed may name a file of the folder: not empty, not
/// "." or "..", no "/" or "\" (a path out of the folder), no control
/// characters.
bool isSafeRecordName(const std::wstring& name);

/// Whether the recording holds sound: an MPEG audio frame other than an
/// encoder's summary frame, within its first 256 KiB (after an ID3v2 tag).
/// A missing or empty file, or one the capture never wrote a frame into,
/// has none.
bool recordingHasAudio(const std::wstring& path);

/// Moves the file `from` to `to`, which must not exist yet. A rename across
/// file systems (the runtime folder is usually a tmpfs) becomes a copy and
/// a delete; a copy that fails leaves no partial target behind. False when
/// the file was not moved.
bool moveRecording(const std::wstring& from, const std::wstring& to);

}  // namespace frm
