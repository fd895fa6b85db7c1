#pragma once

#include <cstdint>
#include <vector>

namespace frm {

/// The pages of the device property panel, named by the window ids of their
/// page panels (the id, not the position, identifies a page everywhere), and
/// the page set that each kind of device gets. No window; constant data, any
/// thread.
namespace property_pages {

enum PageId : int {
    kCommon = 1000,
    kAudioMemory = 1001,
    kNetwork = 1015,
    kZarno = 1023,
    kSource = 1027,
    kLineControl = 1028,
    kPasskey = 1029,
    kZones = 1030,
    kLinkedConsoles = 1031,
    kDebugMessage = 1032,
};

/// Page ids in ascending order.
using PageSet = std::vector<int>;

/// The pages of a device, in ascending order, first rule that matches:
/// both bits of 0x300000 in the type code: the Orvel-510 set; a loudspeaker
/// (bit 0x100000) with a firmware-version index of 18 or more: the
/// loudspeaker set with "Связанные консоли"; any other loudspeaker: the
/// loudspeaker set; bit 0x800000: the console set; otherwise no page. The
/// debug page belongs to every set but is left out without `debugMode`.
/// `versionIndex` counts for loudspeakers only.
PageSet pageSet(std::uint64_t typeCode, int versionIndex, bool debugMode);

/// The name a page goes by in the log ("ID_PAGE_COMMON"), or null for the
/// two zone pages, which have none.
const char* logName(int pageId);

}  // namespace property_pages
}  // namespace frm
