#include "audio/loudspeaker_steps.h"

#include <atomic>
#include <cwctype>

#include "base/exception.h"
#include "base/log.h"
#include "device/models/probe_failures.h"

namespace frm {

namespace {

using Loudspeaker = boost::shared_ptr<device::OrvelInfo>;

std::vector<Loudspeaker> listOf(const DeviceSet& devices) { return {devices.begin(), devices.end()}; }

/// `visit` on every loudspeaker of the list at once.
void atOnce(WalkThreads& threads, const std::vector<Loudspeaker>& list,
            const std::function<void(device::OrvelInfo&)>& visit) {
    threads.forEach(list.size(), [&](std::size_t i) { visit(*list[i]); });
}

/// What the operator is told of a request that failed.
std::wstring causeOf(const exception::Base& e) {
    if (dynamic_cast<const exception::Offline*>(&e) != nullptr) return L"устройство не ответило";
    if (dynamic_cast<const exception::UnsupportedByDevice*>(&e) != nullptr)
        return L"не поддерживается версией устройства";
    std::wstring details = e.getDetails();
    while (!details.empty() && std::iswspace(details.back())) details.pop_back();
    return details.empty() ? e.getNotification() : e.getNotification() + L": " + details;
}

/// The causes gathered by index, added in the list's order: the examples
/// do not depend on which reply came first.
void addInOrder(const std::vector<Loudspeaker>& list, const std::vector<std::wstring>& causes,
                StepFailures& failures) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (!causes[i].empty()) failures.add(causes[i], list[i]->getTitle());
}

/// A request whose outcome nobody waits for: a failure is the device
/// layer's or the log's, never the step's end.
template <class F>
void ignoringFailure(device::OrvelInfo& speaker, const wchar_t* what, F request) {
    try {
        request();
    } catch (const exception::Base& e) {
        LOG_DEBUG(L"Alarm channel: %1% of '%2%' failed: %3%", what, speaker.getTitle(), e.getNotification());
    }
}

}  // namespace

void StepFailures::add(const std::wstring& cause, const std::wstring& loudspeaker) {
    const auto found = m_index.find(cause);
    std::size_t at = 0;
    if (found == m_index.end()) {
        at = m_summaries.size();
        m_index.emplace(cause, at);
        m_summaries.push_back({cause, 0, {}});
    } else {
        at = found->second;
    }
    Summary& summary = m_summaries[at];
    ++summary.count;
    if (summary.examples.size() < kExamples) summary.examples.push_back(loudspeaker);
}

std::wstring StepFailures::examples(const Summary& summary) {
    return device::joinedExamples(summary.examples, summary.count);
}

std::vector<SwitchOutcome> switchAtOnce(WalkThreads& threads, const std::vector<Loudspeaker>& list,
                                        device::AudioChannel channel, StepFailures& failures) {
    std::vector<SwitchOutcome> outcomes(list.size(), SwitchOutcome::kNotAsked);
    std::vector<std::wstring> causes(list.size());
    threads.forEach(list.size(), [&](std::size_t i) {
        device::OrvelInfo& speaker = *list[i];
        if (!speaker.isOnlineAndAnswered()) return;
        try {
            outcomes[i] = speaker.switchChannel(channel) ? SwitchOutcome::kDone : SwitchOutcome::kBusy;
        } catch (const exception::Base& e) {
            causes[i] = causeOf(e);
            LOG_DEBUG(L"Alarm channel: '%1%' not switched to channel %2%: %3%", speaker.getTitle(),
                      static_cast<int>(channel), causes[i]);
            outcomes[i] = SwitchOutcome::kFailed;
        }
    });
    addInOrder(list, causes, failures);
    return outcomes;
}

SavedSettings saveAtOnce(WalkThreads& threads, const DeviceSet& devices, StepFailures& failures,
                         const std::function<void(device::OrvelInfo&)>& firstAnswered) {
    const std::vector<Loudspeaker> list = listOf(devices);
    std::vector<int> volumes(list.size(), 0);
    // Not vector<bool>: its elements share bytes, and the threads write at once.
    std::vector<char> states(list.size(), 0);
    std::vector<char> saved(list.size(), 0);
    std::vector<std::wstring> causes(list.size());
    std::atomic<bool> answered{false};
    threads.forEach(list.size(), [&](std::size_t i) {
        device::OrvelInfo& speaker = *list[i];
        if (!speaker.isOnlineAndAnswered()) return;
        try {
            volumes[i] = speaker.getVolume();
            states[i] = speaker.isVolumeEnabled() ? 1 : 0;
            saved[i] = 1;
        } catch (const exception::Base& e) {
            causes[i] = causeOf(e);
            LOG_DEBUG(L"Alarm channel: the volume of '%1%' not read: %2%", speaker.getTitle(), causes[i]);
            return;
        }
        if (firstAnswered && !answered.exchange(true)) firstAnswered(speaker);
    });
    addInOrder(list, causes, failures);
    SavedSettings settings;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (saved[i] == 0) continue;
        settings.volumes[list[i]] = volumes[i];
        settings.states[list[i]] = states[i] != 0;
    }
    return settings;
}

void setVolumeAtOnce(WalkThreads& threads, const DeviceSet& devices, int volume) {
    atOnce(threads, listOf(devices), [volume](device::OrvelInfo& speaker) {
        if (!speaker.isOnlineAndAnswered()) return;
        ignoringFailure(speaker, L"the volume",
                        [&] { speaker.setVolume(static_cast<std::uint32_t>(volume)); });
    });
}

void restoreAtOnce(WalkThreads& threads, const VolumeMap& volumes, const VolumeStateMap& states) {
    DeviceSet devices;
    for (const auto& entry : volumes) devices.insert(entry.first);
    for (const auto& entry : states) devices.insert(entry.first);
    const std::vector<Loudspeaker> list = listOf(devices);
    threads.forEach(list.size(), [&](std::size_t i) {
        device::OrvelInfo& speaker = *list[i];
        const auto volume = volumes.find(list[i]);
        if (volume != volumes.end() && speaker.isOnlineAndAnswered())
            ignoringFailure(speaker, L"the saved volume",
                            [&] { speaker.setVolume(static_cast<std::uint32_t>(volume->second)); });
        const auto state = states.find(list[i]);
        if (state != states.end() && speaker.isOnlineAndAnswered())
            ignoringFailure(speaker, L"the saved volume state", [&] { speaker.enableVolume(state->second); });
    });
}

}  // namespace frm
