#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// The probes of silent devices that did not go out, told to the operator by
// cause rather than by device: a search over thousands of devices behind an
// unplugged cable fails thousands of times for one reason. No sockets, no
// log: the search counts, these classes decide what is told.
namespace device {

/// An address no device can have, so a probe sent there could never be
/// answered (and some of them would leave as multicast or broadcast).
enum class AddressFault {
    None,
    ThisNetwork,  // 0.0.0.0/8
    Multicast,    // 224.0.0.0/4
    Reserved,     // 240.0.0.0/4, the limited broadcast among them
};

/// The fault of an address, its first part in the most significant byte.
/// Loopback is a usable address (simulated devices live there).
AddressFault addressFault(std::uint32_t address);

/// Why one probe did not go out: the address's fault, or with none the
/// system's text of the send's error.
struct ProbeCause {
    AddressFault fault = AddressFault::None;
    std::string error;

    friend bool operator<(const ProbeCause& a, const ProbeCause& b) {
        return a.fault != b.fault ? a.fault < b.fault : a.error < b.error;
    }
    friend bool operator==(const ProbeCause& a, const ProbeCause& b) {
        return a.fault == b.fault && a.error == b.error;
    }
};

/// The failed probes of one search, per cause: how many, and the first few
/// devices as the operator knows them. One search thread owns it.
class ProbeFailures {
public:
    static constexpr std::size_t kExamples = 3;

    struct Summary {
        ProbeCause cause;
        std::size_t count = 0;
        std::vector<std::wstring> examples;  // at most kExamples, in the order they came
    };

    void add(const ProbeCause& cause, const std::wstring& device);
    /// One summary per cause, in the order the causes first came.
    const std::vector<Summary>& summaries() const { return m_summaries; }
    bool empty() const { return m_summaries.empty(); }

private:
    std::vector<Summary> m_summaries;
    std::map<ProbeCause, std::size_t> m_index;
};

/// Which causes of a finished search the operator is told of: a cause the
/// search before did not have (a new one, or one back after a search
/// without it), and a lasting one again once `quietSpell` has passed since
/// it was last told. Searches run on threads of their own, one after the
/// other or at once: one lock serialises them.
class ProbeNoticeGate {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ProbeNoticeGate(std::chrono::milliseconds quietSpell, Clock clock = &std::chrono::steady_clock::now);

    /// The summaries of `search` to tell, in its order. Call it for every
    /// finished search, one without failures too: that is how a cause goes.
    std::vector<ProbeFailures::Summary> select(const ProbeFailures& search);

private:
    const std::chrono::milliseconds m_quietSpell;
    const Clock m_clock;
    std::mutex m_mutex;
    std::map<ProbeCause, std::chrono::steady_clock::time_point> m_told;  // when each cause was last told
    std::vector<ProbeCause> m_previous;                                 // the causes of the last search
};

/// Examples of a tally joined for a notice: "A; B; C", with ", …" after
/// them when `count` has more.
std::wstring joinedExamples(const std::vector<std::wstring>& examples, std::size_t count);
inline std::wstring joinedExamples(const ProbeFailures::Summary& summary) {
    return joinedExamples(summary.examples, summary.count);
}

}  // namespace device
