#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/memory/audio_memory_types.h"

namespace device::memory {

// The audio-memory image: what the device keeps in its flash and what an
// "*.a-bin" file holds. Little-endian throughout:
//   root record (24 bytes): "SVAM", u16 layout, u16 fragment count F,
//     u16 scenario count S, u16 0, u32 catalogue size (144 F + 140 S),
//     u32 image size, u32 CRC-32/MPEG-2 of bytes 0..19 and the catalogue;
//   catalogue: F fragment records {u16 id, u16 0, u32 data offset, u32 data
//     size, u32 data CRC, 64 UTF-16LE title units}, then S scenario records
//     {u16 id, u16 number, u16 gong id, u16 message id, u16 period, u16 0,
//     64 title units};
//   data: the fragments' bytes back to back in fragment order.
// Codec only: no device, no lock; any thread.

constexpr std::size_t kRootSize = 24;
constexpr std::size_t kFragmentRecordSize = 144;
constexpr std::size_t kScenarioRecordSize = 140;
constexpr std::size_t kTitleUnits = 64;

/// The record layouts: the Orvel-510 family, the Orvel-610 family, the
/// Orvel-611 family and the Tovik console.
enum Layout : std::uint16_t { kLayout510 = 1, kLayout610 = 2, kLayout611 = 3 };
bool isKnownLayout(std::uint16_t layout);

struct FragmentRecord {
    std::uint16_t id = 0;
    std::uint32_t offset = 0;  // from the start of the image
    std::uint32_t size = 0;
    std::uint32_t crc = 0;  // CRC-32/MPEG-2 of the data
    std::wstring title;
};

struct RootRecord {
    std::uint16_t layout = 0;
    std::uint16_t fragments = 0;
    std::uint16_t scenarios = 0;
    std::uint32_t catalogueSize = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t crc = 0;
};

/// The root record and the catalogue, without the data.
struct Catalogue {
    std::uint16_t layout = kLayout611;
    std::vector<FragmentRecord> fragments;
    std::vector<ScenarioInfo> scenarios;
    std::uint32_t imageSize = kRootSize;

    std::uint32_t catalogueSize() const;
};

/// Reads a root record (at least kRootSize bytes). A wrong magic or an unknown
/// layout throws exception::UnknownVersionOfAudioMemory; counts that don't
/// give the catalogue size, or an image smaller than root and catalogue,
/// throw exception::IncorrectFormat.
RootRecord parseRoot(const std::string& bytes);

/// Reads the catalogue that follows `root` (`bytes` holds root and catalogue,
/// at least kRootSize + catalogueSize). A CRC that fails or data ranges that
/// aren't back to back up to the image size throw exception::IncorrectFormat.
Catalogue parseCatalogue(const RootRecord& root, const std::string& bytes);

/// Root record and catalogue with the offsets laid out from the records'
/// sizes (the records' offsets are ignored) and the image size set.
std::string encodeCatalogue(std::uint16_t layout, const std::vector<FragmentRecord>& fragments,
                            const std::vector<ScenarioInfo>& scenarios);

/// A whole image: the catalogue and each fragment's data (same order).
struct Image {
    Catalogue catalogue;
    std::vector<std::shared_ptr<const std::string>> data;
};

/// Checks everything parseRoot and parseCatalogue check, the length and
/// every data CRC (exception::IncorrectFormat).
Image parseImage(const std::string& bytes);
/// `data` in the order of `fragments`; sizes and CRCs are taken from the data.
std::string encodeImage(std::uint16_t layout, const std::vector<FragmentRecord>& fragments,
                        const std::vector<ScenarioInfo>& scenarios,
                        const std::vector<std::shared_ptr<const std::string>>& data);

/// CRC-32/MPEG-2 of a whole buffer.
std::uint32_t memoryCrc(const std::string& bytes);

/// The error all damaged images and catalogues give.
[[noreturn]] void throwDamaged(const std::wstring& what);

}  // namespace device::memory
