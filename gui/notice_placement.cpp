#include "gui/notice_placement.h"

#include <algorithm>

namespace frm {

namespace {

/// One side of the dialogs: the free strip of the area there, and where a
/// window placed in it lies against the dialogs.
struct Side {
    wxRect strip;
    bool alongY;    // beside the dialogs (left or right): aligned on the y axis
    bool hugsEnd;   // left or above: the window touches the strip's far end
};

/// The window as big as `size` allows within the strip, placed on `side`
/// next to the innermost dialog `innermost`.
wxRect fitted(const Side& side, const wxSize& size, const wxRect& innermost) {
    const wxRect& strip = side.strip;
    const int width = std::min(size.GetWidth(), strip.GetWidth());
    const int height = std::min(size.GetHeight(), strip.GetHeight());
    // Level with the innermost dialog, pushed back inside the strip.
    const auto level = [](int wanted, int first, int span, int length) {
        return std::max(first, std::min(wanted, first + span - length));
    };
    int x, y;
    if (side.alongY) {
        x = side.hugsEnd ? strip.GetRight() + 1 - width : strip.GetLeft();
        y = level(innermost.GetTop(), strip.GetTop(), strip.GetHeight(), height);
    } else {
        y = side.hugsEnd ? strip.GetBottom() + 1 - height : strip.GetTop();
        x = level(innermost.GetLeft(), strip.GetLeft(), strip.GetWidth(), width);
    }
    return wxRect(x, y, width, height);
}

}  // namespace

std::optional<wxRect> placeBeside(const wxRect& area, const std::vector<wxRect>& dialogs, const wxSize& size,
                                  const wxSize& minimum, int gap) {
    if (dialogs.empty()) return std::nullopt;
    wxRect all = dialogs.front();
    for (const wxRect& dialog : dialogs) all.Union(dialog);

    // Each strip spans the whole area along the dialogs; an empty one has a
    // width or height of zero or less.
    const int right = all.GetRight() + 1 + gap, below = all.GetBottom() + 1 + gap;
    const int left = all.GetLeft() - gap, above = all.GetTop() - gap;
    const Side sides[] = {
        {wxRect(right, area.GetTop(), area.GetRight() + 1 - right, area.GetHeight()), true, false},
        {wxRect(area.GetLeft(), below, area.GetWidth(), area.GetBottom() + 1 - below), false, false},
        {wxRect(area.GetLeft(), area.GetTop(), left - area.GetLeft(), area.GetHeight()), true, true},
        {wxRect(area.GetLeft(), area.GetTop(), area.GetWidth(), above - area.GetTop()), false, true},
    };
    std::optional<wxRect> roomiest;
    for (const Side& side : sides) {
        const wxRect& strip = side.strip;
        if (strip.GetWidth() < minimum.GetWidth() || strip.GetHeight() < minimum.GetHeight()) continue;
        const wxRect place = fitted(side, size, dialogs.back());
        if (place.GetSize() == size) return place;
        if (!roomiest || place.GetWidth() * place.GetHeight() > roomiest->GetWidth() * roomiest->GetHeight())
            roomiest = place;
    }
    return roomiest;
}

}  // namespace frm
