#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace frm {

/// One line of the notice window: when it first came, its caption (the
/// level's name as the operator reads it), its text and how often it came
/// while shown.
struct Notice {
    std::wstring time;
    std::wstring caption;
    std::wstring text;
    int count = 1;
};

/// The notices the operator has not yet closed, oldest first. A notice whose
/// caption and text equal one already listed is counted on that entry, which
/// keeps its place and time; every other one goes to the end. The list keeps
/// at most `limit` entries: beyond that the oldest go. No window, no locks:
/// the notice window owns one on the GUI thread.
class NoticeList {
public:
    static constexpr std::size_t kDefaultLimit = 200;

    explicit NoticeList(std::size_t limit = kDefaultLimit);

    /// Adds the notice or counts it; returns the index of its entry.
    std::size_t add(const std::wstring& time, const std::wstring& caption, const std::wstring& text);
    /// Counts a repeat on the listed entry with this caption and text; false
    /// (nothing changes) when none is listed.
    bool countRepeat(const std::wstring& caption, const std::wstring& text);
    void clear() { m_entries.clear(); }

    const std::vector<Notice>& entries() const { return m_entries; }
    bool empty() const { return m_entries.empty(); }

    /// An entry's text as shown: the text, and " (×N)" after it once it
    /// came N > 1 times.
    static std::wstring shownText(const Notice& notice);
    /// All entries as the window's text: per entry a line "time  caption",
    /// then its shown text, a blank line between entries.
    std::wstring text() const;

private:
    Notice* find(const std::wstring& caption, const std::wstring& text);

    std::size_t m_limit;
    std::vector<Notice> m_entries;
};

}  // namespace frm
