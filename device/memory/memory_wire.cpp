#include "device/memory/memory_wire.h"

#include <iterator>
#include <sstream>

#include <boost/algorithm/hex.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/lexical_cast.hpp>

#include "base/exception.h"
#include "device/command.h"
#include "device/device_base.h"

namespace device::memory {

DeviceMemoryWire::DeviceMemoryWire(boost::shared_ptr<TransferProtocol> transport,
                                   const boost::shared_ptr<DeviceBase>& device)
    : m_transport(std::move(transport)), m_device(device) {}

boost::shared_ptr<DeviceBase> DeviceMemoryWire::lockDevice() const {
    auto device = m_device.lock();
    if (!device) throw exception::Offline();
    return device;
}

std::string DeviceMemoryWire::transfer(const std::string& request) { return lockDevice()->transfer(request); }

bool DeviceMemoryWire::isOnlineAndAnswered() {
    const auto device = m_device.lock();
    return device && device->isOnlineAndAnswered();
}

bool DeviceMemoryWire::hasInternalPlaying() {
    const auto device = m_device.lock();
    return device && device->hasInternalPlaying();
}

// ---- texts ---------------------------------------------------------------------------------

namespace {

/// The text after "OK", trimmed; false for anything not starting with "OK".
bool takeBody(const std::string& reply, std::string& body) {
    const std::string trimmed = boost::algorithm::trim_copy(reply);
    if (!boost::algorithm::starts_with(trimmed, "OK")) return false;
    body = boost::algorithm::trim_copy(trimmed.substr(2));
    return true;
}

/// The text after "OK", trimmed; anything not starting with "OK" is refused.
std::string bodyOf(const std::string& reply) {
    std::string body;
    if (!takeBody(reply, body)) throw exception::UnexpectedResponseOfDevice(reply);
    return body;
}

}  // namespace

std::string memoryReadCommand(std::uint32_t offset, std::uint32_t length) {
    return formatCommand("mem read %u %u", offset, length);
}

std::string memoryWriteCommand(std::uint32_t offset, const std::string& bytes) {
    std::string text = formatCommand("mem write %u ", offset);
    boost::algorithm::hex(bytes.begin(), bytes.end(), std::back_inserter(text));
    return text;
}

std::string memoryCommitCommand(std::uint32_t size, std::uint32_t crc) {
    return formatCommand("mem commit %u %08X", size, crc);
}

std::string memoryPlayCommand(bool scenario, std::uint16_t id) {
    return formatCommand("mem play %s %u", scenario ? "scenario" : "fragment", static_cast<unsigned>(id));
}

void expectMemoryOk(const std::string& reply) { bodyOf(reply); }

MemoryInfo parseMemoryInfo(const std::string& reply) {
    std::istringstream in(bodyOf(reply));
    unsigned long layout = 0, capacity = 0, size = 0;
    std::string rest;
    if (!(in >> layout >> capacity >> size) || (in >> rest) || layout > 0xFFFF || capacity > 0xFFFFFFFFul ||
        size > 0xFFFFFFFFul)
        throw exception::UnexpectedResponseOfDevice(reply);
    return {static_cast<std::uint16_t>(layout), static_cast<std::uint32_t>(capacity),
            static_cast<std::uint32_t>(size)};
}

std::string parseMemoryRead(const std::string& reply, std::uint32_t length) {
    const std::string hex = bodyOf(reply);
    if (hex.size() != 2ul * length) throw exception::UnexpectedResponseOfDevice(reply);
    try {
        return boost::algorithm::unhex(hex);
    } catch (const boost::algorithm::hex_decode_error&) {
        throw exception::UnexpectedResponseOfDevice(reply);
    }
}

bool readMemoryState(const std::string& reply, MemoryState& state) {
    std::string body;
    if (!takeBody(reply, body)) return false;
    std::istringstream in(body);
    std::string kind, rest;
    unsigned long id = 0;
    state = MemoryState();
    if (!(in >> kind)) return false;
    if (kind == "idle") return !(in >> rest);
    if ((kind != "fragment" && kind != "scenario") || !(in >> id) || (in >> rest) || id > 0xFFFF) return false;
    state.kind = kind == "fragment" ? MemoryState::Fragment : MemoryState::Scenario;
    state.id = static_cast<std::uint16_t>(id);
    return true;
}

MemoryState parseMemoryState(const std::string& reply) {
    MemoryState state;
    if (!readMemoryState(reply, state)) throw exception::UnexpectedResponseOfDevice(reply);
    return state;
}

}  // namespace device::memory
