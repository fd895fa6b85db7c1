#include "device/source_cache.h"

#include <cstdio>

namespace device {

std::string addressText(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                  address & 0xFF);
    return text;
}

net::IpAndPort endpointOf(std::uint32_t address, std::uint16_t port) {
    return net::IpAndPort(addressText(address), port);
}

SourceCache::SourceCache(std::size_t limit) : m_limit(limit > 0 ? limit : 1) {}

const net::IpAndPort& SourceCache::get(std::uint32_t address, std::uint16_t port) {
    const std::uint64_t key = (static_cast<std::uint64_t>(address) << 16) | port;
    const auto found = m_index.find(key);
    if (found != m_index.end()) {
        Entry& entry = m_entries[found->second];
        entry.seen = true;
        return entry.endpoint;
    }
    std::size_t slot = m_entries.size();
    if (slot < m_limit) {
        m_entries.push_back(Entry{key, endpointOf(address, port), true});
    } else {
        // Every entry passed clears its mark, so one round at most finds a
        // free one.
        while (m_entries[m_hand].seen) {
            m_entries[m_hand].seen = false;
            m_hand = (m_hand + 1) % m_entries.size();
        }
        slot = m_hand;
        m_hand = (m_hand + 1) % m_entries.size();
        m_index.erase(m_entries[slot].key);
        m_entries[slot] = Entry{key, endpointOf(address, port), true};
    }
    m_index.emplace(key, slot);
    return m_entries[slot].endpoint;
}

}  // namespace device
