#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "tools/simulator/simulated_device.h"

namespace device::sim {

/// A set of simulated devices on loopback addresses that share one
/// io_context run by the simulator's own threads. Devices may be added before
/// or after start(); stop() (also run by the destructor) closes them all and
/// joins the threads.
class Simulator {
public:
    explicit Simulator(unsigned threads = 1);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Binds a device at `address`:`port` (port 0: any free port). Only
    /// loopback addresses (127.0.0.0/8) are accepted: simulated devices must
    /// never answer on a real network. Throws std::invalid_argument for any
    /// other address and boost::system::system_error when binding fails.
    SimulatedDevice& add(const std::string& address, std::uint16_t port, std::unique_ptr<Model> model);
    SimulatedDevice& addOrvel(const std::string& address, std::uint16_t port,
                              const std::string& hardwareAddress,
                              const std::string& versionText = kDefaultOrvelVersion);
    SimulatedDevice& addTovik(const std::string& address, std::uint16_t port,
                              const std::string& hardwareAddress,
                              const std::string& versionText = kDefaultTovikVersion);

    void start();
    void stop();

    std::size_t size() const;
    SimulatedDevice& device(std::size_t index);

    /// The n-th address counted from `first` (which counts as 0), e.g.
    /// loopbackAddress("127.0.1.1", 300) is "127.0.2.45"; nothing when the
    /// result leaves 127.0.0.0/8.
    static std::optional<std::string> loopbackAddress(const std::string& first, unsigned n);
    /// A locally administered hardware address for the n-th simulated device.
    static std::string hardwareAddress(unsigned n);

private:
    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work;
    const unsigned m_threadCount;
    std::vector<std::thread> m_threads;
    mutable std::mutex m_mutex;  // guards m_devices and m_started
    std::deque<std::unique_ptr<SimulatedDevice>> m_devices;
    bool m_started = false;
};

}  // namespace device::sim
