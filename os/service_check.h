#pragma once

#include <chrono>
#include <string>

// Whether a system service runs, asked of systemd: "systemctl is-active
// --quiet <unit>", started without a shell. Used at start-up to refuse to run
// beside the second-generation server.
namespace os {

struct ServiceCheckOptions {
    /// How long systemctl may take; it is killed afterwards.
    std::chrono::milliseconds timeout{2000};
    /// The folder that exists only where systemd is the service manager
    /// (the test of sd_booted); without it systemctl cannot answer.
    std::string managerMarker = "/run/systemd/system";
};

enum class ServiceState {
    Active,    // systemctl's status 0
    Inactive,  // any other status
    Unknown,   // no systemctl, no service manager, or no answer in time
};

/// Blocks the caller for at most the time-out. Any thread.
ServiceState serviceState(const std::string& unit, const ServiceCheckOptions& options = {});

/// The second-generation server ("sonvar2.service") runs. Where that cannot
/// be known: DEBUG "Skip checking running of Sonvar2" and false.
bool isStartedSonvarV2(const ServiceCheckOptions& options = {});

}  // namespace os
