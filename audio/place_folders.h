#pragma once

#include <string>

// The folders of the files the operator keeps and may move: service and
// alarm messages, recordings and gongs. Each has a "place.pathDir…"
// setting; an empty one (a new installation, or start-up after the data
// folder of the previous version was moved) means the kind's folder inside
// the data folder. Every reader of these folders asks here, so that a file
// is looked for in the same place by the pages and by the scheduler. Any
// thread.
namespace frm {

enum class PlaceFolder { kServiceMessage, kAlarmMessage, kRecordedMessage, kGong };

/// The setting's folder as it stands, or `dataFolder` + "/service",
/// "/alarm", "/record" or "/gong" when it is empty.
std::wstring placeFolder(PlaceFolder kind, const std::wstring& dataFolder);

/// The same over the program's data folder, which is only asked for (and
/// made when missing) when the setting is empty.
std::wstring placeFolder(PlaceFolder kind);

}  // namespace frm
