#include "tools/simulator/tovik_config_model.h"

#include <algorithm>

namespace device::sim {

namespace {

enum class Kind { text, flag, number };

struct Key {
    const char* key;
    Kind kind;
};

// The keys the console takes, in the order its "get state" lists them.
const Key kKeys[] = {
    {"ip", Kind::text},          {"mask", Kind::text},         {"gw", Kind::text},
    {"dhcp", Kind::flag},        {"multicastIp", Kind::text},  {"srvPort", Kind::number},
    {"srvAllowedIP", Kind::text}, {"gongOrder", Kind::number}, {"gong", Kind::flag},
    {"beeper", Kind::flag},      {"faultAlarm", Kind::flag},   {"ledScBlink", Kind::flag},
    {"passkey", Kind::flag},     {"switchMode", Kind::flag},   {"singlePower", Kind::flag},
    {"zarnoAddr", Kind::number}, {"zarnoTest", Kind::flag},    {"zarnoReserve", Kind::flag},
    {"gochsArm", Kind::flag},    {"priority", Kind::number},   {"priorityGOChS", Kind::flag},
    {"powerIn1", Kind::number},  {"powerIn2", Kind::number},   {"igmpReport", Kind::number},
};

bool valueFits(Kind kind, const std::string& value) {
    if (value.empty()) return false;
    if (kind == Kind::flag) return value == "on" || value == "off";
    if (kind == Kind::number) {
        const std::size_t sign = value[0] == '-' ? 1 : 0;
        return value.size() > sign && value.find_first_not_of("0123456789", sign) == std::string::npos;
    }
    return true;
}

std::optional<std::string> reply(const std::string& text) { return text; }

}  // namespace

TovikConfigModel::TovikConfigModel(std::string hardwareAddress, std::string versionText)
    : TovikModel(std::move(hardwareAddress), std::move(versionText)) {
    values = {
        {"consoleWord", "0"},        {"dhcp", "off"},          {"ip", "127.0.8.30"},
        {"mask", "255.0.0.0"},       {"gw", "127.0.0.1"},      {"addr1", "127.0.8.30"},
        {"addr2", "255.0.0.0"},      {"addr3", "127.0.0.1"},   {"multicastIp", "224.0.224.1"},
        {"srvAllowedIP", "127.0.0.1"}, {"srvPort", "11990"},   {"gong", "off"},
        {"gongOrder", "0"},          {"beeper", "on"},         {"faultAlarm", "on"},
        {"ledScBlink", "off"},       {"passkey", "off"},       {"switchMode", "on"},
        {"singlePower", "off"},      {"zarnoAddr", "7"},       {"free", "0"},
        {"zarnoTest", "on"},         {"zarnoReserve", "off"},  {"gochsArm", "off"},
        {"priority", "5"},           {"priorityGOChS", "off"}, {"powerIn1", "1"},
        {"powerIn2", "2"},           {"igmpReport", "60"},
    };
    on("get state", [this](const std::string&) {
        return reply(stateReplyOverride.empty() ? stateReply() : stateReplyOverride);
    });
    on("set", [this](const std::string& arguments) {
        const std::size_t blank = arguments.find(' ');
        const std::string key = arguments.substr(0, blank);
        const std::string text = blank == std::string::npos ? std::string() : arguments.substr(blank + 1);
        const auto found = std::find_if(std::begin(kKeys), std::end(kKeys),
                                        [&key](const Key& k) { return key == k.key; });
        if (found == std::end(kKeys)) return reply("ERR unknown key");
        if (!valueFits(found->kind, text)) return reply("ERR wrong value");
        values[key] = text;
        return reply("OK");
    });
    on("get dbg", [](const std::string&) { return reply("dbg:\r\nuptime=7200\r\nmic=ok"); });
    on("passkeyList", [this](const std::string&) {
        return reply(passkeyReplyOverride.empty() ? passkeyList() : passkeyReplyOverride);
    });
    on("passkeyAdd", [this](const std::string&) {
        listening = true;
        return reply("OK");
    });
    on("passkeyFinish", [this](const std::string&) {
        listening = false;
        return reply("OK");
    });
    on("passkeyDel", [this](const std::string& key) {
        const auto found = std::find(passkeys.begin(), passkeys.end(), key);
        if (found == passkeys.end()) return reply("ERR unknown key");
        passkeys.erase(found);
        return reply("OK");
    });
    on("passkeyReset", [this](const std::string&) {
        passkeys.clear();
        return reply("OK");
    });
    on("present key", [this](const std::string& key) {
        presentKey(key);
        return reply("OK");
    });
}

std::string TovikConfigModel::value(const std::string& name) const {
    const auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
}

std::string TovikConfigModel::stateReply() const {
    const char* const fields[] = {
        "consoleWord", "dhcp",       "ip",         "mask",          "gw",          "addr1",
        "addr2",       "addr3",      "multicastIp", "srvAllowedIP", "srvPort",     "gong",
        "gongOrder",   "beeper",     "faultAlarm", "ledScBlink",    "passkey",     "switchMode",
        "singlePower", "zarnoAddr",  "free",       "zarnoTest",     "zarnoReserve", "gochsArm",
        "priority",    "priorityGOChS", "powerIn1", "powerIn2",     "igmpReport",
    };
    std::string text = "state:";
    for (const char* name : fields) {
        const std::string field = value(name);
        text += "\r\n" + (std::string(name) == "dhcp" ? (field == "on" ? "DHCP" : "static") : field);
    }
    return text + "\r\n";
}

std::string TovikConfigModel::passkeyList() const {
    if (!listening && passkeys.empty()) return "no";
    std::string text = listening ? "listening," : "";
    for (std::size_t n = 0; n < passkeys.size(); ++n) text += (n ? "," : "") + passkeys[n];
    return listening ? text + "," : text;
}

void TovikConfigModel::presentKey(const std::string& key) {
    if (!listening) return;
    listening = false;
    if (std::find(passkeys.begin(), passkeys.end(), key) == passkeys.end()) passkeys.push_back(key);
}

}  // namespace device::sim
