#include "tools/simulator/line_control_store.h"

#include <cstdio>

namespace device::sim {

namespace {

std::optional<std::string> reply(const std::string& text) { return text; }

bool readIndex(const std::string& text, unsigned& index) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    index = static_cast<unsigned>(std::stoul(text));
    return true;
}

}  // namespace

void LineControlStore::install(const std::shared_ptr<LineControlStore>& store, CommandModel& model) {
    model.on("lsensor", [store](const std::string& arguments) { return store->answer(arguments); });
}

std::optional<std::string> LineControlStore::answer(const std::string& arguments) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_absent.empty()) return m_absent;
    const std::size_t blank = arguments.find(' ');
    const std::string verb = arguments.substr(0, blank);
    const std::string value = blank == std::string::npos ? std::string() : arguments.substr(blank + 1);
    const auto fixed = m_replies.find(verb);
    if (fixed != m_replies.end() && !fixed->second.empty()) return fixed->second;

    if (verb.empty()) return stateReply();
    if (verb == "ver") return m_version + ",hwaddr " + m_hardwareAddress;
    if (verb == "dbg") {
        if (m_state == "Active") return reply("Mode: work\r\nTips: " + std::to_string(m_tips.size()));
        return reply("Mode: init\r\nInit mode: " + std::to_string(m_initMode));
    }
    unsigned index = 0;
    if (verb == "power") {
        if (value != "0" && value != "1") return reply("ERR wrong arguments");
        m_powerSave = value == "1" ? 1 : 0;
        return reply("OK");
    }
    if (verb == "add" || verb == "del") {
        if (!readIndex(value, index)) return reply("ERR wrong arguments");
        if (verb == "add")
            m_tips[index].flags |= 1;
        else if (m_tips.erase(index) == 0)
            return reply("ERR no such device");
        return reply("OK");
    }
    if (verb == "addAll") {
        for (auto& tip : m_tips) tip.second.flags |= 1;
        return reply("OK");
    }
    if (verb == "prefReset") {
        m_tips.clear();
        return reply("OK");
    }
    if (verb == "reboot") {
        m_state = "Not Ready";
        m_progress = 0;
        return reply("OK");
    }
    return reply("ERR unknown command");
}

std::string LineControlStore::stateReply() const {
    // Exactly one character separates the header's ':' from the first item.
    std::string text = m_state + "," + std::to_string(m_powerSave) + "," + std::to_string(m_progress) + ": ";
    if (m_state != "Active") return text;
    for (const auto& entry : m_tips) {
        char item[64];
        std::snprintf(item, sizeof item, "%u:%X:%X:%X:", entry.first, entry.second.flags, entry.second.first,
                      entry.second.second);
        text += item + entry.second.code + ";";
    }
    return text;
}

void LineControlStore::setAbsent(const std::string& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_absent = reply;
}

void LineControlStore::setState(const std::string& state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = state;
}
std::string LineControlStore::state() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}
void LineControlStore::setPowerSave(unsigned mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_powerSave = mode;
}
unsigned LineControlStore::powerSave() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_powerSave;
}
void LineControlStore::setProgress(unsigned percent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = percent;
}
void LineControlStore::setInitMode(unsigned mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initMode = mode;
}
void LineControlStore::setTip(unsigned index, const Tip& tip) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tips[index] = tip;
}
std::map<unsigned, LineControlStore::Tip> LineControlStore::tips() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tips;
}
void LineControlStore::setVersion(const std::string& version, const std::string& hardwareAddress) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_version = version;
    m_hardwareAddress = hardwareAddress;
}
void LineControlStore::setReply(const std::string& command, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies[command] = text;
}
std::pair<std::uint32_t, std::uint32_t> LineControlStore::masks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::uint32_t added = 0;
    std::uint32_t active = 0;
    for (const auto& entry : m_tips) {
        if (entry.first >= 20) continue;
        if (entry.second.flags & 1) added |= 1u << entry.first;
        if (entry.second.flags & 2) active |= 1u << entry.first;
    }
    return {added, active};
}

}  // namespace device::sim
