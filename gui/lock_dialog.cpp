#include "gui/lock_dialog.h"

#include <string>

#include "base/log.h"
#include "base/password.h"
#include "base/pref.h"

namespace frm {

namespace {

/// The stored form of the unlock password, created with the default when the
/// settings have none.
std::wstring storedInterfacePassword() {
    const char* const key = "security.interface";
    pref::Guard guard(g_pref);
    if (pref::find(g_pref, key, pref::Type::TypeString) == nullptr)
        pref::setString(key, defaultStoredPassword);
    return pref::getString(key);
}

}  // namespace

LockDialog::LockDialog(wxWindow* parent, const wxString& title, const wxPoint& pos, const wxSize& size)
    : fb::LockDialog(parent, wxID_ANY, title, pos, size, 0) {
    // No Cancel button to press for Esc, and no fallback to closing either.
    SetEscapeId(wxID_NONE);
}

void LockDialog::OnClose(wxCloseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::LockDialog::OnClose");
    // A close that cannot be refused (the session ends) takes the toolkit's
    // way out, which ends the dialog with Cancel.
    if (event.CanVeto())
        event.Veto();
    else
        event.Skip();
}

void LockDialog::unlockOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::LockDialog::unlockOnButtonClick");
    if (password->GetValue().ToStdWstring() == decodePassword(storedInterfacePassword())) {
        LOG_INFO(L"Пароль введен верный. Интерфейс разблокирован.");
        EndDialog(wxID_OK);  // shown modeless (a scripted test), it hides
        return;
    }
    message->SetLabel(L"Допущена ошибка при вводе пароля");
    LOG_INFO(L"Допущена ошибка при вводе пароля. Нет доступа к интерфейсу.");
    Layout();
}

}  // namespace frm
