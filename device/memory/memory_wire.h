#pragma once

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

namespace device {
class DeviceBase;
class TransferProtocol;
}  // namespace device

namespace device::memory {

/// The way from the audio-memory engine to its device: one request, one
/// trimmed "OK..." reply. transfer throws exception::Offline when nothing
/// came back and exception::UnexpectedResponseOfDevice for a refusal.
/// Called from the GUI thread, dispatcher jobs and the write worker, never
/// with the engine's lock held.
class IMemoryWire {
public:
    virtual ~IMemoryWire() = default;
    virtual std::string transfer(const std::string& request) = 0;
    virtual bool isOnlineAndAnswered() = 0;
    /// The device plays on its own (from memory or an alarm).
    virtual bool hasInternalPlaying() = 0;
};

/// The wire through a device object, held by weak pointer: the device keeps
/// its memory object, so a strong pointer back would keep both alive for
/// ever. A device that is gone counts as offline.
class DeviceMemoryWire : public IMemoryWire {
public:
    DeviceMemoryWire(boost::shared_ptr<TransferProtocol> transport, const boost::shared_ptr<DeviceBase>& device);
    std::string transfer(const std::string& request) override;
    bool isOnlineAndAnswered() override;
    bool hasInternalPlaying() override;

private:
    boost::shared_ptr<DeviceBase> lockDevice() const;

    const boost::shared_ptr<TransferProtocol> m_transport;  // the device's own; kept for the worker's lifetime
    const boost::weak_ptr<DeviceBase> m_device;
};

// ---- request texts and reply parsing ---------------------------------------------------

/// Bytes of data in one "mem read" or "mem write".
constexpr std::size_t kMemoryChunk = 512;

struct MemoryInfo {
    std::uint16_t layout = 0;
    std::uint32_t capacity = 0;
    std::uint32_t imageSize = 0;
};

/// What "mem state" tells.
struct MemoryState {
    enum Kind { Idle, Fragment, Scenario } kind = Idle;
    std::uint16_t id = 0;
};

/// Asks what the memory plays; parseMemoryState reads the reply.
constexpr const char* kMemoryStateRequest = "mem state";

std::string memoryReadCommand(std::uint32_t offset, std::uint32_t length);
/// At most kMemoryChunk bytes.
std::string memoryWriteCommand(std::uint32_t offset, const std::string& bytes);
std::string memoryCommitCommand(std::uint32_t size, std::uint32_t crc);
std::string memoryPlayCommand(bool scenario, std::uint16_t id);

// Each parser takes the trimmed "OK ..." reply; anything else throws
// exception::UnexpectedResponseOfDevice carrying it.
/// For the commands whose reply says only whether they were done (write,
/// commit, play, stop): a garbled refusal must not pass for success.
void expectMemoryOk(const std::string& reply);
MemoryInfo parseMemoryInfo(const std::string& reply);
/// Exactly `length` bytes of hex, in either case.
std::string parseMemoryRead(const std::string& reply, std::uint32_t length);
MemoryState parseMemoryState(const std::string& reply);
/// parseMemoryState without the exception (whose making logs): false for a
/// reply it refuses, `state` then unspecified.
bool readMemoryState(const std::string& reply, MemoryState& state);

}  // namespace device::memory
