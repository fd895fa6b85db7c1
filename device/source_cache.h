#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "base/ip_address.h"

namespace device {

/// Dotted text of an IPv4 address in host order.
std::string addressText(std::uint32_t address);
/// The endpoint object of an address in host order and a port.
net::IpAndPort endpointOf(std::uint32_t address, std::uint16_t port);

/// The endpoints of the sources one receiving thread has seen, each made
/// once: an endpoint holds its texts, which cost more to build than a
/// datagram costs to handle. Past the limit, one not looked up since the
/// clock hand last passed it makes room (second chance), so a lookup that
/// finds its endpoint costs one hash lookup and one store. Not thread-safe.
class SourceCache {
public:
    explicit SourceCache(std::size_t limit);

    /// The endpoint stays valid until this cache makes a new one.
    const net::IpAndPort& get(std::uint32_t address, std::uint16_t port);
    std::size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        std::uint64_t key;
        net::IpAndPort endpoint;
        bool seen;
    };
    std::size_t m_limit;
    std::deque<Entry> m_entries;  // grows without moving what it holds
    std::unordered_map<std::uint64_t, std::size_t> m_index;
    std::size_t m_hand = 0;
};

}  // namespace device
