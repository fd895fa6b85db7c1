#include "tools/simulator/fault_switches.h"

#include <boost/asio/ip/address_v4.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace device::sim {

const char* const kNoLineControlReply = "ERR line control module is absent";
const char* const kBusyReply = "Processing of the previous command isn't complete!";
const char* const kDeferredSwitchReply = "Changing of channel is deferred";

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

/// Seconds, with a fraction, as whole milliseconds; up to a day.
std::chrono::milliseconds seconds(const std::string& option, const char* value) {
    char* end = nullptr;
    const double number = std::strtod(value, &end);
    if (end == value || *end != '\0' || !std::isfinite(number) || number < 0 || number > 86400)
        throw std::invalid_argument(option + " takes seconds (0..86400), not \"" + value + "\"");
    return std::chrono::milliseconds(static_cast<long long>(std::llround(number * 1000)));
}

/// A share of requests or replies, 0..1.
double share(const std::string& option, const char* value) {
    char* end = nullptr;
    const double number = std::strtod(value, &end);
    if (end == value || *end != '\0' || !std::isfinite(number) || number < 0 || number > 1)
        throw std::invalid_argument(option + " takes a share from 0 to 1, not \"" + value + "\"");
    return number;
}

std::string prefix(const std::string& option, const char* value) {
    if (*value == '\0') throw std::invalid_argument(option + " takes a request prefix");
    return value;
}

/// A loopback address in dotted form, as the device will bind it.
std::string loopback(const std::string& option, const char* value) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(value, error);
    if (error || !address.is_loopback())
        throw std::invalid_argument(option + " takes a loopback address (127.x.y.z), not \"" + value + "\"");
    return address.to_string();
}

/// A loudspeaker's firmware index, 1..21.
int firmwareIndex(const std::string& option, const char* value) {
    char* end = nullptr;
    const long index = std::strtol(value, &end, 10);
    if (end == value || *end != '\0' || index < 1 || index > 21)
        throw std::invalid_argument(option + " takes a firmware index from 1 to 21, not \"" + value + "\"");
    return static_cast<int>(index);
}

std::string secondsText(std::chrono::milliseconds span) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(span.count()) / 1000);
    return text;
}

std::string percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%g%%", share * 100);
    return text;
}

std::string describeWindow(const char* what, const FaultWindow& window) {
    if (window.length.count() == 0) return std::string();
    std::string text = std::string(", ") + what + " for " + secondsText(window.length);
    if (!window.onPrefix.empty())
        text += " on each \"" + window.onPrefix + "...\"";
    else
        text += " from " + secondsText(window.after.value_or(std::chrono::milliseconds(0)));
    return text;
}

}  // namespace

bool faultOptionTakesValue(const std::string& name) {
    return name != "--no-line-control" && name != "--orvel611";
}

bool takeFaultOption(const std::string& name, const char* value, std::vector<DeviceFaults>& faults) {
    if (name == "--fault-device") {
        char* end = nullptr;
        const unsigned long number = std::strtoul(value, &end, 10);
        if (end == value || *end != '\0' || number == 0 || number > 1000000)
            throw std::invalid_argument("--fault-device takes a device number from 1, not \"" +
                                        std::string(value) + "\"");
        faults.emplace_back();
        faults.back().device = static_cast<unsigned>(number);
        faults.back().settings.seed = static_cast<unsigned>(number);
        return true;
    }
    static const char* const kNames[] = {
        "--no-line-control", "--error-on",     "--busy",        "--busy-after",   "--busy-on",
        "--silent-for",      "--silent-after", "--silent-on",   "--reply-delay",  "--reply-jitter",
        "--reboot-after",    "--reboot-on",    "--reboot-down", "--defer-switch", "--lose-requests",
        "--lose-replies",    "--lose-on",      "--move-after",  "--move-to",      "--volume",
        "--device-band",     "--orvel611"};
    bool known = false;
    for (const char* known_name : kNames) known = known || name == known_name;
    if (!known || (name == "--volume" && faults.empty())) return false;
    if (faults.empty()) throw std::invalid_argument(name + " needs a --fault-device before it");
    FaultSettings& s = faults.back().settings;
    if (name == "--no-line-control")
        s.noLineControl = true;
    else if (name == "--error-on")
        s.errorOn.push_back(prefix(name, value));
    else if (name == "--busy")
        s.busy.length = seconds(name, value);
    else if (name == "--busy-after")
        s.busy.after = seconds(name, value);
    else if (name == "--busy-on")
        s.busy.onPrefix = prefix(name, value);
    else if (name == "--silent-for")
        s.silent.length = seconds(name, value);
    else if (name == "--silent-after")
        s.silent.after = seconds(name, value);
    else if (name == "--silent-on")
        s.silent.onPrefix = prefix(name, value);
    else if (name == "--reply-delay")
        s.replyDelay = seconds(name, value);
    else if (name == "--reply-jitter")
        s.replyJitter = seconds(name, value);
    else if (name == "--reboot-after")
        s.reboot.after = seconds(name, value);
    else if (name == "--reboot-on")
        s.reboot.onPrefix = prefix(name, value);
    else if (name == "--reboot-down")
        s.reboot.down = seconds(name, value);
    else if (name == "--defer-switch")
        s.deferSwitch = seconds(name, value);
    else if (name == "--lose-requests")
        s.loseRequests = share(name, value);
    else if (name == "--lose-replies")
        s.loseReplies = share(name, value);
    else if (name == "--lose-on")
        s.loseOn.push_back(prefix(name, value));
    else if (name == "--move-after")
        s.move.after = seconds(name, value);
    else if (name == "--move-to")
        s.move.to = loopback(name, value);
    else if (name == "--volume" && *value == '\0')
        throw std::invalid_argument("--volume takes a volume as \"get vol\" answers it (\"-15\", \"1E:1E\")");
    else if (name == "--volume")
        faults.back().volume = value;
    else if (name == "--device-band")
        faults.back().band = firmwareIndex(name, value);
    else
        faults.back().orvel611 = true;
    return true;
}

void checkFaultGroups(const std::vector<DeviceFaults>& faults) {
    for (const DeviceFaults& group : faults) {
        const MoveFault& move = group.settings.move;
        if (move.after.has_value() == !move.to.empty()) continue;
        throw std::invalid_argument(
            "--fault-device " + std::to_string(group.device) + ": " +
            (move.after ? "--move-after needs --move-to ADDRESS" : "--move-to needs --move-after SECONDS"));
    }
}

FaultSwitches::FaultSwitches(FaultSettings settings, std::function<Clock::time_point()> now)
    : m_settings(std::move(settings)), m_now(std::move(now)), m_start(m_now()), m_random(m_settings.seed) {
    m_busy.window = m_settings.busy;
    m_silent.window = m_settings.silent;
}

bool FaultSwitches::Span::open(Clock::time_point now, Clock::time_point start, const std::string* request) {
    if (window.length.count() == 0) return false;
    if (openedAt && now < *openedAt + window.length) return true;
    if (!window.onPrefix.empty()) {
        // Closed: a request of the prefix opens it again.
        if (request == nullptr || !startsWith(*request, window.onPrefix)) return false;
        openedAt = now;
        return true;
    }
    const Clock::time_point from = start + window.after.value_or(std::chrono::milliseconds(0));
    return now >= from && now < from + window.length;
}

bool FaultSwitches::lost(double share, const std::string& request) {
    if (share <= 0) return false;
    bool chosen = m_settings.loseOn.empty();
    for (const std::string& prefix : m_settings.loseOn) chosen = chosen || startsWith(request, prefix);
    return chosen && std::bernoulli_distribution(share)(m_random);
}

std::optional<std::optional<std::string>> FaultSwitches::intercept(const std::string& request) {
    const Clock::time_point now = m_now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_silent.open(now, m_start, &request)) return std::optional<std::string>();
        if (lost(m_settings.loseRequests, request)) return std::optional<std::string>();
        if (m_busy.open(now, m_start, &request)) return std::optional<std::string>(kBusyReply);
    }
    if (m_settings.noLineControl && startsWith(request, "lsensor"))
        return std::optional<std::string>(kNoLineControlReply);
    for (const std::string& prefix : m_settings.errorOn)
        if (startsWith(request, prefix)) return std::optional<std::string>("ERR simulated fault: " + request);
    return std::nullopt;
}

bool FaultSwitches::sendsStatePackets() {
    const Clock::time_point now = m_now();
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_silent.open(now, m_start, nullptr);
}

bool FaultSwitches::losesReply(const std::string& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return lost(m_settings.loseReplies, request);
}

std::optional<std::chrono::milliseconds> FaultSwitches::defers(const std::string& request) const {
    // Only a well-formed switch is taken: a device refuses any other at once.
    if (m_settings.deferSwitch.count() == 0 || !startsWith(request, "set ch ") || request.size() == 7 ||
        request.size() > 16 || request.find_first_not_of("0123456789", 7) != std::string::npos)
        return std::nullopt;
    return m_settings.deferSwitch;
}

std::optional<std::chrono::milliseconds> FaultSwitches::rebootsAfter(const std::string& request) const {
    const RebootFault& reboot = m_settings.reboot;
    if (reboot.onPrefix.empty() || !startsWith(request, reboot.onPrefix)) return std::nullopt;
    return reboot.down;
}

std::optional<FaultSwitches::Clock::time_point> FaultSwitches::rebootAt() const {
    if (!m_settings.reboot.after) return std::nullopt;
    return m_start + *m_settings.reboot.after;
}

std::optional<FaultSwitches::Clock::time_point> FaultSwitches::moveAt() const {
    if (!m_settings.move.after || m_settings.move.to.empty()) return std::nullopt;
    return m_start + *m_settings.move.after;
}

std::string FaultSwitches::describe() const {
    std::string text;
    if (m_settings.noLineControl) text += ", no line-control module";
    for (const std::string& prefix : m_settings.errorOn) text += ", ERR to \"" + prefix + "...\"";
    text += describeWindow("busy", m_settings.busy);
    text += describeWindow("silent", m_settings.silent);
    if (m_settings.replyJitter.count() > 0) {
        const auto inSeconds = [](std::chrono::milliseconds length) {
            return static_cast<double>(length.count()) / 1000;
        };
        char span[64];
        std::snprintf(span, sizeof span, "%g to %g s", inSeconds(m_settings.replyDelay),
                      inSeconds(m_settings.replyDelay + m_settings.replyJitter));
        text += std::string(", replies ") + span + " late";
    } else if (m_settings.replyDelay.count() > 0) {
        text += ", replies " + secondsText(m_settings.replyDelay) + " late";
    }
    const RebootFault& reboot = m_settings.reboot;
    if (reboot.after)
        text += ", restarts at " + secondsText(*reboot.after) + " (down " + secondsText(reboot.down) + ")";
    if (!reboot.onPrefix.empty())
        text += ", restarts after each \"" + reboot.onPrefix + "...\" (down " + secondsText(reboot.down) +
                ")";
    if (m_settings.move.after && !m_settings.move.to.empty())
        text += ", moves to " + m_settings.move.to + " at " + secondsText(*m_settings.move.after);
    if (m_settings.deferSwitch.count() > 0)
        text += ", channel switches deferred by " + secondsText(m_settings.deferSwitch);
    if (m_settings.loseRequests > 0 || m_settings.loseReplies > 0) {
        text += ", loses";
        if (m_settings.loseRequests > 0) text += " " + percent(m_settings.loseRequests) + " of requests";
        if (m_settings.loseRequests > 0 && m_settings.loseReplies > 0) text += " and";
        if (m_settings.loseReplies > 0) text += " " + percent(m_settings.loseReplies) + " of replies";
        for (std::size_t i = 0; i < m_settings.loseOn.size(); ++i)
            text += (i == 0 ? " to \"" : " or \"") + m_settings.loseOn[i] + "...\"";
    }
    return text.empty() ? "no faults" : text.substr(2);
}

}  // namespace device::sim
