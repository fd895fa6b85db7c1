#include "gui/scheduler_task_list.h"

#include <algorithm>
#include <boost/pointer_cast.hpp>
#include <cctype>

#include "audio/playback.h"
#include "base/text.h"
#include "device/models/orvel_info.h"
#include "gui/scheduler_checks.h"
#include "scheduler/task.h"

namespace frm::scheduler_list {

namespace {

const std::wstring kNone = L"-";

bool contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

std::vector<std::wstring> rowCells(const scheduler::task::BaseTask& task,
                                   const scheduler::task::DataVault& vault) {
    const bool once = dynamic_cast<const scheduler::task::Once*>(&task) != nullptr;
    std::vector<std::wstring> cells(kColumns);
    cells[kStartDate] = vault.startDate;
    cells[kFinalDate] = once ? vault.startDate : (vault.finalDate.empty() ? kNone : vault.finalDate);
    cells[kStartTime] = vault.startTime;
    const bool noStop = vault.stopTaskId == scheduler::task::kNoStopTask || once || vault.stopTime.empty();
    cells[kStopTime] = noStop ? kNone : vault.stopTime;
    cells[kSource] = kNone;
    cells[kGong] = kNone;
    if (const auto& playback = vault.playback) {
        cells[kSource] = playback->getCollection()->getTitle() + L": " + playback->getName();
        if (const auto track = boost::dynamic_pointer_cast<PlaybackTrack>(playback))
            cells[kGong] = track->getGongName();
        for (const auto& device : playback->getDevices()) {
            if (!device) continue;
            if (!cells[kDevices].empty()) cells[kDevices] += L", ";
            cells[kDevices] += device->getTitle();
        }
    }
    cells[kEnabled] = task.isEnabled() ? L"Вкл" : L"Выкл";
    return cells;
}

bool TaskFilter::passes(const scheduler::task::BaseTask& task,
                        const scheduler::task::DataVault& vault) const {
    if (enabledOnly && !task.isEnabled()) return false;
    if (byDate && !scheduler::isInsideDate(task, date)) return false;
    if (byTime && !scheduler::isInsideTime(task, from, to)) return false;
    if (byDevice && deviceId >= 0 && !contains(vault.deviceIds, static_cast<std::uint32_t>(deviceId)))
        return false;
    if (byZone && std::none_of(zoneDeviceIds.begin(), zoneDeviceIds.end(),
                               [&](std::uint32_t id) { return contains(vault.deviceIds, id); }))
        return false;
    return true;
}

std::wstring indentText(const std::wstring& text, unsigned level) {
    return std::wstring(3u * level, L' ') + text;
}

std::size_t endOfBranch(const std::vector<unsigned>& levels, std::size_t row) {
    std::size_t next = row + 1;
    while (row < levels.size() && next < levels.size() && levels[next] > levels[row]) ++next;
    return std::min(next, levels.size());
}

bool refusedInTimeField(wchar_t character) {
    const std::string narrow = base::toNarrow(std::wstring(1, character));
    if (narrow.empty()) return false;  // the null character
    const auto byte = static_cast<unsigned char>(narrow[0]);
    if (byte < 0x80) return byte == ' ' || std::isalpha(byte) != 0 || std::ispunct(byte) != 0;
    // The upper half of the code page holds letters, punctuation and
    // symbols only; 0x98 is unassigned (a control character).
    return byte != 0x98;
}

}  // namespace frm::scheduler_list
