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

TEST(WavReader, ResultsNameWhatIsMissingOrWhatTheOutputCannotTake) {
    const std::string data = wavChunk("data", pcmBytes(kStereo));
    const auto fmt = [](unsigned tag, unsigned channels, unsigned rate, unsigned bits, int align = -1) {
        return wavChunk("fmt ", wavFormat(tag, channels, rate, bits, align));
    };
    const struct {
        const char* name;
        std::string bytes;
        wav_result expected;
    } rows[] = {
        {"RIFX", std::string("RIFX\0\0\0\0WAVE", 12), WAV_NOT_RIFF},
        {"AVI", riffWave("").replace(8, 4, "AVI "), WAV_NOT_RIFF},
        {"no format", riffWave(data), WAV_NO_FORMAT},
        {"no data", riffWave(fmt(1, 2, 44100, 16)), WAV_NO_DATA},
        {"less than a frame", riffWave(fmt(1, 2, 44100, 16) + wavChunk("data", "\1\2")), WAV_NO_DATA},
        {"8 bits", riffWave(fmt(1, 1, 44100, 8) + data), WAV_UNSUPPORTED},
        {"3 channels", riffWave(fmt(1, 3, 44100, 16) + data), WAV_UNSUPPORTED},
        {"0 channels", riffWave(fmt(1, 0, 44100, 16, 2) + data), WAV_UNSUPPORTED},
        {"7999 Hz", riffWave(fmt(1, 1, 7999, 16) + data), WAV_UNSUPPORTED},
        {"48001 Hz", riffWave(fmt(1, 1, 48001, 16) + data), WAV_UNSUPPORTED},
        {"float", riffWave(fmt(3, 1, 44100, 16) + data), WAV_UNSUPPORTED},
        {"stereo block of 2", riffWave(fmt(1, 2, 44100, 16, 2) + data), WAV_UNSUPPORTED},
        {"24 bits", riffWave(fmt(1, 1, 44100, 24) + data), WAV_UNSUPPORTED},
        {"8000 Hz mono", riffWave(fmt(1, 1, 8000, 16) + data), WAV_OK},
        {"48000 Hz stereo", riffWave(fmt(1, 2, 48000, 16) + data), WAV_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        wav_info info{};
        EXPECT_EQ(readInfo(row.bytes, info), row.expected);
    }
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
