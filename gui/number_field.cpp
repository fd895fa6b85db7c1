#include "gui/number_field.h"

#include <wx/bookctrl.h>
#include <wx/textentry.h>

#include "base/log.h"
#include "gui/ui.h"

namespace frm {

const wchar_t* const kRefusalCaption = L"Внимание";

std::optional<int> takeNumber(fb::NumberSpin& field, const std::wstring& name) {
    const base::NumberText read = field.read();
    if (read.kind == base::NumberText::Number) return read.value;
    refuseTypedText(base::numberTextRefusal(name, field.typedText(), read, field.GetMin(), field.GetMax()), field);
    return std::nullopt;
}

void refuseTypedText(const std::wstring& refusal, wxWindow& field) {
    showRefusedField(field);
    // The log's own notice would come later, through the invoker, and cut a
    // long text; this one is shown now, beside the field.
    LOG_WITHOUT_NOTICE(base::Log::WARN, refusal);
    ui::notice(refusal, kRefusalCaption, wxOK | wxICON_WARNING, &field);
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
