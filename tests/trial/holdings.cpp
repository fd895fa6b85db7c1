#include "tests/trial/holdings.h"

#include <cstdlib>
#include <sstream>

namespace trial {

namespace {

/// The value of `name=` in `fields`, unquoted; nothing when it is absent.
std::optional<std::string> field(const std::string& fields, const std::string& name) {
    const std::string key = " " + name + "=";
    const std::size_t at = (" " + fields).find(key);
    if (at == std::string::npos) return std::nullopt;
    std::size_t begin = at + key.size() - 1;
    if (begin < fields.size() && fields[begin] == '"') {
        const std::size_t end = fields.find('"', begin + 1);
        if (end == std::string::npos) return std::nullopt;
        return fields.substr(begin + 1, end - begin - 1);
    }
    const std::size_t end = fields.find(' ', begin);
    return fields.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

std::map<unsigned, Holding> parseHoldings(const std::string& text) {
    std::map<unsigned, Holding> devices;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        unsigned number = 0;
        Holding holding;
        if (!(words >> number >> holding.address) || number == 0) continue;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (const auto channel = field(rest, "channel")) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(channel->c_str(), &end, 10);
            if (channel->empty() || *end != '\0') continue;
            holding.channel = static_cast<unsigned>(value);
        }
        holding.volume = field(rest, "volume").value_or("");
        holding.memory = field(rest, "memory").value_or("");
        holding.deferred = field(rest, "deferred").value_or("");
        holding.down = (" " + rest + " ").find(" down ") != std::string::npos;
        devices[number] = holding;
    }
    return devices;
}

std::string describe(const Holding& holding) {
    std::string text = "channel=" + (holding.channel ? std::to_string(*holding.channel) : std::string("-")) +
                       " volume=" + (holding.volume.empty() ? std::string("-") : holding.volume);
    if (!holding.deferred.empty()) text += " deferred=\"" + holding.deferred + "\"";
    if (holding.down) text += " down";
    return text;
}

}  // namespace trial
