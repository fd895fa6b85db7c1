#include "gui/property_pages.h"

#include <algorithm>

#include "device/version.h"

namespace frm {
namespace property_pages {

PageSet pageSet(std::uint64_t typeCode, int versionIndex, bool debugMode) {
    const auto has = [typeCode](std::uint64_t mask) { return (typeCode & mask) == mask; };
    PageSet set;
    if (has(device::kMaskOrvel510))
        set = {kCommon, kAudioMemory, kNetwork, kZarno, kDebugMessage};
    else if (has(device::kMaskLoudspeaker) && versionIndex >= 18)
        set = {kCommon, kAudioMemory, kNetwork,        kZarno,
               kSource, kLineControl, kLinkedConsoles, kDebugMessage};
    else if (has(device::kMaskLoudspeaker))
        set = {kCommon, kAudioMemory, kNetwork, kZarno, kSource, kLineControl, kDebugMessage};
    else if (has(device::kMaskConsole))
        set = {kCommon, kAudioMemory, kNetwork, kZarno, kPasskey, kZones, kDebugMessage};
    if (!debugMode) set.erase(std::remove(set.begin(), set.end(), kDebugMessage), set.end());
    return set;
}

const char* logName(int pageId) {
    switch (pageId) {
        case kCommon:
            return "ID_PAGE_COMMON";
        case kAudioMemory:
            return "ID_PAGE_AUDIO_MEMORY";
        case kNetwork:
            return "ID_PAGE_NETWORK";
        case kZarno:
            return "ID_PAGE_ZARNO";
        case kSource:
            return "ID_PAGE_SOURCE";
        case kLineControl:
            return "ID_PAGE_LINE_CONTROL";
        case kPasskey:
            return "ID_PAGE_PASSKEY";
        case kDebugMessage:
            return "ID_PAGE_DEBUG_MESSAGE";
        default:
            return nullptr;
    }
}

}  // namespace property_pages
}  // namespace frm
