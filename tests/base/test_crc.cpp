#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <boost/crc.hpp>
#include <gtest/gtest.h>

#include "base/crc.h"

namespace {

using Mpeg2Oracle = boost::crc_optimal<32, 0x04C11DB7, 0xFFFFFFFF, 0, false, false>;

std::vector<unsigned char> randomBytes(std::mt19937& random, std::size_t size) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> data(size);
    for (auto& b : data) b = static_cast<unsigned char>(byte(random));
    return data;
}

}  // namespace

// The standard check values, and the table that the firmware check walks itself.
TEST(Crc, CheckValuesAndTheTableOfReflectedRemainders) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32Reflected(check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32Mpeg2(check.data(), check.size()), 0x0376E6E7u);
    EXPECT_EQ(crc32Mpeg2(nullptr, 0), 0xFFFFFFFFu);
    crc32InitTable();
    const z_crc_t* zlibTable = get_crc_table();
    for (int n = 0; n < 256; ++n) ASSERT_EQ(crc32Table[n], zlibTable[n]) << n;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : check) crc = (crc >> 8) ^ crc32Table[(crc ^ byte) & 0xFFu];
    EXPECT_EQ(~crc, 0xCBF43926u);
}

// Random buffers, each also continued from a cut anywhere in it.
TEST(Crc, AgreesWithZlibAndBoostAndContinuesOverChunks) {
    std::mt19937 random(20261206);
    std::uniform_int_distribution<std::size_t> length(0, 5000);
    for (int round = 0; round < 300; ++round) {
        const auto data = randomBytes(random, round < 64 ? static_cast<std::size_t>(round) : length(random));
        const std::uint32_t reflected = crc32Reflected(data.data(), data.size());
        const std::uint32_t mpeg2 = crc32Mpeg2(data.data(), data.size());
        Mpeg2Oracle mpeg2Oracle;
        mpeg2Oracle.process_bytes(data.data(), data.size());
        ASSERT_EQ(reflected, static_cast<std::uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size()))))
            << data.size();
        ASSERT_EQ(mpeg2, mpeg2Oracle.checksum()) << data.size();

        const std::size_t cut = std::uniform_int_distribution<std::size_t>(0, data.size())(random);
        ASSERT_EQ(crc32Reflected(data.data() + cut, data.size() - cut, crc32Reflected(data.data(), cut)), reflected)
            << cut;
        ASSERT_EQ(crc32Mpeg2(data.data() + cut, data.size() - cut, crc32Mpeg2(data.data(), cut)), mpeg2) << cut;
    }
}

TEST(Crc, TableMayBeInitialisedFromManyThreadsWhileOthersRead) {
    std::vector<std::thread> threads;
    std::vector<std::uint32_t> results(8);
    const std::string check = "123456789";
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            crc32InitTable();
            results[i] = crc32Reflected(check.data(), check.size());
        });
    for (auto& t : threads) t.join();
    for (auto r : results) EXPECT_EQ(r, 0xCBF43926u);
}
