#pragma once

#include <chrono>
#include <string>

// Whether a system service runs, asked of systemd: "systemctl is-active
// --quiet <unit>", started without a shell. Used at start-up to refuse to run
// beside the second-generation server.
namespace os {

enum class ServiceState {
    Active,    // status 0
    Inactive,  // another status, systemctl silent (what --quiet gives for a unit that does not run)
    Unknown,   // no systemctl; it complained (no service manager, no bus); no answer in time
};

/// Blocks the caller for at most `timeout`; systemctl is killed afterwards.
/// Any thread.
ServiceState serviceState(const std::string& unit,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

/// The second-generation server ("sonvar2.service") runs. Where that cannot
/// be known: DEBUG "Skip checking running of Sonvar2" and false.
bool isStartedSonvarV2(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

}  // namespace os
