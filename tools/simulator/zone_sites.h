#pragma once

// Ready-made sets of simulated devices for the zone-binding work: what a test
// or a manual run needs to find the loudspeakers and consoles in a known
// state. Every set is added to a running or not yet started simulator; the
// caller starts the state packets.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/simulator/line_control_store.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/speaker_zone_store.h"
#include "tools/simulator/tovik_zone_model.h"

namespace device::sim {

/// Where a set's devices go: consecutive loopback addresses from
/// `firstAddress`, all listening on `port`, with the hardware addresses of
/// the numbers from `firstNumber` on (Simulator::hardwareAddress).
struct SitePlan {
    std::string firstAddress = "127.0.5.1";
    std::uint16_t port = 11990;
    unsigned firstNumber = 0x5A0001;
};

struct SiteLoudspeaker {
    SimulatedDevice* device = nullptr;
    int index = 0;
    /// The zone lists; empty below index 18.
    std::shared_ptr<SpeakerZoneStore> zones;
    /// The line-control module; empty below index 9.
    std::shared_ptr<LineControlStore> lines;
    unsigned address = 0;  // the 24-bit address, the low half of the hardware address
};

struct SiteConsole {
    SimulatedDevice* device = nullptr;
    unsigned address = 0;
};

struct ZoneSite {
    std::vector<SiteConsole> consoles;
    std::vector<SiteLoudspeaker> loudspeakers;

    /// Every device sends its state packet to `server` now and every `period`.
    void startStatePackets(const Endpoint& server, std::chrono::milliseconds period) const;
};

/// One loudspeaker per firmware band (orvelBands(): 2, 3, 5, 8, 12, 16, 17,
/// 18 as Orvel-610 and as Orvel-611, 19, 20, 21), each with its settings,
/// equalizer, a line-control module from index 9 and zone lists from 18.
ZoneSite addBandSite(Simulator& simulator, const SitePlan& plan);

/// A broadcast console, a fire console (in that order) and three
/// loudspeakers of index 18, 19 and 21, nothing bound.
ZoneSite addBindingSite(Simulator& simulator, const SitePlan& plan);

/// A site where every kind of broken binding is present. Consoles: T1 and T2
/// answer, T3 sends state packets but answers nothing. Loudspeakers (index
/// 21), by position: 0 good in T1 zone 1 (which also names the unknown
/// address kUnknownLoudspeaker); T1 zone 2 names T2; 1 holds T1 zone 3's
/// virtual zone but not T1's address; 2 holds T1's address but not zone 4's
/// virtual zone; 3 answers nothing and is in T2 zone 1; 4 holds the unknown
/// console address kUnknownConsole; 5 holds loudspeaker 0's address; 6 holds
/// T3's address and the virtual zone of T3's zone 1; 7 holds T2's address
/// and virtual zone 900, which no zone of T2 uses; 8 holds only the virtual
/// zone 777; 9 (in T1 zone 5) and 10 (in T2 zone 2) are bound under the same
/// virtual zone 500 with different sets.
ZoneSite addBrokenSite(Simulator& simulator, const SitePlan& plan);
constexpr unsigned kUnknownLoudspeaker = 0x0ABCDE;
constexpr unsigned kUnknownConsole = 0x0BEEF0;

/// A line-control loudspeaker (index 12) whose module has end devices 11 and
/// 13, both added and active, as its state packet says.
ZoneSite addLineControlSite(Simulator& simulator, const SitePlan& plan);

}  // namespace device::sim
