#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/concurrent_walk.h"
#include "audio/orvel_actions.h"

// The alarm channel's requests to its loudspeakers, each step sent to all of
// them at once: the transport serves different loudspeakers side by side, so
// a step costs about the reply time of its slowest loudspeaker, not the sum
// of all replies. A loudspeaker whose request fails (no reply, an error
// reply, gone offline) neither holds the others back nor ends the step; the
// failures are gathered by cause, for one notice per cause. Each step runs
// on the walk's threads, which its caller owns.

namespace frm {

/// Loudspeakers asked at once by one step: a thread each, up to this many
/// (the walk's threads stay for the next steps).
constexpr std::size_t kLoudspeakersAtOnce = 128;

/// The loudspeakers of one step that failed, per cause: how many, and the
/// first few by title, in the order of the step's list.
class StepFailures {
public:
    static constexpr std::size_t kExamples = 3;

    struct Summary {
        std::wstring cause;
        std::size_t count = 0;
        std::vector<std::wstring> examples;  // at most kExamples, in the order they came
    };

    void add(const std::wstring& cause, const std::wstring& loudspeaker);
    /// One summary per cause, in the order the causes first came.
    const std::vector<Summary>& summaries() const { return m_summaries; }

    /// The examples joined for a notice: "A; B; C", with ", …" after them
    /// when the count has more.
    static std::wstring examples(const Summary& summary);

private:
    std::vector<Summary> m_summaries;
    std::map<std::wstring, std::size_t> m_index;
};

enum class SwitchOutcome { kNotAsked, kDone, kBusy, kFailed };

/// Every online and answering loudspeaker of the list asked at once to
/// switch to `channel`: done, busy (it refused, playing a notice of its
/// own) or failed (gathered in `failures`); the others are not asked. The
/// outcomes in the list's order.
std::vector<SwitchOutcome> switchAtOnce(WalkThreads& threads, const std::vector<boost::shared_ptr<device::OrvelInfo>>& list,
                                        device::AudioChannel channel, StepFailures& failures);

struct SavedSettings {
    VolumeMap volumes;
    VolumeStateMap states;
};

/// The volume of every online and answering loudspeaker and whether it is
/// switched on, read at once. One whose volume cannot be read is left out of
/// both (gathered in `failures`): it keeps its own volume through the
/// notice. `firstAnswered`, when set, is called with the first loudspeaker
/// whose volume was read, on its thread, while the others still answer.
SavedSettings saveAtOnce(WalkThreads& threads, const DeviceSet& devices, StepFailures& failures,
                         const std::function<void(device::OrvelInfo&)>& firstAnswered =
                             std::function<void(device::OrvelInfo&)>());

/// The volume given to every online and answering loudspeaker at once;
/// refusals and failures are the device layer's to log.
void setVolumeAtOnce(WalkThreads& threads, const DeviceSet& devices, int volume);

/// Each loudspeaker's saved volume, then its saved switch state, the
/// loudspeakers at once; only those online and answering.
void restoreAtOnce(WalkThreads& threads, const VolumeMap& volumes, const VolumeStateMap& states);

}  // namespace frm
