// The loudspeaker's side of the console-zone binding: its announcement zones
// and zone addresses, each with a read cache.
#include <boost/thread/locks.hpp>

#include "device/models/orvel_info.h"
#include "device/models/zone_replies.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

/// The first firmware generation that keeps the zone lists.
constexpr int kZoneIndex = 18;

}  // namespace

void OrvelInfo::addZoneAnnouncement(int virtualZone) {
    requireMinimumVersion(kZoneIndex);
    // Read without the lock: a stale answer costs one extra request or skips
    // one for a zone the loudspeaker holds anyway.
    if (m_announcementsValid.load()) {
        DeviceLock lock(m_lock);
        if (m_announcements.count(virtualZone) != 0) return;
    }
    transfer("zoneAnnAdd " + std::to_string(virtualZone));
    m_announcementsValid = false;
}

void OrvelInfo::removeZoneAnnouncement(int virtualZone) {
    requireMinimumVersion(kZoneIndex);
    transfer("zoneAnnDel " + std::to_string(virtualZone));
    m_announcementsValid = false;
}

std::set<int> OrvelInfo::readZoneAnnouncements() {
    {
        DeviceLock lock(m_lock);
        if (m_announcementsValid.load()) return m_announcements;
        m_announcements.clear();
    }
    if (getVersionIndex() >= kZoneIndex) {
        const std::string reply = transfer("zoneAnnRead");
        const std::set<int> zones = parseZoneAnnouncements(reply);
        DeviceLock lock(m_lock);
        m_announcements = zones;
    }
    DeviceLock lock(m_lock);
    m_announcementsValid = true;
    return m_announcements;
}

void OrvelInfo::addZoneAddress(unsigned address) {
    requireMinimumVersion(kZoneIndex);
    if (m_zoneAddressesValid.load()) {
        DeviceLock lock(m_lock);
        if (m_zoneAddresses.count(address) != 0) return;
    }
    transfer("zoneAddrAdd " + zoneAddressText(address));
    m_zoneAddressesValid = false;
}

void OrvelInfo::removeZoneAddress(unsigned address) {
    requireMinimumVersion(kZoneIndex);
    transfer("zoneAddrDel " + zoneAddressText(address));
    m_zoneAddressesValid = false;
}

std::set<unsigned> OrvelInfo::readZoneAddresses() {
    if (getVersionIndex() < kZoneIndex) return {};
    {
        DeviceLock lock(m_lock);
        if (m_zoneAddressesValid.load()) return m_zoneAddresses;
    }
    const std::set<unsigned> addresses = parseZoneAddresses(transfer("zoneAddrRead"));
    DeviceLock lock(m_lock);
    m_zoneAddresses = addresses;
    m_zoneAddressesValid = true;
    return m_zoneAddresses;
}

}  // namespace device
