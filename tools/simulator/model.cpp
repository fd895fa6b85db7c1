#include "tools/simulator/model.h"

#include <cstdlib>
#include <stdexcept>

namespace device::sim {

namespace {

template <std::size_t N>
std::string joinPacket(const std::string& hardwareAddress, const std::array<unsigned, N>& fields,
                       const std::string& versionText) {
    std::string packet = hardwareAddress;
    for (unsigned field : fields) packet += "," + std::to_string(field);
    return packet + "," + versionText;
}

}  // namespace

bool Holdings::operator==(const Holdings& other) const {
    return channel == other.channel && volume == other.volume && memory == other.memory &&
           deferred == other.deferred && down == other.down;
}

std::string describe(const Holdings& holdings) {
    std::string text;
    if (holdings.channel) text += " channel=" + std::to_string(*holdings.channel);
    if (holdings.volume) text += " volume=" + *holdings.volume;
    if (holdings.memory) text += " memory=\"" + *holdings.memory + "\"";
    if (holdings.deferred) text += " deferred=\"" + *holdings.deferred + "\"";
    if (holdings.down) text += " down";
    return text.empty() ? "-" : text.substr(1);
}

const char* const kDefaultOrvelVersion = "Orvel-610 1.0.112.0 Mar 03 2021";
const char* const kDefaultOrvel510Version = "Orvel-510 1.0.72.0 Nov 11 2016";
const char* const kDefaultTovikVersion = "Tovik-30 1.0.7.0 Feb 14 2022";

CommandModel::CommandModel(std::string hardwareAddress, std::string versionText)
    : m_hardwareAddress(std::move(hardwareAddress)), m_versionText(std::move(versionText)) {
    on("get ver", [this](const std::string&) { return std::optional<std::string>(m_versionText); });
    on("reboot", [](const std::string&) { return std::optional<std::string>("OK"); });
}

void CommandModel::on(const std::string& command, Handler handler) {
    m_commands[command] = std::move(handler);
}

void CommandModel::refuse(const std::string& prefix, const std::string& reply) {
    if (reply.empty())
        m_refusals.erase(prefix);
    else
        m_refusals[prefix] = reply;
}

void CommandModel::addPart(const std::string& name, Part part) {
    m_parts[name] = std::move(part);
}

Holdings CommandModel::holdings() const {
    Holdings holdings;
    for (const auto& part : m_parts)
        if (part.second.fill) part.second.fill(holdings);
    return holdings;
}

void CommandModel::restart() {
    for (const auto& part : m_parts)
        if (part.second.restart) part.second.restart();
}

std::optional<std::string> CommandModel::answer(const std::string& request) {
    for (const auto& refusal : m_refusals)
        if (request.compare(0, refusal.first.size(), refusal.first) == 0) return refusal.second;
    // The longest command that the request starts with, followed by its end or a blank.
    for (auto it = m_commands.rbegin(); it != m_commands.rend(); ++it) {
        const std::string& command = it->first;
        if (request.compare(0, command.size(), command) != 0) continue;
        if (request.size() == command.size()) return it->second(std::string());
        if (request[command.size()] == ' ') return it->second(request.substr(command.size() + 1));
    }
    return std::string("ERR unknown command");
}

namespace {

bool isOrvel510(const std::string& versionText) { return versionText.rfind("Orvel-510 ", 0) == 0; }

/// One level of an Orvel-510's volume: two upper-case hex digits, 00..3C or FE.
bool isHexLevel(const std::string& text) {
    for (char c : text)
        if (!(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'F')) return false;
    if (text.size() != 2) return false;
    const unsigned long level = std::strtoul(text.c_str(), nullptr, 16);
    return level <= 0x3C || level == 0xFE;
}

}  // namespace

std::string volumeFormError(const std::string& versionText, const std::string& text) {
    const std::string model = versionText.substr(0, versionText.find(' '));
    const std::string quoted = "\"" + text + "\"";
    if (isOrvel510(versionText)) {
        if (text.size() == 5 && text[2] == ':' && isHexLevel(text.substr(0, 2)) && isHexLevel(text.substr(3)))
            return std::string();
        return quoted + " is no volume of an " + model +
               ": it reports two hex levels from 00 (loudest) to 3C, or FE muted, as \"1E:1E\" or \"FE:FE\"";
    }
    for (int decibels = -96; decibels <= 0; ++decibels)
        if (text == std::to_string(decibels)) return std::string();
    return quoted + " is no volume of an " + model +
           ": it reports whole decibels from -96 (muted) to 0, as \"-15\"";
}

OrvelModel::OrvelModel(std::string hardwareAddress, std::string versionText)
    : CommandModel(std::move(hardwareAddress), std::move(versionText)) {
    volume = isOrvel510(this->versionText()) ? "1E:1E" : "-15";
    powerOnVolume = volume;
    on("get vol", [this](const std::string&) { return std::optional<std::string>(volume); });
    on("set vol", [this](const std::string& level) {
        if (level.empty()) return std::optional<std::string>("ERR wrong arguments");
        volume = level;
        return std::optional<std::string>("OK");
    });
}

void OrvelModel::setPowerOnVolume(const std::string& text) {
    const std::string error = volumeFormError(versionText(), text);
    if (!error.empty()) throw std::invalid_argument(error);
    volume = text;
    powerOnVolume = text;
}

std::string OrvelModel::statePacket() const {
    return joinPacket(hardwareAddress(), fields, versionText());
}

Holdings OrvelModel::holdings() const {
    Holdings holdings = CommandModel::holdings();
    holdings.volume = volume;
    return holdings;
}

void OrvelModel::restart() {
    CommandModel::restart();
    volume = powerOnVolume;
}

TovikModel::TovikModel(std::string hardwareAddress, std::string versionText)
    : CommandModel(std::move(hardwareAddress), std::move(versionText)) {
    on("get vol", [this](const std::string&) { return std::optional<std::string>(std::to_string(volume)); });
}

std::string TovikModel::statePacket() const {
    return joinPacket(hardwareAddress(), fields, versionText());
}

Holdings TovikModel::holdings() const {
    Holdings holdings = CommandModel::holdings();
    holdings.volume = std::to_string(volume);
    return holdings;
}

}  // namespace device::sim
