#include "tools/simulator/firmware_receiver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include <boost/algorithm/hex.hpp>

#include "base/crc.h"

namespace device::sim {

namespace {

std::optional<std::string> refuse(const char* why) { return std::string("ERR ") + why; }

}  // namespace

std::vector<FirmwareReceiver::Image> FirmwareReceiver::accepted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accepted;
}

std::size_t FirmwareReceiver::chunks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_chunks;
}

std::optional<std::string> FirmwareReceiver::begin(const std::string& arguments) {
    unsigned long long type = 0;
    unsigned long long size = 0;
    unsigned crc = 0;
    char extra = 0;
    if (std::sscanf(arguments.c_str(), "%llx %llu %x %c", &type, &size, &crc, &extra) != 3)
        return refuse("wrong arguments");
    if (size == 0 || size > (64u << 20)) return refuse("wrong size");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_ended = false;
    m_typeCode = type;
    m_crc = crc;
    m_payload.assign(static_cast<std::size_t>(size), '\0');
    m_have.assign(static_cast<std::size_t>(size), false);
    return std::string("OK");
}

std::optional<std::string> FirmwareReceiver::data(const std::string& arguments) {
    const std::size_t blank = arguments.find(' ');
    if (blank == std::string::npos) return refuse("wrong arguments");
    char* end = nullptr;
    const unsigned long long offset = std::strtoull(arguments.c_str(), &end, 10);
    if (end != arguments.c_str() + blank) return refuse("wrong offset");
    const std::string hex = arguments.substr(blank + 1);
    if (hex.empty() || hex.size() > 1024) return refuse("wrong data");
    std::string bytes;
    try {
        boost::algorithm::unhex(hex, std::back_inserter(bytes));
    } catch (const boost::algorithm::hex_decode_error&) {
        return refuse("wrong data");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return refuse("no transfer");
    if (offset > m_payload.size() || bytes.size() > m_payload.size() - offset) return refuse("out of range");
    m_payload.replace(static_cast<std::size_t>(offset), bytes.size(), bytes);
    std::fill_n(m_have.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(), true);
    ++m_chunks;
    return std::string("OK");
}

std::optional<std::string> FirmwareReceiver::end() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) return std::string("OK");  // the first answer was lost
    if (!m_open) return refuse("no transfer");
    for (bool have : m_have)
        if (!have) return refuse("incomplete");
    const bool reflected = m_typeCode == 0x300001 || m_typeCode == 0x300002;
    const std::uint32_t crc = reflected ? crc32Reflected(m_payload.data(), m_payload.size())
                                        : crc32Mpeg2(m_payload.data(), m_payload.size());
    if (crc != m_crc) return refuse("crc");
    m_accepted.push_back({m_typeCode, m_payload});
    m_ended = true;
    return std::string("OK");
}

std::shared_ptr<FirmwareReceiver> addFirmwareReceiver(CommandModel& model) {
    auto receiver = std::make_shared<FirmwareReceiver>();
    model.on("fw begin", [receiver](const std::string& arguments) { return receiver->begin(arguments); });
    model.on("fw data", [receiver](const std::string& arguments) { return receiver->data(arguments); });
    model.on("fw end", [receiver](const std::string&) { return receiver->end(); });
    return receiver;
}

}  // namespace device::sim
