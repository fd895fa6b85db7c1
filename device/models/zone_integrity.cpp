// The zone-binding check: both sides of every binding compared over all
// online devices, and the repair of one device from its findings.
#include <boost/thread/locks.hpp>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"

namespace device {

namespace {

constexpr base::LogPlace kSearchPlace("device::DeviceCollection::searchForDevicesWithBrokenTranslationZones");
constexpr int kZoneIndex = 18;

std::string addressSetText(const std::set<unsigned>& addresses) {
    std::string text = "[";
    for (unsigned address : addresses) text += (text.size() > 1 ? "," : "") + zoneAddressText(address);
    return text + "]";
}

/// The findings of one search, recorded as they are logged.
class Findings {
public:
    void add(const boost::shared_ptr<DeviceBase>& device, int key, unsigned address) {
        m_report[device][key].insert(net::HardwareAddress(address));
    }
    void addStray(const boost::shared_ptr<DeviceBase>& device, int virtualZone) { m_report[device][virtualZone]; }
    DeviceCollection::BrokenZonesReport take() { return std::move(m_report); }

private:
    DeviceCollection::BrokenZonesReport m_report;
};

}  // namespace

boost::shared_ptr<DeviceBase> DeviceCollection::findByZoneAddress(unsigned address) const {
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    for (const auto& entry : m_devices)
        if (entry.first.getLow() == address) return entry.second;
    return boost::shared_ptr<DeviceBase>();
}

DeviceCollection::BrokenZonesReport DeviceCollection::searchForDevicesWithBrokenTranslationZones() {
    LOG_TRACE(L"%1%", L"");
    Findings found;
    const std::vector<boost::shared_ptr<TovikInfo>> consoles = getTovikList(true);

    // Consoles: every loudspeaker of every zone must listen to it.
    for (const auto& console : consoles) {
        const unsigned consoleAddress = console->getHardwareAddress().getLow();
        for (const auto& entry : console->getZones()) {
            const ConsoleZone& zone = entry.second;
            for (unsigned address : zone.addresses) {
                const boost::shared_ptr<DeviceBase> device = findByZoneAddress(address);
                const boost::shared_ptr<OrvelInfo> loudspeaker = boost::dynamic_pointer_cast<OrvelInfo>(device);
                const std::string member = zoneAddressText(address);
                if (!device) {
                    kSearchPlace.debug(L"The Tovik '%1%[%2%]' is bound with unknown orvel '%3%'", console->getId(),
                                       zone.zoneNumber, member);
                } else if (!loudspeaker) {
                    kSearchPlace.important(L"Tovik '%1%[%2%]' is bound with Tovik '%3%'!!!", console->getId(),
                                           zone.zoneNumber, device->getId());
                } else if (!loudspeaker->isOnlineAndAnswered()) {
                    kSearchPlace.debug(L"Tovik (%1%) has an offline orvel (%2%,%3%) in a zone (%4%).",
                                       console->getId(), loudspeaker->getId(), member, zone.zoneNumber);
                } else if (loudspeaker->readZoneAnnouncements().count(zone.virtualZone) == 0) {
                    kSearchPlace.debug(L"There is no virtual zone on orvel (%1%,%2%) for tovik zone (%3%[%4%,%5%])",
                                       loudspeaker->getId(), member, console->getId(), zone.zoneNumber,
                                       zone.virtualZone);
                } else if (loudspeaker->readZoneAddresses().count(consoleAddress) == 0) {
                    kSearchPlace.debug(L"Orvel (id=%1%) doesn't have bound tovik (id=%2%,hw=%3%,zone=%4%[%5%]).",
                                       loudspeaker->getId(), console->getId(), zoneAddressText(consoleAddress), zone.zoneNumber,
                                       zone.virtualZone);
                } else {
                    continue;
                }
                found.add(console, zone.zoneNumber, address);
            }
        }
    }

    // Loudspeakers: every console address must name a reachable console
    // whose zones use one of the loudspeaker's virtual zones; every virtual
    // zone must be used by a reachable console it names.
    for (const auto& loudspeaker : getOrvelList(true)) {
        if (loudspeaker->getVersionIndex() < kZoneIndex) continue;
        const std::set<int> announcements = loudspeaker->readZoneAnnouncements();
        std::set<int> unexplained = announcements;
        for (unsigned address : loudspeaker->readZoneAddresses()) {
            const boost::shared_ptr<DeviceBase> device = findByZoneAddress(address);
            const boost::shared_ptr<TovikInfo> console = boost::dynamic_pointer_cast<TovikInfo>(device);
            const std::string member = zoneAddressText(address);
            bool broken = true;
            if (!device) {
                kSearchPlace.debug(L"The Orvel '%1%' is bound with unknown Tovik '%2%'", loudspeaker->getId(), member);
            } else if (!console) {
                kSearchPlace.important(L"Orvel '%1%' is bound with Orvel '%2%'!!!", loudspeaker->getId(),
                                       device->getId());
            } else if (!console->isOnlineAndAnswered()) {
                kSearchPlace.debug(L"Orvel (%1%) has an offline tovik (%2%,%3%)", loudspeaker->getId(),
                                   console->getId(), member);
            } else {
                const std::set<int> consoleZones = virtualZonesOf(console->getZones());
                bool shared = false;
                for (int zone : announcements) shared = shared || consoleZones.count(zone) != 0;
                broken = !announcements.empty() && !shared;
                if (broken)
                    kSearchPlace.debug(L"Orvel (%1%,%2%) don't have source virtual zone on tovik side (%3%,%4%)",
                                       loudspeaker->getId(), zoneSetText(announcements), console->getId(),
                                       zoneSetText(consoleZones));
                for (int zone : consoleZones) unexplained.erase(zone);
            }
            if (broken) found.add(loudspeaker, static_cast<int>(address), address);
        }
        for (int zone : unexplained) {
            kSearchPlace.debug(L"Orvel (%1%) has unknown virtual zone %2%", loudspeaker->getId(), zone);
            found.addStray(loudspeaker, zone);
        }
    }

    // Consoles again: one virtual zone must stand for one set of loudspeakers.
    std::map<int, std::set<unsigned>> firstSets;
    for (const auto& console : consoles) {
        for (const auto& entry : console->getZones()) {
            const ConsoleZone& zone = entry.second;
            const auto first = firstSets.emplace(zone.virtualZone, zone.addresses).first;
            if (first->second == zone.addresses) continue;
            kSearchPlace.debug(L"Tovik=%1% has dissimilar virtual zone=%2% with devices=%3% != %4%", console->getId(),
                               zone.virtualZone, addressSetText(first->second), addressSetText(zone.addresses));
            for (unsigned address : zone.addresses) found.add(console, zone.zoneNumber, address);
        }
    }
    return found.take();
}

void DeviceCollection::fixIntegrity(const boost::shared_ptr<DeviceBase>& device) {
    LOG_TRACE(L"%1%", L"");
    debug::throwIfFalse(static_cast<bool>(device), SV_PLACE);
    if (device->hasInternalPlaying()) throw exception::UserResponse(L"internalPlaying");
    const BrokenZonesReport report = searchForDevicesWithBrokenTranslationZones();
    const auto found = report.find(device);
    if (found == report.end()) throw exception::UserResponse(L"none");

    if (const boost::shared_ptr<TovikInfo> console = boost::dynamic_pointer_cast<TovikInfo>(device)) {
        for (const auto& entry : found->second) {
            std::set<unsigned> dropped;
            for (const net::HardwareAddress& address : entry.second) dropped.insert(address.getLow());
            const ConsoleZone zone = console->findZone(entry.first);
            std::set<unsigned> kept;
            for (unsigned address : zone.addresses)
                if (dropped.count(address) == 0) kept.insert(address);
            console->unbindZone(entry.first);
            if (kept.empty()) continue;
            // The zone is gone from the console now: a refusal to write it
            // back must not read as a repair.
            debug::throwIfFalse(console->bindZone(entry.first, zone.virtualZone, zone.scenario, kept), SV_PLACE,
                                L"The repaired zone isn't written back");
        }
        return;
    }
    if (const boost::shared_ptr<OrvelInfo> loudspeaker = boost::dynamic_pointer_cast<OrvelInfo>(device)) {
        for (const auto& entry : found->second) {
            if (entry.second.empty())
                loudspeaker->removeZoneAnnouncement(entry.first);
            else
                loudspeaker->removeZoneAddress(static_cast<unsigned>(entry.first));
        }
        return;
    }
    throw exception::ServerError();
}

}  // namespace device
