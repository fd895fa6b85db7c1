#include "gui/number_field.h"

#include <wx/bookctrl.h>

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

void showRefusedField(fb::NumberSpin& field) {
    for (wxWindow* page = &field; page != nullptr && page->GetParent() != nullptr; page = page->GetParent()) {
        auto* book = dynamic_cast<wxBookCtrlBase*>(page->GetParent());
        if (book == nullptr) continue;
        const int index = book->FindPage(page);
        if (index != wxNOT_FOUND && book->GetSelection() != index)
            book->SetSelection(static_cast<std::size_t>(index));
    }
    field.SetFocus();
    field.SetSelection(-1, -1);
}

}  // namespace frm
