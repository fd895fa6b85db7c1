#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <string>

// device_playback.xml, the removable-medium page's state, without any
// window: which medium the page lists, the item it was at and whether it
// was playing when the program ended. GUI thread (start-up and shutdown);
// no shared state.
//
// The file:
//   device            always; empty while the page has no medium
//     disk            the medium's mount point, when the page has one
//     current         the path of the playlist's current item, when the
//                     playlist has items and has not ended
//     playback        "true" when the page's playlist was playing; never
//                     written as false
namespace frm {

struct DevicePlayback {
    std::wstring disk;
    /// Empty: no "current" element.
    std::wstring current;
    bool playback = false;
};

/// The file's tree; "current" and "playback" only with a disk.
boost::property_tree::wptree devicePlaybackTree(const DevicePlayback& state);

/// Reads the file. False, with the EXTERN line "List of Playlist not
/// loaded", when there is no readable file; a well-formed file without its
/// "device" element is also set aside as "<path>.bad". A "playback" other
/// than "true" or "1" counts as false.
bool readDevicePlayback(const std::wstring& path, DevicePlayback& state);

}  // namespace frm
