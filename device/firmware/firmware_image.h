#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/firmware/firmware.h"

namespace device {

/// The image layout of our firmware files (little-endian):
///   0 "SVFW", 4 u16 format (1), 6 u16 header size (300), 8 u64 type code,
///   16 u32 payload size N, 20 u32 payload CRC, 24 version text (256 bytes,
///   NUL-padded), 280 twenty reserved zero bytes, 300 payload (N bytes).
/// The payload CRC is the reflected CRC-32 for the Orvel-510 codes and
/// CRC-32/MPEG-2 for every other code.
class FirmwareImage : public IFirmware {
public:
    static constexpr std::size_t kHeaderSize = 300;
    static constexpr std::uint16_t kFormat = 1;
    static constexpr std::size_t kVersionTextSize = 256;

    /// Takes exactly the bytes of one image; whatever they hold, the result
    /// tells through isValid whether it may be sent.
    explicit FirmwareImage(std::string bytes);

    /// The size of the image that begins at `offset` of `file`, read from its
    /// header; 0 when no whole header with our magic, format and header size
    /// is there or the payload would run past the end of the file.
    static std::size_t frameSize(const std::string& file, std::size_t offset);
    /// The CRC of a payload as a device of `typeCode` checks it.
    static std::uint32_t payloadCrc(std::uint64_t typeCode, const std::string& payload);
    /// Builds the bytes of an image (the firmware build tools' side; the tests
    /// use it). A version text longer than 255 bytes is cut.
    static std::string encode(std::uint64_t typeCode, const std::string& versionText, const std::string& payload);

    Version getVersion() const override { return m_version; }
    bool isValid() const override { return m_valid; }
    const std::string& getPayload() const override { return m_payload; }
    std::uint32_t getCrc() const override { return m_crc; }
    /// The type code of the header, whether or not the image is valid.
    std::uint64_t getHeaderTypeCode() const { return m_headerTypeCode; }

private:
    bool decode(const std::string& bytes);

    Version m_version;
    std::string m_payload;
    std::uint32_t m_crc = 0;
    std::uint64_t m_headerTypeCode = 0;
    bool m_valid = false;
};

}  // namespace device
