#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "tests/support/wav_file.h"
#include "tools/plugins/wav_reader.h"

using namespace testing_support;

namespace {

size_t readMemory(void* context, uint64_t offset, void* buffer, size_t size) {
    const auto* bytes = static_cast<const std::string*>(context);
    if (offset >= bytes->size()) return 0;
    const size_t n = std::min<size_t>(size, bytes->size() - static_cast<size_t>(offset));
    std::memcpy(buffer, bytes->data() + offset, n);
    return n;
}

wav_result readInfo(const std::string& bytes, wav_info& info) {
    return wav_read_info(readMemory, const_cast<std::string*>(&bytes), bytes.size(), &info);
}

const std::vector<std::int16_t> kStereo = {1, -1, 2, -2, 3, -3, 4, -4};

}  // namespace

TEST(WavReader, FindsFormatAndDataPastOtherChunks) {
    // An odd-sized chunk before the format and one between format and data:
    // the padding byte must be skipped or the walk loses step.
    const std::string file = riffWave(wavChunk("LIST", "odd") +
                                      wavChunk("fmt ", wavFormat(1, 2, 44100, 16)) +
                                      wavChunk("fact", "1234") + wavChunk("data", pcmBytes(kStereo)));
    wav_info info{};
    ASSERT_EQ(readInfo(file, info), WAV_OK);
    EXPECT_EQ(info.samplerate, 44100u);
    EXPECT_EQ(info.channels, 2u);
    EXPECT_EQ(info.block_align, 4u);
    EXPECT_EQ(info.data_bytes, kStereo.size() * 2);
    EXPECT_EQ(file.substr(info.data_offset, info.data_bytes), pcmBytes(kStereo));
}

TEST(WavReader, AcceptsExtensibleFormatWithPcmSubformat) {
    std::string fmt = wavFormat(0xFFFE, 1, 8000, 16);
    putLe(fmt, 22, 2);       // extension size
    putLe(fmt, 16, 2);       // valid bits
    putLe(fmt, 4, 4);        // channel mask
    putLe(fmt, 1, 2);        // sub-format GUID starts with the PCM tag
    fmt += std::string(14, '\x11');
    wav_info info{};
    EXPECT_EQ(readInfo(riffWave(wavChunk("fmt ", fmt) + wavChunk("data", "\1\2\3\4")), info), WAV_OK);
    EXPECT_EQ(info.data_bytes, 4u);

    fmt[24] = 3;  // IEEE float sub-format
    EXPECT_EQ(readInfo(riffWave(wavChunk("fmt ", fmt) + wavChunk("data", "\1\2\3\4")), info),
              WAV_UNSUPPORTED);
}

TEST(WavReader, RefusesWhatTheOutputCannotTake) {
    struct Case {
        unsigned tag, channels, rate, bits;
        int align;
    } cases[] = {
        {1, 1, 44100, 8, -1},   {1, 3, 44100, 16, -1}, {1, 0, 44100, 16, 2}, {1, 1, 7999, 16, -1},
        {1, 1, 48001, 16, -1},  {3, 1, 44100, 16, -1}, {1, 2, 44100, 16, 2}, {1, 1, 44100, 24, -1},
    };
    for (const auto& c : cases) {
        wav_info info{};
        const std::string file = riffWave(wavChunk("fmt ", wavFormat(c.tag, c.channels, c.rate, c.bits, c.align)) +
                                          wavChunk("data", pcmBytes(kStereo)));
        EXPECT_EQ(readInfo(file, info), WAV_UNSUPPORTED)
            << c.tag << " " << c.channels << " " << c.rate << " " << c.bits << " " << c.align;
    }
    wav_info info{};
    EXPECT_EQ(readInfo(riffWave(wavChunk("fmt ", wavFormat(1, 1, 8000, 16)) +
                                wavChunk("data", pcmBytes(kStereo))), info), WAV_OK);
    EXPECT_EQ(readInfo(riffWave(wavChunk("fmt ", wavFormat(1, 2, 48000, 16)) +
                                wavChunk("data", pcmBytes(kStereo))), info), WAV_OK);
}

TEST(WavReader, MissingChunksAreNamed) {
    wav_info info{};
    EXPECT_EQ(readInfo("RIFX\0\0\0\0WAVE", info), WAV_NOT_RIFF);
    EXPECT_EQ(readInfo(riffWave("").replace(8, 4, "AVI "), info), WAV_NOT_RIFF);
    EXPECT_EQ(readInfo(riffWave(wavChunk("data", pcmBytes(kStereo))), info), WAV_NO_FORMAT);
    EXPECT_EQ(readInfo(riffWave(wavChunk("fmt ", wavFormat(1, 2, 44100, 16))), info), WAV_NO_DATA);
    // Less than one whole frame of data is no data.
    EXPECT_EQ(readInfo(riffWave(wavChunk("fmt ", wavFormat(1, 2, 44100, 16)) + wavChunk("data", "\1\2")),
                       info),
              WAV_NO_DATA);
}

TEST(WavReader, DataLongerThanTheFileIsCutToWholeFrames) {
    // A recorder that was killed leaves the size it meant to write (or
    // 0xFFFFFFFF) in the header.
    std::string file = wavFile(kStereo, 22050, 2);
    const size_t sizeField = file.size() - kStereo.size() * 2 - 4;
    file.replace(sizeField, 4, "\xFF\xFF\xFF\xFF");
    file.pop_back();  // half a sample at the end
    wav_info info{};
    ASSERT_EQ(readInfo(file, info), WAV_OK);
    EXPECT_EQ(info.data_bytes, (kStereo.size() - 2) * 2);
    EXPECT_LE(info.data_offset + info.data_bytes, file.size());
}

TEST(WavReader, EveryTruncationIsRefusedOrStaysInside) {
    const std::string file = riffWave(wavChunk("fmt ", wavFormat(1, 2, 44100, 16)) +
                                      wavChunk("LIST", std::string(33, 'x')) +
                                      wavChunk("data", pcmBytes(kStereo)));
    for (size_t length = 0; length < file.size(); ++length) {
        const std::string cut = file.substr(0, length);
        wav_info info{};
        const wav_result result = readInfo(cut, info);
        if (result == WAV_OK) {
            EXPECT_LE(info.data_offset + info.data_bytes, cut.size()) << length;
            EXPECT_EQ(info.data_bytes % 4, 0u) << length;
        }
        EXPECT_NE(std::string(wav_result_text(result)), "unknown");
    }
}

TEST(WavReader, RandomInputNeverReadsOutside) {
    std::mt19937 random(14);
    const std::string valid = wavFile(kStereo, 44100, 2);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        if (round % 2 == 0) {
            bytes.resize(random() % 96);
            for (auto& b : bytes) b = static_cast<char>(random());
            if (bytes.size() >= 12 && round % 4 == 0) bytes.replace(0, 4, "RIFF").replace(8, 4, "WAVE");
        } else {
            bytes = valid;
            for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
                bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        wav_info info{};
        if (readInfo(bytes, info) == WAV_OK) {
            ASSERT_LE(info.data_offset + info.data_bytes, bytes.size());
            ASSERT_GT(info.data_bytes, 0u);
            ASSERT_EQ(info.data_bytes % info.block_align, 0u);
            ASSERT_TRUE(info.channels == 1 || info.channels == 2);
            ASSERT_GE(info.samplerate, 8000u);
            ASSERT_LE(info.samplerate, 48000u);
        }
    }
}
