#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/memory/audio_memory_types.h"
#include "device/memory/memory_image.h"

namespace device::memory {

/// What a model's memory can hold.
struct MemoryLimits {
    std::uint16_t layout = kLayout611;
    std::size_t maxFragments = 255;
    std::size_t maxScenarios = 64;
    std::uint32_t capacity = 0;  // bytes of flash for the whole image
};

/// One copy of an audio memory being edited: fragments (with their data when
/// held) and scenarios, with the model's limits. Not locked: the engine owns
/// its copies under its own lock. Fragments read from the device keep their
/// offset there, so that their data can be fetched later; added ones carry
/// their data.
class MemoryContent {
public:
    struct Fragment {
        FragmentRecord record;                     // offset: in the device's image, 0 when added here
        std::shared_ptr<const std::string> data;   // empty until read
    };

    explicit MemoryContent(const MemoryLimits& limits) : m_limits(limits) {}
    /// The device's catalogue; no data held yet.
    static MemoryContent fromCatalogue(const MemoryLimits& limits, const Catalogue& catalogue);
    /// An image of any known layout, taken into the model's layout; scenarios
    /// beyond the model's limit are dropped with a log line (the console has
    /// none). An image larger than the capacity throws exception::UserError.
    static MemoryContent fromImage(const MemoryLimits& limits, const Image& image);

    const MemoryLimits& limits() const { return m_limits; }
    void setCapacity(std::uint32_t capacity) { m_limits.capacity = capacity; }

    std::uint32_t imageSize() const;
    std::uint32_t freeSize() const;
    bool empty() const { return m_fragments.empty() && m_scenarios.empty(); }

    // Lookups; positions count from 1, 0xFFFF is "none".
    std::uint16_t fragmentPosition(std::uint16_t id) const;
    std::uint16_t fragmentId(std::uint16_t position) const;
    std::uint16_t scenarioPosition(std::uint16_t id) const;
    std::uint16_t scenarioId(std::uint16_t position) const;
    std::vector<FragmentInfo> fragmentList() const;
    std::vector<ScenarioInfo> scenarioList() const { return m_scenarios; }
    /// exception::InternalError "fragment position out of range" when absent.
    const Fragment& fragment(std::uint16_t id) const;
    const std::vector<Fragment>& fragments() const { return m_fragments; }

    // Edits; the refusals are the user's exceptions.
    std::uint16_t addFragment(const std::wstring& title, const std::string& bytes);
    std::uint16_t addScenario(std::uint16_t gongId, std::uint16_t messageId, std::uint16_t period,
                              const std::wstring& title);
    /// Removes the fragment and every scenario that plays it; false when absent.
    bool removeFragment(std::uint16_t id);
    bool removeScenario(std::uint16_t id);
    void clear();

    /// Hands read data to every fragment at that device offset with that CRC.
    void supplyData(std::uint32_t deviceOffset, std::uint32_t crc, const std::shared_ptr<const std::string>& data);
    bool holdsAllData() const;
    /// Root record and catalogue as they would be written.
    std::string catalogue() const;
    /// The whole image; every fragment's data must be held.
    std::string image() const;
    /// "<layout>:<F>:<S>:<CRC of the catalogue, 8 hex digits>".
    std::string stamp() const;
    /// After a write: the data now lie in the device at the offsets of image().
    void markWritten();

private:
    std::vector<FragmentRecord> records() const;
    void renumberScenarios();

    MemoryLimits m_limits;
    std::vector<Fragment> m_fragments;
    std::vector<ScenarioInfo> m_scenarios;
};

}  // namespace device::memory
