#include "gui/cmd_suite_dialog.h"

#include "base/log.h"
#include "gui/gui_thread.h"
#include "gui/ui.h"
#include "os/data_directory.h"

namespace frm {

CmdSuiteDialog::CmdSuiteDialog(wxWindow* parent, ClearCallback clear, ApplyCallback apply,
                               CollectCallback collect, const std::wstring& folder)
    : fb::CmdSuiteDialog(parent, wxID_ANY, L"Управление набором команд", wxDefaultPosition, wxSize(636, 147),
                         wxDEFAULT_DIALOG_STYLE),
      m_folder(folder),
      m_clear(std::move(clear)),
      m_apply(std::move(apply)),
      m_collect(std::move(collect)) {
    fillList();
}

std::wstring CmdSuiteDialog::suiteFolder() { return os::getUserDataDirectory() + L"/commands"; }

void CmdSuiteDialog::clearOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::CmdSuiteDialog::clearOnButtonClick");
    m_clear();
}

void CmdSuiteDialog::deleteOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::CmdSuiteDialog::deleteOnButtonClick");
    std::wstring suite;
    if (!takeName(suite)) return;
    m_folder.remove(suite);
    fillList();
}

void CmdSuiteDialog::applyOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::CmdSuiteDialog::applyOnButtonClick");
    std::wstring suite;
    if (!takeName(suite)) return;
    m_apply(m_folder.read(suite));
}

void CmdSuiteDialog::saveOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::CmdSuiteDialog::saveOnButtonClick");
    std::wstring suite;
    if (!takeName(suite)) return;
    const std::vector<std::wstring> lines = m_collect();
    if (!m_folder.exists(suite)) {
        if (!write(suite, lines)) return;
        name->Append(suite);
        name->ChangeValue(wxEmptyString);
        return;
    }
    if (ui::askYesNo(L"Данное имя уже используется. Перезаписать?", L"Внимание!", wxICON_WARNING))
        write(suite, lines);
}

bool CmdSuiteDialog::takeName(std::wstring& suite) {
    FRM_ASSERT_GUI_THREAD();
    suite = name->GetValue().ToStdWstring();
    if (CommandSuiteFolder::isValidName(suite)) return true;
    LOG_NOTICE(L"Недопустимое имя набора команд");
    return false;
}

void CmdSuiteDialog::fillList() {
    FRM_ASSERT_GUI_THREAD();
    wxArrayString items;
    for (const std::wstring& suite : m_folder.names()) items.Add(suite);
    name->Set(items);
}

bool CmdSuiteDialog::write(const std::wstring& suite, const std::vector<std::wstring>& lines) {
    std::wstring error;
    if (m_folder.write(suite, lines, error)) return true;
    LOG_ERROR(L"Не удалось сохранить набор команд '%1%': %2%", m_folder.path(suite), error);
    return false;
}

}  // namespace frm
