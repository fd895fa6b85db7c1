#pragma once

#include <wx/arrstr.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/checklst.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/radiobox.h>
#include <wx/radiobut.h>
#include <wx/renderer.h>
#include <wx/scrolwin.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>
#include <wx/window.h>

#include <algorithm>
#include <string>
#include <vector>

namespace wx_testing {

/// The texts a window shows that the operator cannot read whole: a label,
/// check box, radio box or button given less than its best size, one that
/// reaches past the area of the window that holds it (down to the first
/// window that scrolls: that one may hold it below its visible part, not
/// beside it), a report list's column narrower than its header or one
/// of its values, a list box narrower than one of its rows, and a one-line
/// text or spin field narrower than the value it holds (with the field's own
/// margins and arrows). Only
/// what is shown on the screen counts. Each entry names the text.
inline std::vector<std::string> clippedTexts(wxWindow* root) {
    std::vector<std::string> found;
    const auto name = [](wxWindow* window, const char* what) {
        return std::string(what) + " '" + std::string(window->GetLabel().utf8_str()) + "'";
    };
    const auto visit = [&](wxWindow* window, const auto& self) -> void {
        if (!window->IsShownOnScreen()) return;
        // dynamic_cast, not wxDynamicCast: that one casts down before it checks.
        const bool text = dynamic_cast<wxStaticText*>(window) || dynamic_cast<wxCheckBox*>(window) ||
                          dynamic_cast<wxRadioBox*>(window) || dynamic_cast<wxRadioButton*>(window) ||
                          dynamic_cast<wxAnyButton*>(window);
        // A static box is as big as its sizer makes it, whatever it asks for.
        if (text && !window->GetLabel().empty() && !dynamic_cast<wxStaticBox*>(window)) {
            const wxSize best = window->GetBestSize(), size = window->GetSize();
            if (size.x < best.x || size.y < best.y) found.push_back(name(window, "squeezed"));
            wxRect rect = window->GetRect();
            for (wxWindow* holder = window->GetParent(); holder != nullptr; holder = holder->GetParent()) {
                const wxSize area = holder->GetClientSize();
                const bool scrolls = dynamic_cast<wxScrollHelperBase*>(holder) != nullptr;
                if (rect.x < 0 || rect.GetRight() >= area.x ||
                    (!scrolls && (rect.y < 0 || rect.GetBottom() >= area.y))) {
                    found.push_back(name(window, "outside"));
                    break;
                }
                if (scrolls || holder == root) break;
                rect.Offset(holder->GetPosition() + holder->GetClientAreaOrigin());
            }
        }
        // A field scrolls a value wider than itself: its start is then out of sight.
        const auto field = [&found](wxControl* control, const wxString& value) {
            if (value.empty()) return;
            const int needed = control->GetSizeFromTextSize(control->GetTextExtent(value).x).x;
            if (control->GetSize().x < needed)
                found.push_back("field '" + std::string(value.utf8_str()) + "' (" +
                                std::to_string(control->GetSize().x) + " < " + std::to_string(needed) + ")");
        };
        if (auto* text = dynamic_cast<wxTextCtrl*>(window); text != nullptr && text->IsSingleLine())
            field(text, text->GetValue());
        if (auto* spin = dynamic_cast<wxSpinCtrl*>(window)) field(spin, wxString::Format(L"%d", spin->GetValue()));
        if (auto* list = dynamic_cast<wxListCtrl*>(window); list != nullptr && list->InReportView()) {
            for (int column = 0; column < list->GetColumnCount(); ++column) {
                wxListItem header;
                header.SetMask(wxLIST_MASK_TEXT);
                list->GetColumn(column, header);
                const int width = list->GetColumnWidth(column);
                if (width < list->GetTextExtent(header.GetText()).x + 16)
                    found.push_back("column '" + std::string(header.GetText().utf8_str()) + "'");
                // A value with the cell's margins (the list control's own).
                for (long row = 0; row < list->GetItemCount(); ++row) {
                    const wxString value = list->GetItemText(row, column);
                    if (width < list->GetTextExtent(value).x + 8)
                        found.push_back("cell '" + std::string(value.utf8_str()) + "'");
                }
            }
        }
        // A list box's rows (with the check box of a check list box) within
        // the list's width: a row read only by scrolling sideways is cut.
        if (auto* list = dynamic_cast<wxListBox*>(window)) {
            const int box = dynamic_cast<wxCheckListBox*>(window)
                                ? wxRendererNative::Get().GetCheckBoxSize(window).x
                                : 0;
            for (unsigned row = 0; row < list->GetCount(); ++row) {
                const wxString value = list->GetString(row);
                int widest = 0;  // a row may stand on several lines
                for (const wxString& line : wxSplit(value, L'\n', L'\0'))
                    widest = std::max(widest, list->GetTextExtent(line).x);
                if (list->GetClientSize().x < widest + box + 8)
                    found.push_back("row '" + std::string(value.utf8_str()) + "'");
            }
        }
        for (wxWindow* child : window->GetChildren()) self(child, self);
    };
    visit(root, visit);
    return found;
}

}  // namespace wx_testing
