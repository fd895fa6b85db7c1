#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace device::sim {

class Simulator;

/// One line of a running simulator's control channel (device_simulator
/// --control FIFO): which device, and which fault it meets from now on.
///
///   3 lose-next 1        the next request to device 3 is lost on the way in
///   * lose-next 1        ... to every device of the run
///   3 delay-once 2.4     its next reply leaves 2.4 s after the request
///   3 delay 0.8          every reply from now on 0.8 s late (0: on time)
///   3 silent 5           neither replies nor state packets for 5 s (0 ends it)
///   3 busy 5             every request answered with the busy reply for 5 s
///   3 error-on set ch    requests starting with "set ch" get "ERR ..."
///   3 error-off          no more such refusals
///   3 restart 3          it restarts now, down for 3 s
///   3 move 127.0.1.90    it takes that loopback address now (silent 1 s)
///
/// Devices are numbered as --fault-device numbers them, 1 for the first.
struct ControlCommand {
    enum class Verb { LoseNext, DelayOnce, Delay, Silent, Busy, ErrorOn, ErrorOff, Restart, Move };

    std::optional<unsigned> device;  // nothing: every device ("*")
    Verb verb = Verb::LoseNext;
    unsigned count = 0;                 // lose-next
    std::chrono::milliseconds span{0};  // delay-once, delay, silent, busy, restart
    std::string text;                   // error-on's prefix, move's address
};

/// Reads one line (its line end removed). Throws std::invalid_argument
/// saying what is wrong with it.
ControlCommand parseControlLine(const std::string& line);

/// Carries the command out on the simulator's devices at once. Throws
/// std::invalid_argument for a device the run does not have, and what
/// SimulatedDevice::moveTo throws for an address it cannot take.
void applyControl(const ControlCommand& command, Simulator& simulator);

/// Opens the control channel's FIFO at `path`, made when missing, for
/// reading without blocking and without ever seeing its end (the
/// descriptor is a writer's end too); the descriptor. Throws
/// std::runtime_error saying why for a path that holds something other
/// than a FIFO (a regular file reads as ever ready and empty: the run
/// would spin on it), or one that cannot be made or opened.
int openControlFifo(const std::string& path);

/// Cuts the bytes that arrive on the control channel into lines, keeping
/// a line's beginning until its end comes. Blank lines are dropped, and so
/// is the beginning of a line longer than kLongestLine.
class ControlLines {
public:
    static constexpr std::size_t kLongestLine = 4096;

    std::vector<std::string> feed(const char* bytes, std::size_t size);

private:
    std::string m_partial;
};

}  // namespace device::sim
