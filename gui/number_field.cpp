#include "gui/number_field.h"

#include <wx/bookctrl.h>
#include <wx/textentry.h>

#include "gui/ui.h"

namespace frm {

FieldNumber readNumberField(const fb::NumberSpin& field, const std::wstring& name) {
    FieldNumber result;
    const base::NumberText read = field.read();
    if (read.kind == base::NumberText::Number)
        result.value = read.value;
    else
        result.refusal =
            base::numberTextRefusal(name, field.typedText(), read, field.GetMin(), field.GetMax());
    return result;
}

std::optional<int> takeDialogNumber(fb::NumberSpin& field, const std::wstring& name, wxWindow& dialog) {
    const FieldNumber read = readNumberField(field, name);
    if (!read.value) refuseInDialog(read.refusal, field, dialog);
    return read.value;
}

void refuseInDialog(const std::wstring& refusal, wxWindow& field, wxWindow& dialog) {
    ui::messageBox(refusal, L"Внимание", wxOK | wxICON_WARNING | wxCENTRE, &dialog);
    showRefusedField(field);
}

void showRefusedField(wxWindow& field) {
    for (wxWindow* page = &field; page != nullptr && page->GetParent() != nullptr; page = page->GetParent()) {
        auto* book = dynamic_cast<wxBookCtrlBase*>(page->GetParent());
        if (book == nullptr) continue;
        const int index = book->FindPage(page);
        if (index != wxNOT_FOUND && book->GetSelection() != index)
            book->SetSelection(static_cast<std::size_t>(index));
    }
    field.SetFocus();
    if (auto* spin = dynamic_cast<wxSpinCtrl*>(&field))
        spin->SetSelection(-1, -1);
    else if (auto* text = dynamic_cast<wxTextEntry*>(&field))
        text->SelectAll();
}

}  // namespace frm
