#pragma once

#include <map>
#include <optional>
#include <string>

namespace trial {

/// What one simulated device holds, as a line of the simulator's
/// --holdings file says it:
///
///   3 127.0.1.3 channel=1 volume=-15 memory="idle" deferred="set ch 1" down
struct Holding {
    std::string address;
    std::optional<unsigned> channel;  // a console has none
    std::string volume;               // exactly as "get vol" answers it
    std::string memory;
    std::string deferred;  // a switch taken and made later; empty: none
    bool down = false;     // restarting
};

/// The devices of a holdings file by their number in the run (1 for the
/// first). A line that does not read is left out.
std::map<unsigned, Holding> parseHoldings(const std::string& text);

/// "channel=0 volume=-9" of a holding, for the reports.
std::string describe(const Holding& holding);

}  // namespace trial
