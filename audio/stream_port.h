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
#include "device/reply_times.h"

namespace frm {

/// Where a notice's stream goes: its loudspeakers hear channel N on the Nth
/// port after their channel-0 port, which the notice needs to know before
/// its stream starts. A port one of them reported already (its settings were
/// read) is taken at once. Otherwise the loudspeakers that answer soonest
/// (the shortest reply times the transport has for them; all of them while
/// nothing tells them apart, as at the first notice after the start) are
/// asked before anything else of the notice reaches them, each once with a
/// resend time as long as the transport ever gives a device: a late one's
/// single answer comes within its lateness and leaves nothing to drain, so
/// its switch follows at once, and the port is known by the deadline
/// whenever one of them answers in time. A late or silent loudspeaker holds
/// neither the take nor the stream: the notice takes the first port that
/// has come by its deadline, else a port one of them reported meanwhile,
/// else the base-port rule (the server's streams go to the ports counted
/// from the loudspeakers' command port, device/models/stream_ports.h).
///
/// Threads: begin and portBy from the alarm channel's threads, cancel from
/// any. A read given to the constructor runs on a thread the reader owns
/// and ends with its request (answered or given up); the destructor waits
/// for those under way. The loudspeakers' own reads run on the transport.
class StreamPortReader {
public:
    /// Reads a loudspeaker's channel-0 port; may wait for its reply and
    /// throw when it gives none or one without the port.
    using Read = std::function<std::uint16_t(device::OrvelInfo&)>;
    using Clock = std::chrono::steady_clock;

    /// One notice's search for the port, shared with its reads.
    class Search;

    /// The base resend time of the loudspeakers' own reads: the longest
    /// resend time the transport gives a device.
    static constexpr unsigned kReadResendMs = 3 * static_cast<unsigned>(device::kBaseResendTime.count());

    /// `read` empty: the loudspeakers are asked themselves, before their
    /// switch; else `read` asks the one that answers soonest.
    explicit StreamPortReader(Read read);
    ~StreamPortReader();
    StreamPortReader(const StreamPortReader&) = delete;
    StreamPortReader& operator=(const StreamPortReader&) = delete;

    /// Starts the search for the loudspeakers of a notice: none when one of
    /// them has a port known, else reads from those that answer soonest
    /// (none when no loudspeaker answers). Called before anything else of
    /// the notice is sent to them: the loudspeakers' own reads go out first.
    std::shared_ptr<Search> begin(const DeviceSet& speakers);

    /// The channel-0 port for the notice by `until`: the first read's answer
    /// when one came in time, else one a loudspeaker of the set reported,
    /// else the one after `basePort` (`byRule` then set). Waits for the reads
    /// until then at most, or until the search is cancelled.
    static std::uint16_t portBy(const std::shared_ptr<Search>& search, const DeviceSet& speakers,
                                Clock::time_point until, std::uint16_t basePort, bool* byRule = nullptr);
    /// The first port a read tells, a late reply's too, waited for until
    /// `until`; empty then, or at once when the search is cancelled.
    static std::optional<std::uint16_t> laterPort(const std::shared_ptr<Search>& search, Clock::time_point until);
    /// How long after a read's first send its answer may still come: its
    /// give-up (three sends) and a late reply's time after it.
    static constexpr std::chrono::milliseconds kReadsEnd{9 * kReadResendMs / 2};
    /// Ends a wait for the search's port at once (the notice was stopped).
    static void cancel(const std::shared_ptr<Search>& search);

    /// The loudspeaker of the set a read goes to: online and answering, the
    /// shortest resend time first; empty when none answers.
    static boost::shared_ptr<device::OrvelInfo> quickest(const DeviceSet& speakers);
    /// Every loudspeaker of the set with the resend time of quickest(): those
    /// that nothing tells apart from it.
    static std::vector<boost::shared_ptr<device::OrvelInfo>> quickestAll(const DeviceSet& speakers);

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
