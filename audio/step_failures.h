#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace frm {

/// The loudspeakers of one step of a notice that failed, per cause: how
/// many, and the first few by title, in the order they were added. The
/// operator is told once per cause, not once per loudspeaker.
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
    bool empty() const { return m_summaries.empty(); }

    /// The examples joined for a notice: "A; B; C", with ", …" after them
    /// when the count has more.
    static std::wstring examples(const Summary& summary);

private:
    std::vector<Summary> m_summaries;
    std::map<std::wstring, std::size_t> m_index;
};

/// One notice per cause, with the count and a few loudspeakers: `text`
/// takes them as %1%, %2% (the cause) and %3%. With `told`, a text and cause
/// told before (kept there) is not told again.
void tellFailures(const StepFailures& failures, const wchar_t* text, std::set<std::wstring>* told = nullptr);

/// What the operator is told of loudspeakers not given back.
extern const wchar_t* const kNotSwitchedBack;
extern const wchar_t* const kVolumeNotReturned;

}  // namespace frm
