#include "audio/step_failures.h"

#include "base/log.h"
#include "device/models/probe_failures.h"

namespace frm {

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

void tellFailures(const StepFailures& failures, const wchar_t* text, std::set<std::wstring>* told) {
    for (const StepFailures::Summary& summary : failures.summaries()) {
        if (told != nullptr && !told->insert(std::wstring(text) + L"\n" + summary.cause).second) {
            LOG_DEBUG(L"told before for this notice: %1%", summary.cause);
            continue;
        }
        LOG_WARN(text, static_cast<std::uint64_t>(summary.count), summary.cause, StepFailures::examples(summary));
    }
}

const wchar_t* const kNotSwitchedBack = L"Громкоговорители не возвращены на общий канал (%1%): %2%. Например: %3%";
const wchar_t* const kVolumeNotReturned = L"Громкость громкоговорителей не возвращена (%1%): %2%. Например: %3%";

}  // namespace frm
