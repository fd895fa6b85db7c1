#include "gui/fragment_dialog.h"

#include <wx/filefn.h>
#include <wx/filename.h>

#include "base/log.h"
#include "gui/end_dialog.h"
#include "gui/gui_thread.h"
#include "gui/ui.h"

namespace frm {

FragmentDialog::FragmentDialog(wxWindow* parent, std::wstring& name, std::wstring& path)
    : fb::FragmentDialog(parent, wxID_ANY, L"Добавить фрагмент", wxDefaultPosition, wxSize(418, 195),
                         wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_name(name),
      m_path(path) {
    this->name->SetValue(name);
    filePath->SetValue(path);
}

void FragmentDialog::fileOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::FragmentDialog::fileOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const wxString chosen =
        ui::chooseFile(this, L"Добавить аудио файл", wxEmptyString, L"MPEG Layer3 Files (*.mp3)|*.mp3");
    if (chosen.empty()) return;
    filePath->SetValue(chosen);
    if (name->GetValue().empty()) {
        wxString stem = wxFileName(chosen).GetName();
        name->SetValue(stem.Trim(true).Trim(false));
    }
}

void FragmentDialog::saveOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::FragmentDialog::saveOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const wxString path = filePath->GetValue();
    if (!wxFileExists(path)) {
        ui::messageBox(wxString::Format(L"Файл \"%s\" не существует.\t", path), L"Ошибка",
                       wxOK | wxICON_ERROR);
        return;
    }
    m_name = name->GetValue().ToStdWstring();
    m_path = path.ToStdWstring();
    endDialog(*this, wxID_OK);
}

void FragmentDialog::cancelOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::FragmentDialog::cancelOnButtonClick");
    endDialog(*this, wxID_CANCEL);
}

}  // namespace frm
