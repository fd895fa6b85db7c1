#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tools/simulator/model.h"

namespace device::sim {

/// The equalizer of a simulated loudspeaker in the form of its firmware
/// generation: below index 9 one packed value ("get eq" "%04X", "set eq
/// XXXX"); from 9 on six bands of -10..0 ("get eqd", "set eqd") and a switch
/// ("get eq" "on"/"off", "set eq on/off"). Index 9 to 13 take "set eqd" with
/// ten values, the last four zero; later ones exactly six. Anything else is
/// refused with "ERR wrong arguments" and changes nothing. Thread-safe.
class EqualizerStore {
public:
    explicit EqualizerStore(int index) : m_index(index) {}

    /// Registers "get eq", "get eqd" and "set eq"/"set eqd" on `model`.
    static void install(const std::shared_ptr<EqualizerStore>& store, CommandModel& model);

    std::optional<std::string> answer(const std::string& command, const std::string& arguments);

    std::uint16_t packed() const;
    void setPacked(std::uint16_t value);
    bool enabled() const;
    void setEnabled(bool on);
    std::array<int, 6> bands() const;
    void setBands(const std::array<int, 6>& bands);
    /// Not empty: "get eqd" answers exactly this.
    void setBandsReply(const std::string& reply);
    /// Not empty: "get eq" answers exactly this.
    void setSwitchReply(const std::string& reply);

private:
    std::optional<std::string> setBandsFrom(const std::string& arguments);

    mutable std::mutex m_mutex;
    const int m_index;
    std::uint16_t m_packed = 0;
    bool m_enabled = false;
    std::array<int, 6> m_bands{};
    std::string m_bandsReply;
    std::string m_switchReply;
};

}  // namespace device::sim
