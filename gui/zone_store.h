#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

// zone_collection.xml, the operator's zone tree, without any window: the
// reader walks the file and hands each zone to a builder, the writer is a
// builder that makes the file's tree. The zone tree of the main window
// (zone_element.h) is the builder at start-up and feeds the writer at
// shutdown. GUI thread (start-up and shutdown); no shared state.
//
// The file:
//   zone_collection
//     zone (repeated)
//       name, enableVolume ("true"/"false"), volume (decimal),
//       devices: hardware_address (repeated), written even when empty,
//       zones: zone (repeated, the same shape), written even when empty.
namespace frm {

/// One zone of the file, without its sub-zones.
struct ZoneEntry {
    std::wstring name;
    bool enableVolume = false;
    std::uint32_t volume = 0;
    /// The texts of its hardware addresses, in file order.
    std::vector<std::string> addresses;
};

/// What a walk of the zone tree is handed, depth first: each zone, then its
/// sub-zones, then the end of that zone.
class ZoneBuilder {
public:
    virtual ~ZoneBuilder() = default;
    /// A zone inside the zone entered last and not yet left (at first: the
    /// root, which the file does not hold).
    virtual void enterZone(const ZoneEntry& zone) = 0;
    virtual void leaveZone() = 0;
};

/// Reads the file and returns its "zone_collection" node. A file that can't
/// be read leaves `collection` alone and returns false with the EXTERN line
/// "Skip loading zones" (a damaged one is set aside by storage::load); a
/// well-formed file without "zone_collection" is set aside as "<path>.bad"
/// as well.
bool readZoneFile(const std::wstring& path, boost::property_tree::wptree& collection);

/// Walks the zones under `collection`. A missing or bad field takes its
/// default (empty name, false, 0, no devices, no zones) with a WARN naming
/// `path`, and the walk goes on. Volume keeps only its decimal digits
/// ("8 5" is 85); enableVolume is "true", "false" or a decimal number. A
/// device address that is no hardware address is left out alone (an INFO
/// line each); then the file at `path` is copied aside (storage::keepCopy)
/// with one WARN naming the zones, since the next save writes them without
/// it.
void readZones(const boost::property_tree::wptree& collection, const std::wstring& path,
               ZoneBuilder& builder);

/// Builds the tree of the file under a "zone_collection" node, each field
/// in the file's order.
class ZoneFileWriter : public ZoneBuilder {
public:
    explicit ZoneFileWriter(boost::property_tree::wptree& collection);
    void enterZone(const ZoneEntry& zone) override;
    void leaveZone() override;

private:
    /// The node that receives the next zone: the collection, then the
    /// "zones" of each zone entered.
    std::vector<boost::property_tree::wptree*> m_lists;
};

}  // namespace frm
