#include "tools/simulator/holdings_listing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace device::sim {

HoldingsListing::HoldingsListing(std::string path) : m_path(std::move(path)) {}

std::string HoldingsListing::text(Simulator& simulator) {
    std::string text;
    const std::size_t count = simulator.size();
    for (std::size_t n = 0; n < count; ++n) {
        SimulatedDevice& device = simulator.device(n);
        text += std::to_string(n + 1) + " " + device.endpoint().address().to_string() + " " +
                describe(device.holdings()) + "\n";
    }
    return text;
}

bool HoldingsListing::update(Simulator& simulator) {
    const std::string now = text(simulator);
    if (m_wrote && now == m_written) return false;
    const std::string beside = m_path + ".new";
    // The reason is taken before the half-written file is removed.
    const auto fail = [this, &beside](const char* what, bool written) {
        const int reason = errno;
        if (written) std::remove(beside.c_str());
        throw std::runtime_error("cannot " + std::string(what) + " " + m_path + ": " + std::strerror(reason));
    };
    std::FILE* file = std::fopen(beside.c_str(), "w");
    if (file == nullptr) fail("write", false);
    const bool whole = std::fwrite(now.data(), 1, now.size(), file) == now.size();
    if (std::fclose(file) != 0 || !whole) fail("write", true);
    if (std::rename(beside.c_str(), m_path.c_str()) != 0) fail("replace", true);
    m_written = now;
    m_wrote = true;
    return true;
}

}  // namespace device::sim
