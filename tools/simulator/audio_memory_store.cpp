#include "tools/simulator/audio_memory_store.h"

#include <cstdio>
#include <iterator>
#include <sstream>

#include <boost/algorithm/hex.hpp>

#include "base/crc.h"

namespace device::sim {

AudioMemoryStore::AudioMemoryStore(std::uint16_t layout, std::uint32_t capacity)
    : m_layout(layout), m_capacity(capacity) {}

void AudioMemoryStore::install(const std::shared_ptr<AudioMemoryStore>& store, CommandModel& model) {
    model.on("mem", [store](const std::string& arguments) { return store->answer(arguments); });
    model.addPart("mem", {[store](Holdings& holdings) { holdings.memory = store->state(); },
                          [store] { store->restart(); }});
}

void AudioMemoryStore::setLayout(std::uint16_t layout) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_layout = layout;
}

void AudioMemoryStore::plant(const std::string& image) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_committed = image;
    m_staging = image;
}

std::string AudioMemoryStore::committed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_committed;
}

void AudioMemoryStore::setLoss(unsigned percent, unsigned seed) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loss = percent;
    m_random.seed(seed);
}

void AudioMemoryStore::refuse(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refused = prefix;
}

unsigned AudioMemoryStore::count(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_counts.find(prefix);
    return it == m_counts.end() ? 0 : it->second;
}

std::uint64_t AudioMemoryStore::bytesRead() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytesRead;
}

std::string AudioMemoryStore::state() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

void AudioMemoryStore::setState(const std::string& state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = state;
}

void AudioMemoryStore::restart() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = "idle";
    m_staging = m_committed;
}

std::optional<std::string> AudioMemoryStore::answer(const std::string& arguments) {
    std::istringstream in(arguments);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in >> std::ws, rest);

    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counts[verb];
    if (m_loss > 0 && std::uniform_int_distribution<unsigned>(0, 99)(m_random) < m_loss) return std::nullopt;
    if (!m_refused.empty() && verb.rfind(m_refused, 0) == 0) return std::string("ERR refused");
    return handle(verb, rest);
}

std::optional<std::string> AudioMemoryStore::handle(const std::string& verb, const std::string& arguments) {
    std::istringstream in(arguments);
    if (verb == "info") {
        return "OK " + std::to_string(m_layout) + " " + std::to_string(m_capacity) + " " +
               std::to_string(m_committed.size());
    }
    if (verb == "read") {
        unsigned long offset = 0, length = 0;
        if (!(in >> offset >> length) || length > 512 || offset + length > m_committed.size())
            return std::string("ERR range");
        m_bytesRead += length;
        std::string reply = "OK ";
        boost::algorithm::hex(m_committed.begin() + static_cast<long>(offset),
                              m_committed.begin() + static_cast<long>(offset + length), std::back_inserter(reply));
        return reply;
    }
    if (verb == "write") {
        unsigned long offset = 0;
        std::string hex;
        if (!(in >> offset >> hex) || hex.size() > 1024) return std::string("ERR format");
        std::string bytes;
        try {
            bytes = boost::algorithm::unhex(hex);
        } catch (const boost::algorithm::hex_decode_error&) {
            return std::string("ERR format");
        }
        if (offset + bytes.size() > m_capacity) return std::string("ERR range");
        if (m_staging.size() < offset + bytes.size()) m_staging.resize(offset + bytes.size());
        m_staging.replace(offset, bytes.size(), bytes);
        return std::string("OK");
    }
    if (verb == "commit") {
        unsigned long size = 0;
        std::string crcText;
        if (!(in >> size >> crcText) || size > m_staging.size()) return std::string("ERR range");
        const unsigned long crc = std::strtoul(crcText.c_str(), nullptr, 16);
        if (crc32Mpeg2(m_staging.data(), size) != crc) return std::string("ERR crc");
        m_committed = m_staging.substr(0, size);
        m_staging = m_committed;
        m_state = "idle";
        return std::string("OK");
    }
    if (verb == "play") {
        std::string kind;
        unsigned id = 0;
        if (!(in >> kind >> id) || (kind != "fragment" && kind != "scenario")) return std::string("ERR format");
        m_state = kind + " " + std::to_string(id);
        return std::string("OK");
    }
    if (verb == "stop") {
        m_state = "idle";
        return std::string("OK");
    }
    if (verb == "state") return "OK " + m_state;
    return std::string("ERR unknown command");
}

}  // namespace device::sim
