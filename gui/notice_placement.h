#pragma once

#include <wx/gdicmn.h>

#include <optional>
#include <vector>

namespace frm {

/// Where a window of `size` goes on the screen area `area` (screen
/// coordinates) so that it covers none of the rectangles `dialogs`, keeping
/// `gap` pixels from them: beside all of them to the right, below them, to
/// the left or above them, on the first side where it fits whole, level
/// with the last (innermost) dialog's top or left edge as far as the area
/// allows. Where it fits whole on no side, it goes to the side with the most
/// room, made smaller, but never below `minimum`; none when no side has room
/// even for that. No dialogs: none. No window needed.
std::optional<wxRect> placeBeside(const wxRect& area, const std::vector<wxRect>& dialogs, const wxSize& size,
                                  const wxSize& minimum, int gap);

}  // namespace frm
