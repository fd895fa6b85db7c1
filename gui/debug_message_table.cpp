#include "gui/debug_message_table.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "base/log.h"

namespace frm {

namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool DebugMessageTable::parseLine(const std::string& line, std::uint32_t& number, std::string& text) {
    if (line.empty() || line[0] != '!') return false;
    std::size_t at = 1;
    while (at < line.size() && isBlank(line[at])) ++at;
    const std::size_t digits = at;
    std::uint64_t value = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
        value = value * 10 + static_cast<unsigned>(line[at] - '0');
        if (value > UINT32_MAX) return false;
        ++at;
    }
    if (at == digits) return false;
    while (at < line.size() && isBlank(line[at])) ++at;
    const std::size_t end = line.find('!', at);
    const std::size_t length = (end == std::string::npos ? line.size() : end) - at;
    if (length == 0) return false;
    number = static_cast<std::uint32_t>(value);
    text = line.substr(at, std::min(length, kMaxText));
    return true;
}

DebugMessageTable::Outcome DebugMessageTable::add(const std::string& reply, int kind) {
    Outcome outcome;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t start = 0;
    while (start < reply.size()) {
        std::size_t end = reply.find_first_of("\r\n", start);
        if (end == std::string::npos) end = reply.size();
        if (end > start) {
            const std::string line = reply.substr(start, end - start);
            std::uint32_t number = 0;
            std::string text;
            if (parseLine(line, number, text)) {
                // 64 bits: a number near the top of the range must not wrap.
                if (std::uint64_t(number) + kFallBack < m_lastNumber) {
                    LOG_DEBUG(L"%1%", L"clear debug history data.");
                    m_messages.clear();
                    outcome.cleared = true;
                }
                m_lastNumber = number;
                std::map<std::uint32_t, std::string>& messages = m_messages[kind];
                if (messages.empty() || number > messages.rbegin()->first) {
                    outcome.appended += text;
                    outcome.appended += '\n';
                } else {
                    outcome.appendOnly = false;
                }
                messages[number] = std::move(text);
                outcome.stored = true;
            } else {
                outcome.other += line;
                outcome.other += '\n';
            }
        }
        start = end + 1;
    }
    return outcome;
}

std::string DebugMessageTable::history(int kind) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string text;
    const auto found = m_messages.find(kind);
    if (found == m_messages.end()) return text;
    for (const auto& message : found->second) {
        text += message.second;
        text += '\n';
    }
    return text;
}

std::size_t DebugMessageTable::size(int kind) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_messages.find(kind);
    return found == m_messages.end() ? 0 : found->second.size();
}

void DebugMessageTable::clear(int kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.erase(kind);
}

void DebugMessageTable::clearAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

std::uint32_t DebugMessageTable::lastNumber() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastNumber;
}

}  // namespace frm
