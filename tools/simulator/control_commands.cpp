#include "tools/simulator/control_commands.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "tools/simulator/simulator.h"

namespace device::sim {

namespace {

struct VerbName {
    const char* name;
    ControlCommand::Verb verb;
};

const VerbName kVerbs[] = {
    {"lose-next", ControlCommand::Verb::LoseNext}, {"delay-once", ControlCommand::Verb::DelayOnce},
    {"delay", ControlCommand::Verb::Delay},        {"silent", ControlCommand::Verb::Silent},
    {"busy", ControlCommand::Verb::Busy},          {"error-on", ControlCommand::Verb::ErrorOn},
    {"error-off", ControlCommand::Verb::ErrorOff}, {"restart", ControlCommand::Verb::Restart},
    {"move", ControlCommand::Verb::Move},
};

std::chrono::milliseconds seconds(const std::string& verb, const std::string& value) {
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(number) || number < 0 || number > 86400)
        throw std::invalid_argument(verb + " takes seconds (0..86400), not \"" + value + "\"");
    return std::chrono::milliseconds(std::llround(number * 1000));
}

unsigned whole(const std::string& what, const std::string& value, unsigned long least) {
    char* end = nullptr;
    const unsigned long number = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || value[0] == '-' || *end != '\0' || number < least || number > 1000000)
        throw std::invalid_argument(what + " takes a whole number from " + std::to_string(least) +
                                    ", not \"" + value + "\"");
    return static_cast<unsigned>(number);
}

}  // namespace

ControlCommand parseControlLine(const std::string& line) {
    std::istringstream fields(line);
    std::string target, verb;
    if (!(fields >> target >> verb)) throw std::invalid_argument("a line is DEVICE VERB [VALUE]");
    ControlCommand command;
    if (target != "*") command.device = whole("the device", target, 1);
    bool known = false;
    for (const VerbName& entry : kVerbs) {
        if (verb != entry.name) continue;
        command.verb = entry.verb;
        known = true;
    }
    if (!known) throw std::invalid_argument("unknown verb \"" + verb + "\"");
    std::string rest;
    std::getline(fields >> std::ws, rest);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();
    const bool takesValue = command.verb != ControlCommand::Verb::ErrorOff;
    if (takesValue && rest.empty()) throw std::invalid_argument(verb + " needs a value");
    if (!takesValue && !rest.empty()) throw std::invalid_argument(verb + " takes no value");
    switch (command.verb) {
        case ControlCommand::Verb::LoseNext:
            command.count = whole(verb, rest, 1);
            break;
        case ControlCommand::Verb::ErrorOn:
            command.text = rest;
            break;
        case ControlCommand::Verb::ErrorOff:
            break;
        case ControlCommand::Verb::Move:
            if (!command.device) throw std::invalid_argument("move takes one device, not \"*\"");
            command.text = rest;
            break;
        default:
            command.span = seconds(verb, rest);
            break;
    }
    return command;
}

void applyControl(const ControlCommand& command, Simulator& simulator) {
    const std::size_t count = simulator.size();
    if (command.device && *command.device > count)
        throw std::invalid_argument("device " + std::to_string(*command.device) + ": the run has " +
                                    std::to_string(count) + " devices");
    const std::size_t first = command.device ? *command.device - 1 : 0;
    const std::size_t last = command.device ? *command.device : count;
    for (std::size_t n = first; n < last; ++n) {
        SimulatedDevice& device = simulator.device(n);
        switch (command.verb) {
            case ControlCommand::Verb::LoseNext:
                device.loseNextRequests(command.count);
                break;
            case ControlCommand::Verb::DelayOnce:
                device.delayNextReply(command.span);
                break;
            case ControlCommand::Verb::Delay:
                device.setReplyDelay(command.span);
                break;
            case ControlCommand::Verb::Silent:
                device.silenceFor(command.span);
                break;
            case ControlCommand::Verb::Busy:
                device.busyFor(command.span);
                break;
            case ControlCommand::Verb::ErrorOn:
                device.refuseWithError(command.text);
                break;
            case ControlCommand::Verb::ErrorOff:
                device.refuseWithError(std::string());
                break;
            case ControlCommand::Verb::Restart:
                device.restart(command.span);
                break;
            case ControlCommand::Verb::Move:
                device.moveTo(command.text);
                break;
        }
    }
}

int openControlFifo(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno != ENOENT || ::mkfifo(path.c_str(), 0600) != 0)
            throw std::runtime_error(std::strerror(errno));
    } else if (!S_ISFIFO(status.st_mode)) {
        throw std::runtime_error(std::string("not a FIFO but ") +
                                 (S_ISREG(status.st_mode)   ? "a regular file"
                                  : S_ISDIR(status.st_mode) ? "a folder"
                                                            : "another kind of file") +
                                 "; give a FIFO or a path where none is yet");
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::strerror(errno));
    return fd;
}

std::vector<std::string> ControlLines::feed(const char* bytes, std::size_t size) {
    m_partial.append(bytes, size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = m_partial.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = m_partial.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(std::move(line));
    }
    m_partial.erase(0, start);
    // A writer that never ends its line gets no unbounded buffer.
    if (m_partial.size() > kLongestLine) m_partial.clear();
    return lines;
}

}  // namespace device::sim
