// Binding console zones to loudspeakers: both sides are written, the
// loudspeakers first, so that a console never announces into a virtual zone
// no loudspeaker listens to.
#include <algorithm>
#include <iterator>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"

namespace device {

namespace {

constexpr int kZoneIndex = 18;
constexpr int kLargestVirtualZone = 1023;

exception::UserResponse refusal(const wchar_t* codeWord) { return exception::UserResponse(codeWord); }

bool hasScenario(const boost::shared_ptr<OrvelInfo>& loudspeaker, int scenario) {
    const boost::shared_ptr<memory::IAudioControl> memory = loudspeaker->getAudioControl(false, true);
    for (const memory::ScenarioInfo& info : memory->getScenarios())
        if (static_cast<std::int16_t>(info.number) == scenario) return true;
    return false;
}

/// A message zone may not share loudspeakers with another message zone in
/// part, nor at all when both launch the same message.
void checkMessageZones(const ConsoleZoneMap& zones, const std::set<unsigned>& messageSet, int scenario) {
    for (const auto& entry : zones) {
        const ConsoleZone& zone = entry.second;
        if (zone.scenario == -1) continue;
        std::set<unsigned> common;
        std::set_intersection(messageSet.begin(), messageSet.end(), zone.addresses.begin(), zone.addresses.end(),
                              std::inserter(common, common.end()));
        if (!common.empty() && (common != zone.addresses || zone.scenario == scenario))
            throw refusal(L"partialIntersection");
    }
}

}  // namespace

void DeviceCollection::bindDevices(const boost::shared_ptr<TovikInfo>& console, int& zoneNumber, int scenario,
                                   const OrvelSet& loudspeakers) {
    LOG_TRACE(L"%1%", L"");
    // A missing console is the caller's fault, reported below; it plays nothing.
    if (console && console->hasInternalPlaying()) throw refusal(L"internalPlaying");
    for (const auto& loudspeaker : loudspeakers)
        if (loudspeaker->hasInternalPlaying()) throw refusal(L"internalPlaying");
    if (zoneNumber < 1 || zoneNumber > 20) throw refusal(L"incorrectZone");
    debug::throwIfFalse(static_cast<bool>(console), SV_PLACE);
    if (!console->isOnlineAndAnswered()) throw exception::Offline();
    const ConsoleZoneMap zones = console->getZones();
    if (zones.count(zoneNumber) != 0) throw refusal(L"zoneBusy");
    const bool broadcastConsole = console->getConfig(false).purpose() == 0;
    if (scenario != -1 && broadcastConsole) throw refusal(L"noFireType");
    debug::throwIfFalse(!loudspeakers.empty(), SV_PLACE);

    std::set<unsigned> messageSet;
    for (const auto& loudspeaker : loudspeakers) {
        if (!loudspeaker->isOnlineAndAnswered()) throw exception::Offline();
        loudspeaker->requireMinimumVersion(kZoneIndex);
        if (scenario == -1) continue;
        messageSet.insert(loudspeaker->getHardwareAddress().getLow());
        if (!hasScenario(loudspeaker, scenario)) throw refusal(L"noScenario");
    }
    if (scenario != -1) checkMessageZones(zones, messageSet, scenario);

    std::set<unsigned> addresses;
    for (const auto& loudspeaker : loudspeakers) addresses.insert(loudspeaker->getHardwareAddress().getLow());
    bool reused = false;
    const int virtualZone = chooseVirtualZone(console, zoneNumber, addresses, reused);

    const unsigned consoleAddress = console->getHardwareAddress().getLow();
    for (const auto& loudspeaker : loudspeakers) {
        loudspeaker->addZoneAnnouncement(virtualZone);
        loudspeaker->addZoneAddress(consoleAddress);
    }
    if (console->bindZone(zoneNumber, virtualZone, scenario, addresses) || reused) return;

    // The console refused: take back what this binding gave the
    // loudspeakers. The console's address stays on a loudspeaker that still
    // listens to another zone of the console; taking it would break that
    // binding.
    const std::set<int> consoleZones = virtualZonesOf(console->getZones());
    for (const auto& loudspeaker : loudspeakers) {
        loudspeaker->removeZoneAnnouncement(virtualZone);
        dropConsoleAddress(loudspeaker, consoleAddress, consoleZones);
    }
}

int DeviceCollection::chooseVirtualZone(const boost::shared_ptr<TovikInfo>& console, int zoneNumber,
                                        const std::set<unsigned>& addresses, bool& reused) {
    std::set<int> used;
    for (const auto& other : getTovikList(true)) {
        for (const auto& entry : other->getZones()) {
            if (entry.second.addresses == addresses) {
                // The same loudspeakers already hear a zone under this
                // number: they need nothing new but the console's address.
                reused = true;
                return entry.second.virtualZone;
            }
            used.insert(entry.second.virtualZone);
        }
    }
    const int preferred = static_cast<int>(console->getHardwareAddress().getLow() % 51) * 20 + zoneNumber;
    if (used.count(preferred) == 0) return preferred;
    for (int candidate = 1; candidate <= kLargestVirtualZone; ++candidate)
        if (used.count(candidate) == 0) return candidate;
    throw exception::InternalError(L"Свободная виртуальная зона не найдена");
}

void DeviceCollection::dropConsoleAddress(const boost::shared_ptr<OrvelInfo>& loudspeaker, unsigned consoleAddress,
                                          const std::set<int>& consoleZones) {
    for (int zone : loudspeaker->readZoneAnnouncements())
        if (consoleZones.count(zone) != 0) return;
    loudspeaker->removeZoneAddress(consoleAddress);
}

void DeviceCollection::unbindDevices(const boost::shared_ptr<TovikInfo>& console, int& zoneNumber) {
    LOG_TRACE(L"%1%", L"");
    debug::throwIfFalse(static_cast<bool>(console), SV_PLACE);
    if (console->getZones().count(zoneNumber) == 0) throw refusal(L"unknownZone");
    const ConsoleZone removed = console->findZone(zoneNumber);
    std::vector<boost::shared_ptr<OrvelInfo>> members;
    for (const auto& loudspeaker : getOrvelList(true))
        if (removed.addresses.count(loudspeaker->getHardwareAddress().getLow()) != 0) members.push_back(loudspeaker);
    if (console->hasInternalPlaying()) throw refusal(L"internalPlaying");
    for (const auto& loudspeaker : members)
        if (loudspeaker->hasInternalPlaying()) throw refusal(L"internalPlaying");

    debug::throwIfFalse(console->unbindZone(zoneNumber), SV_PLACE);
    const unsigned consoleAddress = console->getHardwareAddress().getLow();
    const std::set<int> remaining = virtualZonesOf(console->getZones());
    for (const auto& loudspeaker : members) dropConsoleAddress(loudspeaker, consoleAddress, remaining);

    // The virtual zone leaves the loudspeakers only with its last zone.
    for (const auto& other : getTovikList(true))
        for (const auto& entry : other->getZones())
            if (entry.second.virtualZone == removed.virtualZone) return;
    for (const auto& loudspeaker : getOrvelList(true)) {
        if (loudspeaker->getVersionIndex() < kZoneIndex) continue;
        if (loudspeaker->readZoneAnnouncements().count(removed.virtualZone) != 0)
            loudspeaker->removeZoneAnnouncement(removed.virtualZone);
    }
}

void DeviceCollection::rebindDevices(const boost::shared_ptr<TovikInfo>& console, int zoneNumber, int scenario,
                                     const OrvelSet& loudspeakers) {
    LOG_TRACE(L"%1%", L"");
    debug::throwIfFalse(static_cast<bool>(console), SV_PLACE);
    // Fresh online and answered flags for the checks of the binding.
    console->probeVolume();
    for (const auto& loudspeaker : loudspeakers) loudspeaker->probeVolume();
    if (console->getZones().count(zoneNumber) != 0) unbindDevices(console, zoneNumber);
    bindDevices(console, zoneNumber, scenario, loudspeakers);
}

bool DeviceCollection::setTovikConfig(const boost::shared_ptr<TovikInfo>& console, const TovikConfig& config,
                                      bool confirmed) {
    LOG_TRACE(L"%1%", L"");
    debug::throwIfFalse(static_cast<bool>(console), SV_PLACE);
    const TovikConfig current = console->getConfig(false);
    if (current.purpose() == 1 && config.purpose() == 0) {
        // A broadcast console launches no messages: its message zones go.
        std::vector<int> messageZones;
        for (const auto& entry : console->getZones())
            if (entry.second.scenario != -1) messageZones.push_back(entry.first);
        if (!messageZones.empty() && !confirmed) return false;
        for (int zone : messageZones) unbindDevices(console, zone);
    }
    console->setConfig(config);
    return true;
}

}  // namespace device
