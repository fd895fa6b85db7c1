#include "gui/property_page_reads.h"

#include <boost/pointer_cast.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/equalizer.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"

namespace frm {
namespace page_reads {

CommonPage readCommonPage(const DevicePtr& device, const Wanted& wanted) {
    CommonPage page;
    page.title = device->getTitle();
    if (const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(device)) {
        page.consoleConfig = console->getConfig(false);
        checkWanted(wanted);
        // The gong is a fragment of the console's memory, named by its id.
        if (const auto memory = device->getAudioControl(false, false)) page.gongs = memory->getFragments();
    } else if (const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device)) {
        page.loudspeaker = true;
        page.versionIndex = loudspeaker->getVersionIndex();
        page.equalizer = loudspeaker->getEqualizer();
        if (page.versionIndex >= kFirstLineIndex && page.versionIndex <= kLastLineIndex) {
            checkWanted(wanted);
            page.lineConfig = loudspeaker->getConfig(false);
        }
    }
    return page;
}

MemoryPage readMemoryPage(const DevicePtr& device, bool overwrite, const Wanted& wanted) {
    MemoryPage page;
    try {
        page.control = device->getAudioControl(overwrite, true);
        checkWanted(wanted);
        if (page.control) {
            page.fragments = page.control->getFragments().size();
            page.pending = page.control->hasChanges();
        }
    } catch (const exception::Base& e) {
        page.control.reset();
        page.failed = true;
        page.failure = e.what();
        const bool unreadable = dynamic_cast<const exception::IncorrectFormat*>(&e) != nullptr ||
                                dynamic_cast<const exception::UnknownVersionOfAudioMemory*>(&e) != nullptr;
        // A console's memory is never replaced, and a silent device is no
        // case for it.
        page.overwriteMends =
            unreadable && static_cast<bool>(boost::dynamic_pointer_cast<device::OrvelInfo>(device));
    }
    return page;
}

NetworkPage readNetworkPage(const DevicePtr& device, const Wanted& wanted) {
    NetworkPage page;
    page.config = device->readConfig(false);
    checkWanted(wanted);
    page.addresses = device->readConfig(true);
    return page;
}

device::ConfigCommon readZarnoPage(const DevicePtr& device, const Wanted&) {
    return device->readConfig(true);
}

SourcePage readSourcePage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker, const Wanted& wanted) {
    SourcePage page;
    page.versionIndex = loudspeaker->getVersionIndex();
    page.config = loudspeaker->getConfig(false);
    if (page.versionIndex >= kFirstInputMessageIndex) {
        checkWanted(wanted);
        // The inputs' messages are scenarios of the audio memory, named by id.
        if (const auto memory = loudspeaker->getAudioControl(false, false))
            page.scenarios = memory->getScenarios();
    }
    return page;
}

LinePage readLinePage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker, page_jobs::RefreshGate& gate,
                      const Wanted& wanted) {
    LinePage page;
    const std::uint64_t sequence = gate.startRead();
    if (line_control::isAvailable(*loudspeaker)) {
        page.snapshot = line_control::read(*loudspeaker, false);
        if (page.snapshot.read && page.snapshot.refusal.empty()) {
            checkWanted(wanted);
            page.powerSave = loudspeaker->getLineControl()->getPowerSaveMode();
        }
    }
    page.snapshot.sequence = sequence;
    return page;
}

PasskeyPage readPasskeyPage(const boost::shared_ptr<device::TovikInfo>& console, const Wanted& wanted) {
    PasskeyPage page;
    page.listening = console->isPasskeyListening();
    checkWanted(wanted);
    page.keys = console->listPasskeys();
    device::TovikInfo::Config config = console->getConfig(false);
    page.accessControl = config.passkey && !page.keys.empty();
    if (config.passkey != page.accessControl) {
        config.passkey = page.accessControl;
        console->setConfig(config);
    }
    return page;
}

namespace {

/// The integrity check over every online device; empty when a device could
/// not be read (logged): one silent loudspeaker must not close the pages of
/// every console, which the main window refills on its periodic refresh.
device::DeviceCollection::BrokenZonesReport brokenBindings(device::DeviceCollection& collection) {
    try {
        return collection.searchForDevicesWithBrokenTranslationZones();
    } catch (const exception::Base& e) {
        LOG_INFO(L"The zone bindings are not checked: %1%", base::toWide(e.what()));
        return device::DeviceCollection::BrokenZonesReport();
    }
}

}  // namespace

boost::shared_ptr<device::memory::IAudioControl> memoryOf(
    const boost::shared_ptr<device::OrvelInfo>& loudspeaker) {
    try {
        return loudspeaker->getAudioControl(false, true);
    } catch (const exception::Base& e) {
        LOG_INFO(L"The audio memory of device id=%1% is not read: %2%", loudspeaker->getId(),
                 base::toWide(e.what()));
        return boost::shared_ptr<device::memory::IAudioControl>();
    }
}

ZonePage readZonePage(const boost::shared_ptr<device::TovikInfo>& console,
                      device::DeviceCollection& collection, int zone, bool debugMode, const Wanted& wanted) {
    ZonePage page;
    const device::TovikInfo::State state = console->getState();
    page.masks = zone_page::ZoneMasks{state.boundZones, state.connectedZones, state.activatedZones};
    const device::DeviceCollection::BrokenZonesReport report = brokenBindings(collection);
    checkWanted(wanted);
    page.zones = console->getZones();
    const auto entry = report.find(console);
    if (entry != report.end()) {
        page.broken = true;
        page.brokenZones = entry->second;
    }
    page.zone = zone_page::zoneRecord(page.zones, zone);

    page.loudspeakers = collection.getOrvels(false);
    std::vector<zone_page::Loudspeaker> facts;
    for (const auto& loudspeaker : page.loudspeakers)
        facts.push_back({loudspeaker->getHardwareAddress().getLow(), loudspeaker->getVersionIndex(),
                         loudspeaker->isOnlineAndAnswered(), loudspeaker->getTitle(),
                         base::toWide(loudspeaker->getHardwareAddress().toCharArray())});
    page.rows = zone_page::targetRows(
        facts, page.zone, zone_page::brokenTargets(page.broken ? &page.brokenZones : nullptr, zone),
        debugMode);
    // The messages offered are those of the first listed loudspeaker that
    // answers and whose memory can be read.
    for (const zone_page::TargetRow& row : page.rows) {
        if (!row.loudspeaker) continue;
        const boost::shared_ptr<device::OrvelInfo>& loudspeaker = page.loudspeakers[*row.loudspeaker];
        if (!loudspeaker->isOnlineAndAnswered()) continue;
        checkWanted(wanted);
        if (const auto memory = memoryOf(loudspeaker)) {
            page.messages = memory->getScenarios();
            break;
        }
    }
    checkWanted(wanted);
    page.purpose = console->getConfig(false).purpose();
    return page;
}

LinkedPage readLinkedPage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker,
                          device::DeviceCollection& collection, bool debugMode, const Wanted& wanted) {
    LinkedPage page;
    const std::set<unsigned> addresses = loudspeaker->readZoneAddresses();
    checkWanted(wanted);
    page.consoles = collection.getTovikList(false);
    std::vector<zone_page::Console> facts;
    for (const auto& console : page.consoles)
        facts.push_back(
            {console->getHardwareAddress().getLow(), console->isOnlineAndAnswered(), console->getTitle()});
    page.rows = zone_page::linkedConsoleRows(addresses, facts, debugMode);
    page.broken = brokenBindings(collection).count(loudspeaker) != 0;
    return page;
}

TickedMemories compareMemories(const std::vector<boost::shared_ptr<device::OrvelInfo>>& ticked,
                               const Wanted& wanted) {
    TickedMemories found;
    boost::shared_ptr<device::memory::IAudioControl> first;
    std::string stamp;
    found.same = !ticked.empty();
    for (std::size_t n = 0; n < ticked.size() && found.same; ++n) {
        checkWanted(wanted);
        const auto memory = memoryOf(ticked[n]);
        if (!memory) {
            found.same = false;
        } else if (n == 0) {
            first = memory;
            stamp = memory->makeMemoryStamp();
        } else {
            found.same = memory->makeMemoryStamp() == stamp;
        }
    }
    if (found.same && first) found.scenarios = first->getScenarios();
    return found;
}

}  // namespace page_reads
}  // namespace frm
