#pragma once

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/choice.h>

#include <vector>

// Reaching a dialog's controls as the operator sees them and driving them
// without the pointer.
namespace dialog_testing {

/// The window's descendants of one kind, depth first in creation order.
template <class Control>
std::vector<Control*> all(wxWindow* window) {
    std::vector<Control*> found;
    for (wxWindow* child : window->GetChildren()) {
        if (auto* control = dynamic_cast<Control*>(child)) found.push_back(control);
        for (Control* inner : all<Control>(child)) found.push_back(inner);
    }
    return found;
}

/// Sends the click of the button with this label (mnemonic included).
inline void press(wxWindow* window, const wxString& label) {
    for (wxButton* button : all<wxButton>(window))
        if (button->GetLabel() == label) {
            wxCommandEvent click(wxEVT_BUTTON, button->GetId());
            click.SetEventObject(button);
            button->HandleWindowEvent(click);
            return;
        }
    ADD_FAILURE() << "no button " << label.utf8_string();
}

/// Selects an item and sends the choice event, as a pick from the list does.
inline void choose(wxChoice* choice, int item) {
    choice->SetSelection(item);
    wxCommandEvent picked(wxEVT_CHOICE, choice->GetId());
    picked.SetEventObject(choice);
    picked.SetInt(item);
    choice->HandleWindowEvent(picked);
}

}  // namespace dialog_testing
