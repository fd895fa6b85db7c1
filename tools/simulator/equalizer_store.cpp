#include "tools/simulator/equalizer_store.h"

#include <cstdio>
#include <vector>

#include <boost/algorithm/string/split.hpp>

namespace device::sim {

namespace {

std::optional<std::string> reply(const std::string& text) { return text; }

const char kWrong[] = "ERR wrong arguments";

bool readInt(const std::string& text, int& value) {
    if (text.empty()) return false;
    std::size_t used = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    return used == text.size();
}

}  // namespace

void EqualizerStore::install(const std::shared_ptr<EqualizerStore>& store, CommandModel& model) {
    for (const char* command : {"get eq", "get eqd", "set eq", "set eqd"})
        model.on(command, [store, command](const std::string& arguments) { return store->answer(command, arguments); });
}

std::optional<std::string> EqualizerStore::answer(const std::string& command, const std::string& arguments) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool sixBands = m_index >= 9;
    if (command == "get eq") {
        if (!m_switchReply.empty()) return m_switchReply;
        if (sixBands) return reply(m_enabled ? "on" : "off");
        char text[8];
        std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(m_packed));
        return reply(text);
    }
    if (command == "get eqd") {
        if (!sixBands) return reply("ERR unknown command");
        if (!m_bandsReply.empty()) return m_bandsReply;
        std::string text;
        for (std::size_t i = 0; i < m_bands.size(); ++i) text += (i ? ":" : "") + std::to_string(m_bands[i]);
        return text;
    }
    if (command == "set eqd") return sixBands ? setBandsFrom(arguments) : reply("ERR unknown command");
    // "set eq": the switch from index 9 on, the packed value before.
    if (sixBands) {
        if (arguments != "on" && arguments != "off") return reply(kWrong);
        m_enabled = arguments == "on";
        return reply("OK");
    }
    if (arguments.size() != 4 || arguments.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return reply(kWrong);
    m_packed = static_cast<std::uint16_t>(std::stoul(arguments, nullptr, 16));
    return reply("OK");
}

std::optional<std::string> EqualizerStore::setBandsFrom(const std::string& arguments) {
    std::vector<std::string> parts;
    boost::algorithm::split(parts, arguments, [](char c) { return c == ':'; });
    const std::size_t expected = m_index <= 13 ? 10 : 6;
    if (parts.size() != expected) return reply(kWrong);
    std::array<int, 6> bands{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        int value = 0;
        if (!readInt(parts[i], value)) return reply(kWrong);
        if (i >= 6) {
            if (value != 0) return reply(kWrong);
            continue;
        }
        if (value < -10 || value > 0) return reply(kWrong);
        bands[i] = value;
    }
    m_bands = bands;
    return reply("OK");
}

std::uint16_t EqualizerStore::packed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_packed;
}
void EqualizerStore::setPacked(std::uint16_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packed = value;
}
bool EqualizerStore::enabled() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_enabled;
}
void EqualizerStore::setEnabled(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_enabled = on;
}
std::array<int, 6> EqualizerStore::bands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bands;
}
void EqualizerStore::setBands(const std::array<int, 6>& bands) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bands = bands;
}
void EqualizerStore::setBandsReply(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bandsReply = text;
}
void EqualizerStore::setSwitchReply(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_switchReply = text;
}

}  // namespace device::sim
