#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "tools/simulator/model.h"

namespace device::sim {

/// The audio memory of a simulated device: the committed image the device
/// plays from, the staging area that "mem write" fills, and the playback
/// state. It answers the "mem ..." requests; the bytes are not interpreted,
/// so a test can plant any image, broken ones included. Thread-safe: the
/// device's strand calls answer, the test thread the rest.
class AudioMemoryStore {
public:
    AudioMemoryStore(std::uint16_t layout, std::uint32_t capacity);

    /// Registers the "mem" command of `model` and the memory's part of what
    /// the device holds; the model keeps the store alive.
    static void install(const std::shared_ptr<AudioMemoryStore>& store, CommandModel& model);

    /// The reply to "mem <arguments>", nothing when the request is lost.
    std::optional<std::string> answer(const std::string& arguments);

    void setLayout(std::uint16_t layout);
    /// Replaces the committed image (and the staging area) without checks.
    void plant(const std::string& image);
    std::string committed() const;
    /// Drops this share (0..100) of the requests, as a lossy network would.
    void setLoss(unsigned percent, unsigned seed = 1);
    /// Refuses ("ERR ...") every following request that starts with `prefix`
    /// ("write", "commit", ...); an empty prefix stops refusing.
    void refuse(const std::string& prefix);
    /// The number of requests received that started with `prefix` (lost ones too).
    unsigned count(const std::string& prefix) const;
    /// Bytes of the committed image read so far by "mem read".
    std::uint64_t bytesRead() const;
    /// "idle", "fragment <id>" or "scenario <id>".
    std::string state() const;
    void setState(const std::string& state);
    /// Power lost: the playback ends and what was written but not committed
    /// is gone; the committed image stays.
    void restart();

private:
    std::optional<std::string> handle(const std::string& verb, const std::string& arguments);

    mutable std::mutex m_mutex;
    std::uint16_t m_layout;
    const std::uint32_t m_capacity;
    std::string m_committed;
    std::string m_staging;
    std::string m_state = "idle";
    unsigned m_loss = 0;
    std::mt19937 m_random{1};
    std::string m_refused;
    std::map<std::string, unsigned> m_counts;
    std::uint64_t m_bytesRead = 0;
};

}  // namespace device::sim
