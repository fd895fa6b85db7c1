#include <gtest/gtest.h>

#include <string>

#include "device/source_cache.h"

namespace device {
namespace {

constexpr std::uint32_t kBase = 0x7F0A0001;  // 127.10.0.1

TEST(SourceCache, EndpointsReadBackTheirAddressAndPortAlsoPastTheLimit) {
    SourceCache cache(8);
    for (std::uint32_t round = 0; round < 3; ++round) {
        for (std::uint32_t i = 0; i < 20; ++i) {
            const std::uint16_t port = static_cast<std::uint16_t>(1000 + i % 3);
            const net::IpAndPort& endpoint = cache.get(kBase + i, port);
            EXPECT_EQ(endpoint.getAddress(), kBase + i);
            EXPECT_EQ(endpoint.getPort(), port);
            EXPECT_EQ(endpoint.getText(), addressText(kBase + i));
        }
        EXPECT_EQ(cache.size(), 8u) << "the cache stays within its limit";
    }
    // One address on two ports: two endpoints.
    EXPECT_EQ(cache.get(kBase, 7).getPort(), 7);
    EXPECT_EQ(cache.get(kBase, 8).getPort(), 8);
    EXPECT_EQ(cache.get(kBase, 7).getPort(), 7);
}

TEST(SourceCache, ASourceLookedUpSinceTheHandPassedSurvivesTheNextNewOne) {
    SourceCache cache(3);
    cache.get(kBase + 1, 1);
    cache.get(kBase + 2, 1);
    cache.get(kBase + 3, 1);
    cache.get(kBase + 4, 1);  // the hand clears every mark and takes the first
    EXPECT_EQ(&cache.get(kBase + 2, 1), &cache.get(kBase + 2, 1)) << "still held, not made again";
    const net::IpAndPort* second = &cache.get(kBase + 2, 1);
    cache.get(kBase + 5, 1);  // the second was seen again: the third goes
    EXPECT_EQ(&cache.get(kBase + 2, 1), second);
    EXPECT_EQ(cache.get(kBase + 3, 1).getAddress(), kBase + 3) << "made again after it went";
}

}  // namespace
}  // namespace device
