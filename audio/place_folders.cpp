#include "audio/place_folders.h"

#include "base/pref.h"
#include "os/data_directory.h"

namespace frm {

namespace {

struct Place {
    const char* setting;
    const wchar_t* inDataFolder;
};

Place placeOf(PlaceFolder kind) {
    switch (kind) {
        case PlaceFolder::kServiceMessage:
            return {"place.pathDirServiceMessage", L"service"};
        case PlaceFolder::kAlarmMessage:
            return {"place.pathDirAlarmMessage", L"alarm"};
        case PlaceFolder::kRecordedMessage:
            return {"place.pathDirRecordedMessage", L"record"};
        case PlaceFolder::kGong:
            break;
    }
    return {"place.pathDirGong", L"gong"};
}

}  // namespace

std::wstring placeFolder(PlaceFolder kind, const std::wstring& dataFolder) {
    const Place place = placeOf(kind);
    const std::wstring folder = pref::getString(place.setting);
    return folder.empty() ? dataFolder + L"/" + place.inDataFolder : folder;
}

std::wstring placeFolder(PlaceFolder kind) {
    const std::wstring folder = pref::getString(placeOf(kind).setting);
    return folder.empty() ? placeFolder(kind, os::getUserDataDirectory()) : folder;
}

}  // namespace frm
