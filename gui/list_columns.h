#pragma once

#include <wx/listctrl.h>

#include <algorithm>

namespace frm {

/// Sets a report column's width (pixels or wxLIST_AUTOSIZE) but never
/// narrower than its header's text, which would be cut off. GUI thread.
inline void setColumnWidth(wxListCtrl* list, int column, int width) {
    list->SetColumnWidth(column, width);
    wxListItem header;
    header.SetMask(wxLIST_MASK_TEXT);
    list->GetColumn(column, header);
    // The header's own margins on both sides of the text.
    const int least = list->GetTextExtent(header.GetText()).x + 16;
    if (list->GetColumnWidth(column) < least) list->SetColumnWidth(column, least);
}

}  // namespace frm
