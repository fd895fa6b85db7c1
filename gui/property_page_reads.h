#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/config_common.h"
#include "device/memory/audio_memory_types.h"
#include "device/models/orvel_config.h"
#include "device/models/tovik_config.h"
#include "device/models/tovik_info.h"
#include "gui/line_control_model.h"
#include "gui/page_jobs.h"
#include "gui/zone_page_model.h"

namespace device {
class DeviceBase;
class DeviceCollection;
class IEqualizer;
class OrvelInfo;
namespace memory {
class IAudioControl;
}
}  // namespace device

namespace frm {

/// The reading halves of the property panel's page fills: each asks the
/// device (and the collection) what its page shows and returns it as a
/// plain record, which the panel then puts into the page's controls on the
/// GUI thread. No window; the panel runs them on its worker
/// (page_jobs::Worker). Each checks `wanted` between its exchanges, so that
/// a read of a page the operator has left ends at its next exchange
/// (page_jobs::Superseded). The device's exceptions pass on, except where
/// a record says what failed.
namespace page_reads {

using DevicePtr = boost::shared_ptr<device::DeviceBase>;
using page_jobs::checkWanted;
using page_jobs::Wanted;

/// The loudspeakers whose common page shows the settings of their lines,
/// and the last firmware generation with the bass/treble equalizer.
constexpr int kFirstLineIndex = 2;
constexpr int kLastLineIndex = 8;
constexpr int kLastPackedEqualizerIndex = 8;
/// Firmware-version indexes from which the sources page offers a setting.
constexpr int kFirstInputMessageIndex = 14;
constexpr int kFirstFilterIndex = 18;
constexpr int kFirstIgmpIndex = 18;

/// "Общие": the title; a console's options and the fragments of its memory
/// (its gongs); a loudspeaker's equalizer and, for indexes 2 to 8, its
/// settings of the lines.
struct CommonPage {
    std::wstring title;
    std::optional<device::TovikConfig> consoleConfig;
    std::vector<device::memory::FragmentInfo> gongs;
    bool loudspeaker = false;
    int versionIndex = 0;
    boost::shared_ptr<device::IEqualizer> equalizer;
    std::optional<device::OrvelConfig> lineConfig;
};
CommonPage readCommonPage(const DevicePtr& device, const Wanted& wanted);

/// "Аудио память": the device's audio memory (none: the device has none),
/// or why it could not be read.
struct MemoryPage {
    boost::shared_ptr<device::memory::IAudioControl> control;
    std::size_t fragments = 0;
    /// Edits not yet written (a memory to be replaced counts).
    bool pending = false;
    bool failed = false;
    /// What the failed read threw, as its text.
    std::string failure;
    /// The memory was read but can't be understood: replacing it by an empty
    /// one (overwriting) is a remedy. Only a loudspeaker's memory is replaced.
    bool overwriteMends = false;
};
/// Never throws the device's exceptions: a failure is in the record.
MemoryPage readMemoryPage(const DevicePtr& device, bool overwrite, const Wanted& wanted);

/// "Сеть": the configuration record, then the addresses held now (a fresh
/// read, as the DHCP switch shows them).
struct NetworkPage {
    device::ConfigCommon config;
    device::ConfigCommon addresses;
};
NetworkPage readNetworkPage(const DevicePtr& device, const Wanted& wanted);

/// "Зарно": the configuration record, read fresh.
device::ConfigCommon readZarnoPage(const DevicePtr& device, const Wanted& wanted);

/// "Источники" of a loudspeaker: its settings, and from index 14 the
/// scenarios of its memory that its inputs may play (none listed when the
/// memory can't be had).
struct SourcePage {
    int versionIndex = 0;
    device::OrvelConfig config;
    std::vector<device::memory::ScenarioInfo> scenarios;
};
SourcePage readSourcePage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker, const Wanted& wanted);

/// "Линия": one read of the line-control module, numbered by `gate`, and the
/// power-save mode of a module that was read.
struct LinePage {
    line_control::Snapshot snapshot;
    std::optional<int> powerSave;
};
LinePage readLinePage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker, page_jobs::RefreshGate& gate,
                      const Wanted& wanted);

/// "Ключи": whether the console learns a key, its keys, and its access
/// control. Access control without a key would lock everyone out: such a
/// console's access control is switched off here (the one write of a read).
struct PasskeyPage {
    bool listening = false;
    std::vector<device::TovikInfo::Passkey> keys;
    bool accessControl = false;
};
PasskeyPage readPasskeyPage(const boost::shared_ptr<device::TovikInfo>& console, const Wanted& wanted);

/// "Зоны трансляции" of a console for one of its zones: the zone buttons'
/// facts, the rows of the zone's loudspeaker list, and the messages the
/// zone may play (the scenarios of the first listed loudspeaker that
/// answers and whose memory can be read; none when there is no such).
struct ZonePage {
    zone_page::ZoneMasks masks;
    device::ConsoleZoneMap zones;
    bool broken = false;
    zone_page::BrokenZones brokenZones;
    device::ConsoleZone zone;
    std::vector<boost::shared_ptr<device::OrvelInfo>> loudspeakers;
    std::vector<zone_page::TargetRow> rows;
    std::optional<std::vector<device::memory::ScenarioInfo>> messages;
    int purpose = 0;
};
ZonePage readZonePage(const boost::shared_ptr<device::TovikInfo>& console,
                      device::DeviceCollection& collection, int zone, bool debugMode, const Wanted& wanted);

/// "Связанные консоли" of a loudspeaker: a row per console address it holds.
struct LinkedPage {
    std::vector<boost::shared_ptr<device::TovikInfo>> consoles;
    std::vector<zone_page::ConsoleRow> rows;
    bool broken = false;
};
LinkedPage readLinkedPage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker,
                          device::DeviceCollection& collection, bool debugMode, const Wanted& wanted);

/// The zone page's ticked loudspeakers: whether their memories hold the
/// same (then the first one's scenarios are the messages offered). Any
/// memory that can't be read makes them differ.
struct TickedMemories {
    bool same = false;
    std::vector<device::memory::ScenarioInfo> scenarios;
};
TickedMemories compareMemories(const std::vector<boost::shared_ptr<device::OrvelInfo>>& ticked,
                               const Wanted& wanted);

/// A loudspeaker's audio memory, or none when it cannot be read (logged).
boost::shared_ptr<device::memory::IAudioControl> memoryOf(
    const boost::shared_ptr<device::OrvelInfo>& loudspeaker);

}  // namespace page_reads
}  // namespace frm
