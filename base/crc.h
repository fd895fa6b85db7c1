#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The two CRC-32 forms of the firmware images and the audio memory.
//
// Reflected CRC-32 (ISO-HDLC, polynomial 0xEDB88320, start 0xFFFFFFFF, final
// complement): Orvel-510 firmware images. "123456789" gives 0xCBF43926.
//
// MSB-first CRC-32/MPEG-2 (polynomial 0x04C11DB7, start 0xFFFFFFFF, no
// reflection, no final complement): the other firmware images and the audio
// memory. "123456789" gives 0x0376E6E7.

/// Entry n is the reflected CRC-32 remainder of the byte value n; zeros until
/// crc32InitTable() has run.
extern const std::array<std::uint32_t, 256>& crc32Table;

/// Fills crc32Table. The table is built once; later calls (firmware checks
/// call it before each check) only wait for that and may run on any thread.
void crc32InitTable();

/// Reflected CRC-32 of the bytes; pass a previous result to continue over a
/// further chunk (0 to start, the empty input gives 0), as zlib's crc32 does.
std::uint32_t crc32Reflected(const void* data, std::size_t size, std::uint32_t previous = 0);

/// CRC-32/MPEG-2 of the bytes; pass a previous result to continue (the empty
/// input gives 0xFFFFFFFF).
std::uint32_t crc32Mpeg2(const void* data, std::size_t size, std::uint32_t previous = 0xFFFFFFFFu);
