#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <boost/shared_ptr.hpp>

#include "base/hardware_address.h"

namespace device {
class DeviceBase;
class DeviceCollection;
}  // namespace device

// device_collection.xml: every device the system has known, so that the
// collection holds them before their first state packet. It is a cache:
// what it lacks comes back with the devices' state packets. GUI thread
// (start-up and shutdown); no shared state.
//
// The file:
//   device_collection
//     device (repeated; any element name is read as a device)
//       hardware_address "XX:XX:XX:XX:XX:XX", type (model name), name, ip
namespace frm {

/// One device of the file, ready for DeviceCollection::addDevice.
struct DeviceListEntry {
    net::HardwareAddress address{0u, 0u};
    /// The model name; "Orvel-610" when the file gives none.
    std::wstring type;
    /// The title; empty when the file gives none.
    std::wstring title;
    /// Dotted quad; "0.0.0.0" when the file gives none or a bad one.
    std::string ip;
};

/// Reads the entries with a valid hardware address and a known model (or
/// none), in file order. The others are skipped, each with an INFO line,
/// and the file as it was is copied aside (storage::keepCopy) with one WARN
/// naming it, since the next save writes only what loaded. An entry whose
/// address came before is skipped with an INFO line each and one WARN for
/// the file with their count. Without the file (or with one that
/// storage::load sets aside): "Device collection not loaded." and false.
/// A file without the root "device_collection" is set aside as
/// "<path>.bad" (so that the next save does not replace it) and gives false.
bool readDeviceList(const std::wstring& path, std::vector<DeviceListEntry>& entries);

/// The file's tree for these devices, in their order.
boost::property_tree::wptree deviceListTree(
    const std::vector<boost::shared_ptr<device::DeviceBase>>& devices);

/// Adds every entry of the file to the collection, each with the id
/// `nextId` hands out (the main window's device counter).
void loadDeviceCollection(const std::wstring& path, device::DeviceCollection& collection,
                          const std::function<std::uint32_t()>& nextId);

/// Writes every device of the collection; call before the collection stops
/// (stopping empties it).
void saveDeviceCollection(const std::wstring& path, device::DeviceCollection& collection);

}  // namespace frm
