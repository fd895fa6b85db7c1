#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/simulator/model.h"

namespace device::sim {

/// The firmware side of a simulated device: takes "fw begin <type hex>
/// <size> <crc hex>", "fw data <offset> <hex>" and "fw end" as the server's
/// upgrade sends them, checks the CRC the way a device of that type code
/// does (reflected CRC-32 for Orvel-510, CRC-32/MPEG-2 otherwise) and keeps
/// every image it accepted. Chunks may come twice or out of order; "fw end"
/// with a hole or a wrong CRC is refused. The simulated device does not
/// restart after "fw end"; a repeated "fw end" is answered again.
///
/// The model calls it on the device's strand under the device's lock; the
/// test reads it from its own thread, so it has a lock of its own.
class FirmwareReceiver {
public:
    struct Image {
        std::uint64_t typeCode = 0;
        std::string payload;
    };

    /// The images accepted so far, in order.
    std::vector<Image> accepted() const;
    /// The data commands taken, repeats included.
    std::size_t chunks() const;

    std::optional<std::string> begin(const std::string& arguments);
    std::optional<std::string> data(const std::string& arguments);
    std::optional<std::string> end();

private:
    mutable std::mutex m_mutex;
    bool m_open = false;
    bool m_ended = false;
    std::uint64_t m_typeCode = 0;
    std::uint32_t m_crc = 0;
    std::string m_payload;
    std::vector<bool> m_have;
    std::size_t m_chunks = 0;
    std::vector<Image> m_accepted;
};

/// Registers the firmware commands on `model`; the receiver stays alive with
/// the model's handlers and with the pointer returned.
std::shared_ptr<FirmwareReceiver> addFirmwareReceiver(CommandModel& model);

}  // namespace device::sim
