#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <boost/enable_shared_from_this.hpp>
#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>

#include "base/hardware_address.h"
#include "base/ip_address.h"
#include "device/device_base.h"
#include "device/models/return_watch.h"
#include "device/version.h"

namespace device {

class TransferProtocol;
class ProbeFailures;
class ProbeNoticeGate;
class OrvelInfo;
class TovikInfo;
struct TovikConfig;

/// The pace of the collection's control thread; tests shorten it.
struct CollectionTiming {
    std::chrono::milliseconds startDelay{3000};
    std::chrono::milliseconds tick{1000};
    int duplicateCheckEvery = 30;  // ticks
    /// A cause of failed probes that lasts is told again after this long.
    std::chrono::milliseconds probeNoticeQuiet{std::chrono::hours(1)};
    /// A loudspeaker whose state packets (about one a second) stop for
    /// longer than this and come again has restarted (or was cut off) within
    /// the 7-second offline window: it counts as returned
    /// (OrvelInfo::returnCount). A packet lost now and then stays below it.
    std::chrono::milliseconds packetGap{ReturnWatch::kDefaultPacketGap / 1000};
};

/// The registry of every loudspeaker and console, keyed by hardware address.
/// It sees every datagram the transport receives first, turns state packets
/// into new device objects or updates of known ones, hands out device lists,
/// and runs the supervision thread that keeps the devices' online state
/// current and probes silent ones.
///
/// Threads: the transport's responder only recognises a state packet and
/// queues a dispatcher job (no lock); the jobs parse, several at once; the
/// GUI thread builds, fills, reads and stops the collection; the control
/// thread ticks once a second; a detached search thread probes silent
/// devices. The collection lock (recursive) guards the map, the handlers
/// and the interface address; a device's lock may be taken under it, never
/// the reverse, and no device parses under it.
///
/// Held by a shared pointer (create): the parse jobs and the transport
/// handlers hold a weak one, so a job that runs late finds no collection
/// instead of a destroyed one.
class DeviceCollection : public boost::enable_shared_from_this<DeviceCollection> {
public:
    typedef DeviceBase::StateChangedHandler StateChangedHandler;
    /// (type name, hardware address, title) -> device id (0xFFFFFFFF: none).
    typedef boost::function<std::uint32_t(const std::wstring&, const net::HardwareAddress&, const std::wstring&)>
        NewDeviceHandler;
    typedef std::map<net::HardwareAddress, boost::shared_ptr<DeviceBase>> DeviceMap;
    /// The devices in the map's order, as handed out for a look at each.
    typedef std::vector<boost::shared_ptr<DeviceBase>> DeviceList;

    static constexpr std::uint32_t kNoId = 0xFFFFFFFF;
    static constexpr std::uint64_t kOrvelBit = 0x100000;
    static constexpr std::uint64_t kTovikBit = 0x800000;

    typedef CollectionTiming Timing;

    /// Loudspeakers chosen for a console zone.
    typedef std::set<boost::shared_ptr<OrvelInfo>> OrvelSet;
    /// What the zone-binding check found, per device: for a console, zone
    /// number -> the loudspeakers in question; for a loudspeaker, console
    /// address -> the console's hardware address, or a stray virtual zone ->
    /// an empty set.
    typedef std::map<int, std::set<net::HardwareAddress>> BrokenZones;
    typedef std::map<boost::shared_ptr<DeviceBase>, BrokenZones> BrokenZonesReport;

    /// Installs the handlers on the transport and starts the control thread
    /// (boost::thread_resource_error when it can't).
    static boost::shared_ptr<DeviceCollection> create(boost::shared_ptr<TransferProtocol> transport,
                                                      std::uint16_t basePort, const Timing& timing = Timing());
    ~DeviceCollection();
    DeviceCollection(const DeviceCollection&) = delete;
    DeviceCollection& operator=(const DeviceCollection&) = delete;

    void setStateChangedHandler(StateChangedHandler handler);
    void setNewDeviceHandler(NewDeviceHandler handler);
    /// The address of the interface the system works on (`net.interfaceIp`);
    /// empty disables the search for lost devices.
    void setInterfaceIp(const std::string& address);

    // ---- transport callbacks (responder thread) ------------------------------

    /// A state packet is queued as the job "parsing state packet" and
    /// consumed (true); anything else is left to the transport (false).
    bool handleAllResponsesCallback(const std::string& text, const net::IpAndPort& source);
    static bool handlerForUnknownResponsesCallback(const std::string& text, const net::IpAndPort& source);

    // ---- registry (any thread) -------------------------------------------------

    /// The intake of one state packet, on a dispatcher worker. `version`:
    /// the packet's version as its recognition parsed it; null: parsed here.
    void handleAllPingsCallback(const std::string& packet, const net::IpAndPort& source,
                                const net::HardwareAddress& address, const Version* version = nullptr);
    /// Creates and stores the object of the class the type name selects
    /// (a stored address returns the stored object); empty on failure.
    boost::shared_ptr<DeviceBase> addDevice(std::uint32_t id, const std::wstring& typeName,
                                            const net::HardwareAddress& address, const net::Ip4Address& lastIp,
                                            const std::wstring& title);
    /// Drops the device from the map; its object reports no state change
    /// from now on (it may live on where others hold it).
    void remove(const net::HardwareAddress& address);
    /// Any device by address: loudspeakers and consoles alike (the zone tree
    /// holds both); empty when unknown.
    boost::shared_ptr<DeviceBase> searchFor(const net::HardwareAddress& address);
    /// The loudspeaker with this address; empty for a console or an unknown one.
    boost::shared_ptr<OrvelInfo> searchForOrvel(const net::HardwareAddress& address);
    /// In map order; `onlineOnly`: online and answered.
    std::vector<boost::shared_ptr<OrvelInfo>> getOrvelList(bool onlineOnly);
    std::vector<boost::shared_ptr<OrvelInfo>> getOrvels(bool onlineOnly) { return getOrvelList(onlineOnly); }
    std::vector<boost::shared_ptr<TovikInfo>> getTovikList(bool onlineOnly);
    std::vector<boost::shared_ptr<DeviceBase>> getDevices();

    /// Interrupts and joins the control thread, releases every device's
    /// audio memory and empties the map. Again: nothing left to do. Not from
    /// the control thread.
    void stop();

    // ---- zone binding (zone_binding.cpp, zone_integrity.cpp) ------------------------
    //
    // Called on the GUI thread or dispatcher jobs; they block on the devices'
    // exchanges and take no lock of their own (two bindings of one console
    // at once are not kept apart). Refusals are exception::UserResponse code
    // words; exchange errors pass on.

    /// Binds console zone `zoneNumber` (1..20) to the loudspeakers: the
    /// loudspeakers get the chosen virtual zone and the console's address,
    /// then the console the zone and, unless `scenario` is -1, its message.
    void bindDevices(const boost::shared_ptr<TovikInfo>& console, int& zoneNumber, int scenario,
                     const OrvelSet& loudspeakers);
    /// Deletes the zone on the console and what only it needed on the
    /// loudspeakers.
    void unbindDevices(const boost::shared_ptr<TovikInfo>& console, int& zoneNumber);
    /// Probes the devices, unbinds the zone when the console has it, binds it anew.
    void rebindDevices(const boost::shared_ptr<TovikInfo>& console, int zoneNumber, int scenario,
                       const OrvelSet& loudspeakers);
    /// Writes a console configuration; a fire console turned broadcast loses
    /// its message zones first, which needs `confirmed` (false: returns
    /// false, nothing written).
    bool setTovikConfig(const boost::shared_ptr<TovikInfo>& console, const TovikConfig& config, bool confirmed);

    /// Compares the consoles' zones with the loudspeakers' lists over all
    /// online devices. Reads only (through the devices' caches).
    BrokenZonesReport searchForDevicesWithBrokenTranslationZones();
    /// Repairs one device from the check's findings: a console's zones drop
    /// the loudspeakers in question, a loudspeaker drops the console
    /// addresses and virtual zones no reachable console backs. Nothing
    /// found: exception::UserResponse "none".
    void fixIntegrity(const boost::shared_ptr<DeviceBase>& device);

    // ---- supervision -------------------------------------------------------------

    /// Starts the detached search for silent devices; false without an
    /// interface address. `all`: also checks the gateway and searches the
    /// whole segment, returning that send's result.
    bool findLostDevices(bool all);
    /// Sends one empty datagram from the interface to the device's address
    /// at the base port, unless it is online, has no known address or one no
    /// device can have. A probe that does not go out is logged below the
    /// operator's notices and counted in `failures` when given.
    static bool findLostDevice(const std::string& interfaceIp, std::uint16_t basePort,
                               const boost::shared_ptr<DeviceBase>& device, ProbeFailures* failures = nullptr);
    /// Pings the interface's gateway and logs whether the network answers.
    /// An unknown interface is logged, never thrown.
    static void checkLink(const std::string& interfaceIp);

private:
    DeviceCollection(boost::shared_ptr<TransferProtocol> transport, std::uint16_t basePort, const Timing& timing);

    void controlTimeoutThread();
    /// One tick on a copy of the devices; `someOffline` is kept across ticks.
    void tick(int tickCount, bool& someOffline, const DeviceList& copy);
    static void checkDuplicates(const DeviceList& devices, bool& someOffline);
    /// Probes the silent devices of `devices`, then tells the operator of
    /// the failures by cause, as `notices` lets through.
    static void searchThread(std::string interfaceIp, std::uint16_t basePort, DeviceList devices,
                             boost::shared_ptr<ProbeNoticeGate> notices);
    /// One vector, not a map's nodes: the control thread takes it every second.
    DeviceList copyDevices() const;
    /// The first device in map order whose hardware address ends in the
    /// 24-bit `address`; empty when none.
    boost::shared_ptr<DeviceBase> findByZoneAddress(unsigned address) const;
    /// The virtual zone for a new zone of `console` with these addresses:
    /// one that another zone with the same set uses (`reused`), else the
    /// preferred or the smallest free number.
    int chooseVirtualZone(const boost::shared_ptr<TovikInfo>& console, int zoneNumber,
                          const std::set<unsigned>& addresses, bool& reused);
    /// Takes the console's address from a loudspeaker unless one of its
    /// announcement zones still is a virtual zone of the console's zones.
    static void dropConsoleAddress(const boost::shared_ptr<OrvelInfo>& loudspeaker, unsigned consoleAddress,
                                   const std::set<int>& consoleZones);

    mutable boost::recursive_mutex m_lock;  // the collection lock
    bool m_stopped = false;                 // under m_lock: stop() has run, no device is added any more
    boost::shared_ptr<TransferProtocol> m_transport;
    boost::thread m_controlThread;
    DeviceMap m_devices;
    StateChangedHandler m_stateChangedHandler;
    NewDeviceHandler m_newDeviceHandler;
    std::string m_interfaceIp;
    const std::uint16_t m_basePort;
    const Timing m_timing;
    /// Shared with the detached search threads, which may outlive the collection.
    const boost::shared_ptr<ProbeNoticeGate> m_probeNotices;
};

}  // namespace device
