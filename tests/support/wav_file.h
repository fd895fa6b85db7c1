#pragma once

// Builds RIFF/WAVE files in memory for the WAV reader and plug-in tests.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace testing_support {

inline void putLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline std::string wavChunk(const std::string& id, const std::string& body) {
    std::string chunk = id;
    putLe(chunk, static_cast<std::uint32_t>(body.size()), 4);
    chunk += body;
    if (body.size() % 2 != 0) chunk.push_back('\0');
    return chunk;
}

/// A format chunk body: tag, channels, rate, bits, with byte rate and block
/// align derived from them unless given.
inline std::string wavFormat(unsigned tag, unsigned channels, unsigned rate, unsigned bits,
                             int blockAlign = -1) {
    const unsigned align = blockAlign >= 0 ? static_cast<unsigned>(blockAlign) : channels * bits / 8;
    std::string fmt;
    putLe(fmt, tag, 2);
    putLe(fmt, channels, 2);
    putLe(fmt, rate, 4);
    putLe(fmt, rate * align, 4);
    putLe(fmt, align, 2);
    putLe(fmt, bits, 2);
    return fmt;
}

inline std::string riffWave(const std::string& chunks) {
    std::string file = "RIFF";
    putLe(file, static_cast<std::uint32_t>(chunks.size() + 4), 4);
    return file + "WAVE" + chunks;
}

inline std::string pcmBytes(const std::vector<std::int16_t>& samples) {
    return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

/// A plain 16-bit PCM file of interleaved samples.
inline std::string wavFile(const std::vector<std::int16_t>& samples, unsigned rate, unsigned channels) {
    return riffWave(wavChunk("fmt ", wavFormat(1, channels, rate, 16)) +
                    wavChunk("data", pcmBytes(samples)));
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testing_support
