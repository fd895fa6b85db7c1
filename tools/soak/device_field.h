#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include <boost/shared_ptr.hpp>

#include "tools/simulator/simulator.h"
#include "tools/soak/soak_support.h"

namespace device {
class DeviceBase;
class DeviceCollection;
class TransferProtocol;
}  // namespace device

namespace soak {

/// The simulated devices on loopback addresses (every twentieth a console,
/// the loudspeakers of several firmware generations, each with an audio
/// memory), the server's transport and device collection that they report
/// to, and a thread that reads one online device's configuration every
/// 100 ms, round the collection. Exceptions of those reads go to a tally.
class DeviceField {
public:
    /// Devices from `firstAddress` on, listening on `basePort`.
    DeviceField(unsigned devices, const std::string& firstAddress, std::uint16_t basePort, Tally& exceptions);
    ~DeviceField();
    DeviceField(const DeviceField&) = delete;
    DeviceField& operator=(const DeviceField&) = delete;

    /// Stops the reads, the collection, the transport and the devices; safe
    /// to repeat.
    void stop();

    unsigned consoles() const { return m_consoles; }
    /// Loudspeakers and consoles online and answered.
    std::size_t online();
    std::uint64_t reads() const { return m_reads.load(); }
    std::uint64_t failedReads() const { return m_failedReads.load(); }

private:
    void readConfigurations();
    void read(device::DeviceBase& device);

    Tally& m_exceptions;
    boost::shared_ptr<device::TransferProtocol> m_transport;
    boost::shared_ptr<device::DeviceCollection> m_collection;
    device::sim::Simulator m_simulator{2};
    std::atomic<std::uint32_t> m_nextId{1};
    unsigned m_consoles = 0;
    StopFlag m_stop;
    std::atomic<std::uint64_t> m_reads{0};
    std::atomic<std::uint64_t> m_failedReads{0};
    std::thread m_reader;
};

}  // namespace soak
