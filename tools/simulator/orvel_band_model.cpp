#include "tools/simulator/orvel_band_model.h"

#include <stdexcept>

namespace device::sim {

namespace {

const char* const kVersions[] = {
    "",
    "Orvel-510 1.1.69.0",     "Orvel-510 1.1.70.0",     "Orvel-510 1.1.71.0",  "Orvel-510 1.1.71.2",
    "Orvel-510 1.1.72.0",     "Orvel-510 2.0.71.17104", "Orvel-510 2.0.71.17105", "Orvel-510 2.1.72.0",
    "Orvel-610 1.0.32.0",     "Orvel-610 1.0.33.0",     "Orvel-610 1.0.40.0",  "Orvel-610 1.0.56.0",
    "Orvel-610 1.0.59.0",     "Orvel-610 1.1.63.0",     "Orvel-610 1.1.69.0",  "Orvel-610 1.2.79.0",
    "Orvel-610 1.1.80.0",     "Orvel-610 1.0.110.0",    "Orvel-610 1.0.111.0", "Orvel-45 1.0.5.0",
    "Orvel-610 1.0.112.0",
};

const char kBuildDate[] = " 2024-01-15";

std::optional<std::string> reply(const std::string& text) { return text; }

}  // namespace

std::string orvelVersionOfIndex(int index, bool orvel611) {
    if (index < 1 || index > 21) throw std::out_of_range("no loudspeaker firmware of index " + std::to_string(index));
    std::string version = kVersions[index];
    if (orvel611 && version.rfind("Orvel-610 1.", 0) == 0) version.replace(10, 1, "2");  // major 2
    return version + kBuildDate;
}

unsigned orvelFieldCount(int index) { return index <= 8 ? 6 : index <= 16 ? 7 : 15; }

std::optional<unsigned> orvelStreamState(int index, unsigned channel) {
    if (index < 2) return std::nullopt;
    // By generation: high priority, repeater, low priority.
    struct States {
        unsigned high, repeater, low;
    };
    const States states = index <= 8    ? States{4, 5, 0}
                          : index <= 16 ? States{2, 3, 1}
                          : index == 17 ? States{3, 4, 1}
                                        : States{4, 5, 1};
    switch (channel) {
        case 1:
        case 2:
            return states.high;
        case 3:
            return states.repeater;
        case 4:
        case 6:
            return states.low;
        default:
            return 0u;
    }
}

OrvelBandModel::OrvelBandModel(std::string hardwareAddress, int index, bool orvel611)
    : OrvelModel(std::move(hardwareAddress), orvelVersionOfIndex(index, orvel611)), m_index(index) {
    // Battery full and good, lines good, case closed, idle, playing sound,
    // mains present, both Ethernet ports and the zone interface up.
    fields = {100, 1, 1, 1, 0, 0, 4, 1, 0, 0, 3, 1, 0, 0, 0};
    on("set ch", [this](const std::string& arguments) {
        // Nine digits at most: a longer number is no channel, and stoul would throw for it.
        if (arguments.empty() || arguments.size() > 9 ||
            arguments.find_first_not_of("0123456789") != std::string::npos)
            return reply("ERR wrong arguments");
        if (!channelReply.empty()) return reply(channelReply);
        channel = static_cast<unsigned>(std::stoul(arguments));
        showChannel();
        return reply("OK");
    });
    on("get ch", [this](const std::string&) { return reply(std::to_string(channel)); });
    on("set line", [this](const std::string&) { return reply(lineReply); });
    on("set", [this](const std::string& arguments) {
        const std::size_t blank = arguments.find(' ');
        if (blank == std::string::npos || blank == 0) return reply("ERR wrong arguments");
        const std::string key = arguments.substr(0, blank);
        if (unknownKeys.count(key) != 0) return reply("ERR unknown key");
        settings[key] = arguments.substr(blank + 1);
        return reply("OK");
    });
    const bool old510 = index >= 2 && index <= 8;
    on("get linedouble", [this, old510](const std::string&) {
        return reply(old510 ? (linesJoined ? "On" : "Off") : "ERR unknown command");
    });
    on("get linetest", [this, old510](const std::string&) {
        return reply(old510 ? (lineTest ? "On" : "Off") : "ERR unknown command");
    });
    const bool zarno = index == 4 || index == 5 || index == 7 || index == 8;
    on("get zarnotest", [this, zarno](const std::string&) {
        return reply(zarno ? (zarnoTest ? "On" : "Off") : "ERR unknown command");
    });
}

std::string OrvelBandModel::statePacket() const {
    std::string packet = hardwareAddress();
    for (unsigned i = 0; i < orvelFieldCount(m_index); ++i) packet += "," + std::to_string(fields[i]);
    return packet + "," + versionText();
}

Holdings OrvelBandModel::holdings() const {
    Holdings holdings = OrvelModel::holdings();
    holdings.channel = channel;
    return holdings;
}

void OrvelBandModel::restart() {
    OrvelModel::restart();
    channel = 0;
    if (showsChannel && orvelStreamState(m_index, 0)) fields[5] = *orvelStreamState(m_index, 0);
}

void OrvelBandModel::showChannel() {
    const std::optional<unsigned> state = orvelStreamState(m_index, channel);
    if (!state || !showsChannel) return;
    bool stream = false;  // the packet shows a stream, not a playback of its own
    for (unsigned shown = 0; shown <= 6; ++shown)
        stream = stream || fields[5] == orvelStreamState(m_index, shown);
    if (stream) fields[5] = *state;
}

const std::vector<Band>& orvelBands() {
    static const std::vector<Band> bands = {{2, false},  {3, false},  {5, false},  {8, false},
                                            {12, false}, {16, false}, {17, false}, {18, false},
                                            {18, true},  {19, false}, {20, false}, {21, false}};
    return bands;
}

}  // namespace device::sim
