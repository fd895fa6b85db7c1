#include "device/firmware/firmware_image.h"

#include <algorithm>
#include <cstring>

#include <boost/endian/conversion.hpp>

#include "base/crc.h"

namespace device {

namespace {

constexpr char kMagic[4] = {'S', 'V', 'F', 'W'};
constexpr std::size_t kTypeOffset = 8;
constexpr std::size_t kSizeOffset = 16;
constexpr std::size_t kCrcOffset = 20;
constexpr std::size_t kVersionOffset = 24;

const unsigned char* at(const std::string& bytes, std::size_t offset) {
    return reinterpret_cast<const unsigned char*>(bytes.data() + offset);
}

unsigned char* at(std::string& bytes, std::size_t offset) { return reinterpret_cast<unsigned char*>(&bytes[offset]); }

bool isOrvel510(std::uint64_t typeCode) { return typeCode == kTypeOrvel510Old || typeCode == kTypeOrvel510; }

}  // namespace

FirmwareImage::FirmwareImage(std::string bytes) { m_valid = decode(bytes); }

std::size_t FirmwareImage::frameSize(const std::string& file, std::size_t offset) {
    if (offset > file.size() || file.size() - offset < kHeaderSize) return 0;
    if (std::memcmp(file.data() + offset, kMagic, sizeof kMagic) != 0) return 0;
    if (boost::endian::load_little_u16(at(file, offset + 4)) != kFormat ||
        boost::endian::load_little_u16(at(file, offset + 6)) != kHeaderSize)
        return 0;
    const std::uint32_t payloadSize = boost::endian::load_little_u32(at(file, offset + kSizeOffset));
    if (payloadSize > file.size() - offset - kHeaderSize) return 0;
    return kHeaderSize + static_cast<std::size_t>(payloadSize);
}

std::uint32_t FirmwareImage::payloadCrc(std::uint64_t typeCode, const std::string& payload) {
    // The table is (re)built before each check, as the firmware code has
    // always done; after the first build this only returns.
    crc32InitTable();
    return isOrvel510(typeCode) ? crc32Reflected(payload.data(), payload.size())
                                : crc32Mpeg2(payload.data(), payload.size());
}

std::string FirmwareImage::encode(std::uint64_t typeCode, const std::string& versionText, const std::string& payload) {
    std::string bytes(kHeaderSize, '\0');
    std::memcpy(&bytes[0], kMagic, sizeof kMagic);
    boost::endian::store_little_u16(at(bytes, 4), kFormat);
    boost::endian::store_little_u16(at(bytes, 6), kHeaderSize);
    boost::endian::store_little_u64(at(bytes, kTypeOffset), typeCode);
    boost::endian::store_little_u32(at(bytes, kSizeOffset), static_cast<std::uint32_t>(payload.size()));
    boost::endian::store_little_u32(at(bytes, kCrcOffset), payloadCrc(typeCode, payload));
    const std::size_t length = std::min(versionText.size(), kVersionTextSize - 1);
    bytes.replace(kVersionOffset, length, versionText, 0, length);
    return bytes + payload;
}

bool FirmwareImage::decode(const std::string& bytes) {
    const std::size_t size = frameSize(bytes, 0);
    if (size == 0 || size != bytes.size()) return false;
    m_headerTypeCode = boost::endian::load_little_u64(at(bytes, kTypeOffset));
    m_crc = boost::endian::load_little_u32(at(bytes, kCrcOffset));
    m_payload = bytes.substr(kHeaderSize);
    if (m_payload.empty()) return false;

    const char* text = bytes.data() + kVersionOffset;
    const std::size_t length = strnlen(text, kVersionTextSize);
    if (length == kVersionTextSize) return false;  // no terminating NUL
    Version version;
    if (!parseVersion(std::string(text, length), version)) return false;
    // The version text names a model; the header's code must be a code of
    // that model (Orvel-510 has two codes, its name gives the newer one).
    if (version.typeCode == 0 || toText(version.typeCode) != toText(m_headerTypeCode)) return false;
    if (payloadCrc(m_headerTypeCode, m_payload) != m_crc) return false;
    version.typeCode = m_headerTypeCode;
    m_version = std::move(version);
    return true;
}

}  // namespace device
