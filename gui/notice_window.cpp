#include "gui/notice_window.h"

#include <wx/datetime.h>
#include <wx/weakref.h>

#include "gui/gui_thread.h"

namespace frm {

namespace {

wxWeakRef<wxWindow>& owner() {
    static wxWeakRef<wxWindow> window;
    return window;
}

wxWeakRef<NoticeWindow>& instance() {
    static wxWeakRef<NoticeWindow> window;
    return window;
}

}  // namespace

NoticeWindow::NoticeWindow(wxWindow* owner) : fb::NoticeWindow(owner) {}

void NoticeWindow::setOwner(wxWindow* window) {
    FRM_ASSERT_GUI_THREAD();
    owner() = window;
    NoticeWindow* open = instance();
    if (open != nullptr && window != nullptr && open->GetParent() != window) {
        instance() = nullptr;
        open->Destroy();
    }
}

NoticeWindow* NoticeWindow::current() {
    FRM_ASSERT_GUI_THREAD();
    NoticeWindow* open = instance();
    return open != nullptr && !open->IsBeingDeleted() ? open : nullptr;
}

void NoticeWindow::add(const wxString& caption, const wxString& text) {
    FRM_ASSERT_GUI_THREAD();
    NoticeWindow* window = current();
    if (window == nullptr) {
        window = new NoticeWindow(owner());
        instance() = window;
    }
    window->m_notices.add(wxDateTime::Now().Format(L"%H:%M:%S").ToStdWstring(), caption.ToStdWstring(),
                          text.ToStdWstring());
    window->showNotices();
    if (!window->IsShown()) window->ShowWithoutActivating();
}

void NoticeWindow::countRepeat(const wxString& caption, const wxString& text) {
    FRM_ASSERT_GUI_THREAD();
    NoticeWindow* window = current();
    if (window == nullptr || !window->IsShown()) return;
    if (window->m_notices.countRepeat(caption.ToStdWstring(), text.ToStdWstring())) window->showNotices();
}

void NoticeWindow::showNotices() {
    FRM_ASSERT_GUI_THREAD();
    // The title is the newest notice's caption, as a box of it would have.
    if (!m_notices.empty()) SetTitle(m_notices.entries().back().caption);
    messages->ChangeValue(m_notices.text());
    messages->ShowPosition(messages->GetLastPosition());  // the newest in sight
}

void NoticeWindow::dismiss() {
    FRM_ASSERT_GUI_THREAD();
    m_notices.clear();
    messages->ChangeValue(wxEmptyString);
    Hide();
}

void NoticeWindow::okOnButtonClick(wxCommandEvent&) { dismiss(); }

void NoticeWindow::onClose(wxCloseEvent& event) {
    // Closed by the window manager: hidden like "OK". When the owner goes it
    // cannot veto, and the window goes along.
    if (!event.CanVeto()) {
        event.Skip();
        return;
    }
    event.Veto();
    dismiss();
}

}  // namespace frm
