#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The audio-memory page's decisions that need no window: which items the
// fragment and scenario menus offer, how the free memory and the file
// column read, and the list of files the fragments came from. Pure
// functions; any thread.
namespace frm {
namespace memory_page {

/// The items of the two list menus.
enum class MenuItem { kPlay, kStop, kAdd, kSave, kDelete };

/// What the menus depend on when the right button is released.
struct MenuState {
    bool playing = false;      // the device plays from its memory now
    bool selected = false;     // a row of the menu's list is selected
    bool pending = false;      // edits not yet written to the device
    bool loudspeaker = false;  // a console plays nothing from its memory here
};

/// The fragment menu in the order of appending: while the device plays only
/// "stop" (a loudspeaker's); without a selection only "add"; with one "play"
/// (a loudspeaker without pending edits), "add", "save", "delete".
std::vector<MenuItem> fragmentMenu(const MenuState& state);
/// The scenario menu: playing only "stop" (a loudspeaker's); no selection
/// only "add"; a selection "play" (as above), "delete", "add".
std::vector<MenuItem> scenarioMenu(const MenuState& state);

/// The number in decimal with its digits grouped in threes from the right,
/// one blank between groups: "1 234 567".
std::wstring groupedDigits(std::uint32_t value);

/// Shown in the file column of a fragment that already lies on the device.
extern const wchar_t* const kOnDevice;

/// The file column of fragment row `row`: the file the fragment was added
/// from, kOnDevice for one without a file, and empty for every row when the
/// list of files does not have one entry per fragment.
std::wstring sourceText(const std::vector<std::wstring>& sources, std::size_t fragments, std::size_t row);

/// After a fragment was removed from the memory: the entry of its row goes
/// when the list held exactly one entry more than the `remaining`
/// fragments; otherwise (or for a row outside the list) nothing changes.
void dropSource(std::vector<std::wstring>& sources, std::size_t remaining, long row);

}  // namespace memory_page
}  // namespace frm
