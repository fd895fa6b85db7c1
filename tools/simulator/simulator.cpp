#include "tools/simulator/simulator.h"

#include <cstdio>
#include <stdexcept>

#include <boost/asio/ip/address_v4.hpp>

#include "base/hardware_address.h"

namespace device::sim {

namespace asio = boost::asio;

Simulator::Simulator(unsigned threads)
    : m_work(asio::make_work_guard(m_io)), m_threadCount(threads == 0 ? 1 : threads) {}

Simulator::~Simulator() { stop(); }

SimulatedDevice& Simulator::add(const std::string& address, std::uint16_t port, std::unique_ptr<Model> model) {
    const auto ip = asio::ip::make_address_v4(address);
    if (!ip.is_loopback()) throw std::invalid_argument("a simulated device must use a loopback address: " + address);
    auto device = std::make_unique<SimulatedDevice>(m_io, Endpoint(ip, port), std::move(model));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started) device->start();
    m_devices.push_back(std::move(device));
    return *m_devices.back();
}

SimulatedDevice& Simulator::addOrvel(const std::string& address, std::uint16_t port,
                                     const std::string& hardwareAddress, const std::string& versionText) {
    return add(address, port, std::make_unique<OrvelModel>(hardwareAddress, versionText));
}

SimulatedDevice& Simulator::addTovik(const std::string& address, std::uint16_t port,
                                     const std::string& hardwareAddress, const std::string& versionText) {
    return add(address, port, std::make_unique<TovikModel>(hardwareAddress, versionText));
}

void Simulator::start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started) return;
    m_started = true;
    for (auto& device : m_devices) device->start();
    for (unsigned i = 0; i < m_threadCount; ++i) m_threads.emplace_back([this] { m_io.run(); });
}

void Simulator::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& device : m_devices) device->close();
    }
    m_work.reset();
    if (m_threads.empty()) {
        m_io.run();  // the closing work of devices that never started
    } else {
        for (auto& thread : m_threads) thread.join();
        m_threads.clear();
    }
}

std::size_t Simulator::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices.size();
}

SimulatedDevice& Simulator::device(std::size_t index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return *m_devices.at(index);
}

std::optional<std::string> Simulator::loopbackAddress(const std::string& first, unsigned n) {
    const std::uint64_t value = asio::ip::make_address_v4(first).to_uint() + static_cast<std::uint64_t>(n);
    if ((value >> 24) != 127) return std::nullopt;
    return asio::ip::address_v4(static_cast<std::uint32_t>(value)).to_string();
}

std::string Simulator::hardwareAddress(unsigned n) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", (net::kMakerPrefix >> 16) & 0xFF,
                  (net::kMakerPrefix >> 8) & 0xFF, net::kMakerPrefix & 0xFF, (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
    return text;
}

}  // namespace device::sim
