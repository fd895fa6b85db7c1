#pragma once

#include <cstddef>
#include <string>

#include <boost/function.hpp>

#include "device/firmware/firmware.h"

namespace device {

/// Sends one firmware image to a device over our firmware commands:
///   "fw begin <type code, hex> <payload size> <payload CRC, 8 hex digits>"
///   "fw data <offset> <hex of up to 512 payload bytes>"
///   "fw end"   (the device checks the CRC, answers and restarts)
/// Data commands name their offset, so a chunk sent again after a lost reply
/// is harmless. Knows no socket: the exchanges go through a function.
class FirmwareSender {
public:
    /// One exchange as DeviceBase::transfer makes it: the trimmed reply, or
    /// exception::Offline when nothing came back, or
    /// exception::UnexpectedResponseOfDevice for an "ERR..." reply.
    typedef boost::function<std::string(const std::string& request)> Exchange;
    /// Percent sent, 1..99, called when it grows.
    typedef boost::function<void(int percent)> Progress;

    static constexpr std::size_t kChunkSize = 512;
    /// An exchange without an answer is asked again this many times.
    static constexpr int kRetries = 3;

    FirmwareSender(Exchange exchange, Progress progress);

    /// Sends the whole image; returns when the device accepted "fw end".
    /// Throws the exception of the first exchange that failed (after its
    /// retries) or exception::UnexpectedResponseOfDevice for a reply that is
    /// no "OK...". Blocks for the whole transfer: worker threads only.
    void send(const IFirmware& image);

    static std::string beginCommand(const IFirmware& image);
    static std::string dataCommand(std::size_t offset, const std::string& payload);
    static const char* endCommand() { return "fw end"; }

private:
    void exchange(const std::string& request);

    Exchange m_exchange;
    Progress m_progress;
};

}  // namespace device
