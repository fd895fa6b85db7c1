#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "audio/playback.h"

namespace frm {

/// Where a notice's stream goes: its loudspeakers hear channel N on the Nth
/// port after their channel-0 port, which the notice needs to know before
/// its stream starts. A port one of them reported already (its settings were
/// read) is taken at once. Otherwise the one that answers soonest (the
/// shortest reply times the transport has for it) is asked while the notice
/// takes its loudspeakers, on a thread of its own, so that a late or silent
/// loudspeaker holds neither the take nor the stream: the notice takes what
/// has come by its deadline, else a port one of them reported meanwhile,
/// else the base-port rule (the server's streams go to the ports counted
/// from the loudspeakers' command port, device/models/stream_ports.h).
///
/// Threads: begin and portBy from the alarm channel's threads. Each read
/// runs on a thread the reader owns and ends with its request (answered or
/// given up); the destructor waits for those under way.
class StreamPortReader {
public:
    /// Reads a loudspeaker's channel-0 port; may wait for its reply and
    /// throw when it gives none or one without the port.
    using Read = std::function<std::uint16_t(device::OrvelInfo&)>;
    using Clock = std::chrono::steady_clock;

    /// One notice's search for the port, shared with the read's thread.
    class Search;

    explicit StreamPortReader(Read read);
    ~StreamPortReader();
    StreamPortReader(const StreamPortReader&) = delete;
    StreamPortReader& operator=(const StreamPortReader&) = delete;

    /// Starts the search for the loudspeakers of a notice: none when one of
    /// them has a port known, else a read from the one that answers soonest
    /// (none when no loudspeaker answers).
    std::shared_ptr<Search> begin(const DeviceSet& speakers);

    /// The channel-0 port for the notice by `until`: the read's answer when
    /// it came in time, else one a loudspeaker of the set reported, else
    /// the one after `basePort`. Waits for the read until then at most.
    static std::uint16_t portBy(const std::shared_ptr<Search>& search, const DeviceSet& speakers,
                                Clock::time_point until, std::uint16_t basePort);

    /// The loudspeaker of the set a read goes to: online and answering, the
    /// shortest resend time first; empty when none answers.
    static boost::shared_ptr<device::OrvelInfo> quickest(const DeviceSet& speakers);

private:
    struct Running {
        std::thread thread;
        std::shared_ptr<Search> search;
    };
    /// Joins the reads that have ended.
    void reap();

    const Read m_read;
    std::mutex m_mutex;  // guards m_running
    std::vector<Running> m_running;
};

/// A port one of the loudspeakers reported with its settings; asks nothing.
std::optional<std::uint16_t> knownDiscoveryPort(const DeviceSet& speakers);

}  // namespace frm
