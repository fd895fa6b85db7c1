#include "tools/simulator/orvel_config_model.h"

#include <vector>

namespace device::sim {

namespace {

enum class Kind { text, flag, number };

struct Key {
    const char* key;
    const char* setting;
    Kind kind;
    int minIndex;
    int maxIndex;
    bool inputsMask;  // only models with the analog-input hardware
};

// The keys each generation of the firmware takes, in the order of the
// server's key table; where two rows share a name at one index the later
// one wins.
const Key kKeys[] = {
    {"ip", "ip", Kind::text, 1, 21, false},
    {"mask", "mask", Kind::text, 1, 21, false},
    {"gw", "gw", Kind::text, 1, 21, false},
    {"dhcp", "dhcp", Kind::flag, 1, 21, false},
    {"multicastIP", "multicast", Kind::text, 1, 8, false},
    {"mCastIP", "multicast", Kind::text, 9, 21, false},
    {"cmdPort", "srvPort", Kind::number, 1, 8, false},
    {"srvPort", "srvPort", Kind::number, 9, 21, false},
    {"cmdSrvIP", "srvAllowed", Kind::text, 1, 8, false},
    {"srvAllowedIp", "srvAllowed", Kind::text, 9, 21, false},
    {"AddrZarno", "zarnoAddr", Kind::number, 1, 8, false},
    {"zarnoAddr", "zarnoAddr", Kind::number, 9, 21, false},
    {"ReleEvent", "zarnoRelay", Kind::flag, 1, 8, false},
    {"zarnoRelay", "zarnoRelay", Kind::flag, 9, 21, false},
    {"zarnotest", "zarnoTest", Kind::flag, 4, 18, false},
    {"zarnoTest", "zarnoTest", Kind::flag, 19, 21, false},
    {"zarnoReserve", "zarnoReserve", Kind::flag, 18, 21, true},
    {"linetest", "lineTest", Kind::flag, 3, 8, false},
    {"linedouble", "lineDouble", Kind::flag, 2, 8, false},
    {"multicastListen", "multicastListen", Kind::flag, 9, 21, false},
    {"multicastAIN0", "multicastAin1", Kind::flag, 9, 17, false},
    {"multicastAIN1", "multicastAin2", Kind::flag, 9, 17, false},
    {"multicastAIN1", "multicastAin1", Kind::flag, 17, 21, false},
    {"multicastAIN2", "multicastAin2", Kind::flag, 17, 21, false},
    {"priAIN0", "priAin1", Kind::number, 9, 17, false},
    {"priAIN1", "priAin2", Kind::number, 9, 17, false},
    {"priAIN1", "priAin1", Kind::number, 17, 21, false},
    {"priAIN2", "priAin2", Kind::number, 17, 21, false},
    {"priStreamMCast", "priStreamMCast", Kind::number, 9, 21, false},
    {"priZoneInput", "priZoneInput", Kind::number, 17, 21, false},
    {"priVoiceAlert", "priVoiceAlert", Kind::number, 9, 21, false},
    {"priStream", "priStream", Kind::number, 9, 21, false},
    {"scAIN0", "scAin1", Kind::number, 14, 17, false},
    {"scAIN1", "scAin2", Kind::number, 14, 17, false},
    {"scAIN1", "scAin1", Kind::number, 17, 21, false},
    {"scAIN2", "scAin2", Kind::number, 17, 21, false},
    {"switchMode", "switchMode", Kind::flag, 17, 21, true},
    {"ain2Arm", "ain2Arm", Kind::flag, 17, 21, true},
    {"ainFilter", "ainFilter", Kind::flag, 18, 21, false},
    {"igmpReport", "igmpReport", Kind::number, 18, 21, false},
    {"ch0Port", "ch0Port", Kind::number, 1, 21, false},
    {"ch1Port", "ch1Port", Kind::number, 1, 21, false},
    {"audioSrvIP", "audioSrv", Kind::text, 1, 21, false},
};

const Key* findKey(const std::string& key, int index, bool inputsMask) {
    const Key* found = nullptr;
    for (const Key& k : kKeys)
        if (key == k.key && index >= k.minIndex && index <= k.maxIndex && (!k.inputsMask || inputsMask)) found = &k;
    return found;
}

bool valueFits(Kind kind, const std::string& value) {
    if (value.empty()) return kind == Kind::text;
    if (kind == Kind::flag) return value == "on" || value == "off";
    if (kind == Kind::number) {
        const std::size_t digits = value[0] == '-' ? 1 : 0;
        return value.size() > digits && value.find_first_not_of("0123456789", digits) == std::string::npos;
    }
    return true;
}

std::string join(const std::string& header, const std::vector<std::string>& fields) {
    std::string text = header + ":";
    for (const auto& field : fields) text += "\r\n" + field;
    return text + "\r\n";
}

std::optional<std::string> reply(const std::string& text) { return text; }

}  // namespace

OrvelConfigModel::OrvelConfigModel(std::string hardwareAddress, int index, bool orvel611)
    : OrvelBandModel(std::move(hardwareAddress), index, orvel611) {
    values = {
        {"ip", "127.0.7.20"},       {"mask", "255.0.0.0"},       {"gw", "127.0.0.1"},
        {"dhcp", "off"},            {"multicast", "224.0.224.1"}, {"srvPort", "11990"},
        {"srvAllowed", "127.0.0.1"}, {"ch0Port", "11991"},       {"ch1Port", "11992"},
        {"audioSrv", "127.0.0.1"},  {"zarnoAddr", "5"},          {"zarnoRelay", "off"},
        {"zarnoTest", "on"},        {"zarnoReserve", "off"},     {"lineTest", "on"},
        {"lineDouble", "off"},      {"multicastListen", "off"},  {"multicastAin1", "off"},
        {"multicastAin2", "off"},   {"priAin1", "3"},            {"priAin2", "4"},
        {"priVoiceAlert", "1"},     {"priStreamMCast", "5"},     {"priZoneInput", "2"},
        {"priStream", "6"},         {"scAin1", "-1"},            {"scAin2", "-1"},
        {"switchMode", "on"},       {"ain2Arm", "off"},          {"ainFilter", "off"},
        {"igmpReport", "60"},       {"stateWord", "0"},          {"stateText", "ready"},
        {"pair", "1/2"},            {"stateNumber", "0"},
    };
    const bool old510 = index >= 2 && index <= 8;
    on("config", [this, index](const std::string&) {
        if (index >= 9) return reply("ERR unknown command");
        return reply(configReplyOverride.empty() ? configReply() : configReplyOverride);
    });
    on("ifconfig", [this, index](const std::string&) {
        return reply(index >= 9 ? "ERR unknown command" : ifconfigReply());
    });
    on("get state", [this, index](const std::string&) {
        if (index < 9) return reply("ERR unknown command");
        return reply(stateReplyOverride.empty() ? stateReply() : stateReplyOverride);
    });
    on("get igmpReport", [this, index](const std::string&) {
        return reply(index >= 18 ? value("igmpReport") : "ERR unknown command");
    });
    on("get linedouble", [this, old510](const std::string&) {
        return reply(old510 ? (value("lineDouble") == "on" ? "On" : "Off") : "ERR unknown command");
    });
    on("get linetest", [this, old510](const std::string&) {
        return reply(old510 ? (value("lineTest") == "on" ? "On" : "Off") : "ERR unknown command");
    });
    const bool zarno = index == 4 || index == 5 || index == 7 || index == 8;
    on("get zarnotest", [this, zarno](const std::string&) {
        return reply(zarno ? (value("zarnoTest") == "on" ? "On" : "Off") : "ERR unknown command");
    });
    on("set", [this](const std::string& arguments) {
        const std::size_t blank = arguments.find(' ');
        const std::string key = arguments.substr(0, blank);
        const std::string text = blank == std::string::npos ? std::string() : arguments.substr(blank + 1);
        const Key* found = findKey(key, this->index(), hasInputsMask());
        if (found == nullptr) return reply("ERR unknown key");
        if (!valueFits(found->kind, text)) return reply("ERR wrong value");
        values[found->setting] = text;
        return reply("OK");
    });
    on("getLineParam", [index](const std::string&) {
        return reply(index < 9 ? "line:\r\nR1=8.1\r\nR2=7.9" : "ERR unknown command");
    });
    on("get dbg", [index](const std::string&) {
        return reply(index >= 9 ? "dbg:\r\nuptime=3600\r\nresets=0" : "ERR unknown command");
    });
}

std::string OrvelConfigModel::settingOfKey(const std::string& key) const {
    const Key* found = findKey(key, index(), hasInputsMask());
    return found ? found->setting : std::string();
}

std::string OrvelConfigModel::value(const std::string& name) const {
    const auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
}

bool OrvelConfigModel::hasInputsMask() const {
    const std::string& version = versionText();
    return version.rfind("Orvel-611 ", 0) == 0 || version.rfind("Orvel-45 ", 0) == 0 ||
           version.rfind("Orvel-Lan ", 0) == 0 || version.rfind("Orvel-610 2.", 0) == 0;
}

std::string OrvelConfigModel::configReply() const {
    const std::string server = value("audioSrv");
    return join("config", {value("ip"), value("mask"), value("gw"), "-", value("dhcp") == "on" ? "DHCP" : "static",
                           value("multicast"), server + ":" + value("ch0Port"), server + ":" + value("ch1Port"),
                           value("srvAllowed") + ":" + value("srvPort"), value("zarnoAddr"), "-", "-",
                           value("zarnoRelay")});
}

std::string OrvelConfigModel::ifconfigReply() const {
    return join("ifconfig", {value("ip"), value("mask"), value("gw"), "-", "-", "-",
                             value("audioSrv") + ":" + value("ch0Port"), "-",
                             value("srvAllowed") + ":" + value("srvPort"), "-", "-", "-", "-"});
}

std::string OrvelConfigModel::stateReply() const {
    std::vector<std::string> s = {
        value("stateWord"),      value("stateText"),     value("pair"),          value("stateNumber"),
        value("dhcp") == "on" ? "DHCP" : "static",       value("ip"),            value("mask"),
        value("gw"),             value("ip"),            value("mask"),          value("gw"),
        value("multicast"),      value("srvAllowed"),    value("srvPort"),       value("multicastListen"),
        value("multicastAin1"),  value("multicastAin2"), value("priAin1"),       value("priAin2"),
        value("priVoiceAlert"),  value("priStreamMCast"), value("priZoneInput"), value("priStream"),
        value("zarnoAddr"),      value("zarnoRelay"),    value("zarnoTest"),     value("zarnoReserve"),
        value("scAin1"),         value("scAin2"),        value("switchMode"),    value("ain2Arm"),
        value("ainFilter"),      value("igmpReport"),
    };
    const int index = this->index();
    if (index == 18) s.pop_back();  // the IGMP interval has its own request
    if (index < 18) {
        // Before the zone input, the Zarno reserve and the input values.
        s.erase(s.begin() + 29, s.end());
        s.erase(s.begin() + 26);
        s.erase(s.begin() + 21);
    }
    if (index < 15) s.erase(s.end() - 2, s.end());  // no scenario positions yet
    return join("state", s);
}

}  // namespace device::sim
