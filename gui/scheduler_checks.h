#pragma once

#include <string>

namespace frm {
class PlaybackTrack;
}

namespace scheduler {

class Core;
namespace task {
class BaseTask;
}

/// True when a task of the core plays the file as its message or its gong.
/// A task's paths are resolved as saving resolves them (a file missing where
/// the path says counts from its folder) without changing the task. Paths
/// compare whole, letter case counting; an empty path is never used (a
/// group has none, and gong-less tasks have an empty gong path). A task that
/// is no BaseTask or has no playback stops the program. GUI thread; reads
/// only, so a dispatcher job may resolve the same track meanwhile.
bool isUsed(const Core& core, const std::wstring& path);

/// The track's gong path made absolute against the gong folder
/// (place_folders.h): an existing file keeps its path, a missing one is
/// looked for under its file name in that folder. The track is not changed;
/// its message path has messageDir() for the same. Any thread.
std::wstring resolvedGongPath(const frm::PlaybackTrack& track);

/// The task-list date filter: whether the day (year-month-day, numbers in
/// any width) lies within the task's first and last day, both inclusive. A
/// task without a last day has no upper bound; a text that does not read as
/// a date gives false. GUI thread.
bool isInsideDate(const task::BaseTask& task, const std::wstring& filterDate);

/// The task-list time filter, hours:minutes, each bound empty when not set:
/// `from` is not after the start; `to` is not before the stop, or the start
/// when the task has no stop. With both bounds both must hold, with one that
/// one, with none the result is false. GUI thread.
bool isInsideTime(const task::BaseTask& task, const std::wstring& from, const std::wstring& to);

}  // namespace scheduler
