#include "gui/scheduler_checks.h"

#include <array>
#include <boost/pointer_cast.hpp>
#include <cstddef>
#include <optional>

#include "audio/place_folders.h"
#include "audio/playback.h"
#include "base/check.h"
#include "base/dbg.h"
#include "base/files.h"
#include "gui/scheduler_vault.h"
#include "scheduler/core.h"
#include "scheduler/task.h"

namespace scheduler {

namespace {

/// N unsigned numbers joined by the separator ("2024-3-5", "09:05"); the
/// whole text must be read.
template <std::size_t N>
std::optional<std::array<unsigned, N>> parseNumbers(const std::wstring& text, wchar_t separator) {
    std::array<unsigned, N> numbers{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != separator) return std::nullopt;
            ++at;
        }
        const std::size_t first = at;
        unsigned long value = 0;
        for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
            value = value * 10 + static_cast<unsigned long>(text[at] - L'0');
            if (value > 0xFFFFFFFFUL) return std::nullopt;
        }
        if (at == first) return std::nullopt;
        numbers[i] = static_cast<unsigned>(value);
    }
    if (at != text.size()) return std::nullopt;
    return numbers;
}

using Date = std::array<unsigned, 3>;
using Time = std::array<unsigned, 2>;

std::optional<Date> parseDate(const std::wstring& text) { return parseNumbers<3>(text, L'-'); }
std::optional<Time> parseTime(const std::wstring& text) { return parseNumbers<2>(text, L':'); }

/// a is not after b; false when either text does not read.
bool notAfter(const std::optional<Time>& a, const std::optional<Time>& b) { return a && b && *a <= *b; }

}  // namespace

std::wstring resolvedGongPath(const frm::PlaybackTrack& track) {
    std::wstring path = track.getGongPath();
    makeAbsolutePath(path, frm::placeFolder(frm::PlaceFolder::kGong));
    return path;
}

bool isUsed(const Core& core, const std::wstring& path) {
    if (path.empty()) return false;
    for (const auto& [id, task] : core.getTasks()) {
        const auto* base = dynamic_cast<const task::BaseTask*>(task.get());
        debug::terminateIfNull(base, "scheduler::isUsed");
        const task::DataVault vault = task::getVault(*base);
        debug::terminateIfNull(vault.playback, "scheduler::isUsed");
        const auto track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(vault.playback);
        if (!track) continue;
        // Both resolutions work on copies: the track is shared with the
        // task's callback, which may read it on a dispatcher worker now.
        if (track->messageDir() == path) return true;
        if (resolvedGongPath(*track) == path) return true;
    }
    return false;
}

bool isInsideDate(const task::BaseTask& task, const std::wstring& filterDate) {
    const task::DataVault vault = task::getVault(task);
    const std::optional<Date> filter = parseDate(filterDate);
    const std::optional<Date> start = parseDate(vault.startDate);
    bool inside = filter && start && *start <= *filter;
    if (inside && !vault.finalDate.empty()) {
        const std::optional<Date> final = parseDate(vault.finalDate);
        inside = final && *filter <= *final;
    }
    dbg_puts(TRACE, "Check inside of date: filter %ls. Task has %ls & %ls. inside=%s", filterDate.c_str(),
             vault.startDate.c_str(), vault.finalDate.c_str(), inside ? "true" : "false");
    return inside;
}

bool isInsideTime(const task::BaseTask& task, const std::wstring& from, const std::wstring& to) {
    const task::DataVault vault = task::getVault(task);
    const std::optional<Time> start = parseTime(vault.startTime);
    const bool lower = !from.empty() && notAfter(parseTime(from), start);
    // Without a stop the task's window is its start minute.
    const std::optional<Time> end = vault.stopTime.empty() ? start : parseTime(vault.stopTime);
    const bool upper = !to.empty() && notAfter(end, parseTime(to));
    if (!from.empty() && !to.empty()) return lower && upper;
    return lower || upper;
}

}  // namespace scheduler
