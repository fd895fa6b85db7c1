#include "base/crc.h"

#include <mutex>

namespace {

std::array<std::uint32_t, 256> g_reflected{};
std::once_flag g_reflectedBuilt;

constexpr std::array<std::uint32_t, 256> msbFirstTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n << 24;
        for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kMsbFirst = msbFirstTable();

}  // namespace

const std::array<std::uint32_t, 256>& crc32Table = g_reflected;

void crc32InitTable() {
    // Built once: a rebuild while another thread reads the table would be a
    // data race even though it writes the same values.
    std::call_once(g_reflectedBuilt, [] {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            g_reflected[n] = c;
        }
    });
}

std::uint32_t crc32Reflected(const void* data, std::size_t size, std::uint32_t previous) {
    crc32InitTable();
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t crc = ~previous;
    for (std::size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ g_reflected[(crc ^ bytes[i]) & 0xFFu];
    return ~crc;
}

std::uint32_t crc32Mpeg2(const void* data, std::size_t size, std::uint32_t previous) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t crc = previous;
    for (std::size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kMsbFirst[((crc >> 24) ^ bytes[i]) & 0xFFu];
    return crc;
}
