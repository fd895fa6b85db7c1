#include "gui/memory_page_rules.h"

namespace frm {
namespace memory_page {

const wchar_t* const kOnDevice = L"Расположен в памяти устройства";

namespace {

/// The state's menu when the device plays or nothing is selected; false
/// when the selection decides.
bool commonMenu(const MenuState& state, std::vector<MenuItem>& items) {
    if (state.playing) {
        if (state.loudspeaker) items.push_back(MenuItem::kStop);
        return true;
    }
    if (!state.selected) {
        items.push_back(MenuItem::kAdd);
        return true;
    }
    if (!state.pending && state.loudspeaker) items.push_back(MenuItem::kPlay);
    return false;
}

}  // namespace

std::vector<MenuItem> fragmentMenu(const MenuState& state) {
    std::vector<MenuItem> items;
    if (!commonMenu(state, items))
        items.insert(items.end(), {MenuItem::kAdd, MenuItem::kSave, MenuItem::kDelete});
    return items;
}

std::vector<MenuItem> scenarioMenu(const MenuState& state) {
    std::vector<MenuItem> items;
    if (!commonMenu(state, items)) items.insert(items.end(), {MenuItem::kDelete, MenuItem::kAdd});
    return items;
}

std::wstring groupedDigits(std::uint32_t value) {
    const std::wstring digits = std::to_wstring(value);
    std::wstring text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += L' ';
        text += digits[i];
    }
    return text;
}

std::wstring sourceText(const std::vector<std::wstring>& sources, std::size_t fragments, std::size_t row) {
    if (sources.size() != fragments || row >= sources.size()) return std::wstring();
    return sources[row].empty() ? std::wstring(kOnDevice) : sources[row];
}

void dropSource(std::vector<std::wstring>& sources, std::size_t remaining, long row) {
    if (sources.size() != remaining + 1 || row < 0 || static_cast<std::size_t>(row) >= sources.size()) return;
    sources.erase(sources.begin() + row);
}

}  // namespace memory_page
}  // namespace frm
