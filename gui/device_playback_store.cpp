#include "gui/device_playback_store.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/property_tree/ptree.hpp>

#include "base/log.h"
#include "base/storage.h"

namespace frm {

using boost::property_tree::wptree;

wptree devicePlaybackTree(const DevicePlayback& state) {
    wptree tree;
    wptree& device = tree.add_child(L"device", wptree());
    if (state.disk.empty()) return tree;
    device.add(L"disk", state.disk);
    if (!state.current.empty()) device.add(L"current", state.current);
    if (state.playback) device.add(L"playback", L"true");
    return tree;
}

bool readDevicePlayback(const std::wstring& path, DevicePlayback& state) {
    wptree tree;
    if (!storage::load(path, tree)) {
        LOG_EXTERN(L"List of Playlist not loaded");
        return false;
    }
    const auto device = tree.get_child_optional(L"device");
    if (!device) {
        // Without its root the file says nothing of ours: kept for the
        // operator, and written anew at exit.
        storage::setAside(path, "no element device");
        LOG_EXTERN(L"List of Playlist not loaded");
        return false;
    }
    state = DevicePlayback();
    state.disk = device->get(L"disk", std::wstring());
    state.current = device->get(L"current", std::wstring());
    const std::wstring playback = boost::algorithm::trim_copy(device->get(L"playback", std::wstring()));
    state.playback = playback == L"true" || playback == L"1";
    return true;
}

}  // namespace frm
