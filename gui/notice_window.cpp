#include "gui/notice_window.h"

#include <dlfcn.h>
#include <wx/datetime.h>
#include <wx/display.h>
#include <wx/weakref.h>

#include <algorithm>
#include <optional>

#include "base/log.h"
#include "gui/gui_thread.h"
#include "gui/notice_placement.h"

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

std::vector<wxWindow*>& openDialogs() {
    static std::vector<wxWindow*> dialogs;
    return dialogs;
}

/// The pixels between the notice window and the dialogs it keeps clear of.
constexpr int kGapToDialogs = 8;

/// The toolkit's modal switch of a top-level window (GTK 3, which wx is
/// built on here): a shown window so marked holds the input grab on top of
/// the running modal dialogs' grabs, without a modal loop; marked again, it
/// moves on top. wx offers no call for it, and the program is built without
/// the toolkit's headers, so the function is taken from the toolkit library
/// that wx has loaded. False when there is none.
bool setToolkitModal(wxWindow& window, bool modal) {
    using SetModal = void (*)(void* gtkWindow, int modal);
    static const SetModal setModal = reinterpret_cast<SetModal>(dlsym(RTLD_DEFAULT, "gtk_window_set_modal"));
    if (setModal == nullptr) return false;
    setModal(window.GetHandle(), modal ? 1 : 0);
    return true;
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

void NoticeWindow::add(const wxString& caption, const wxString& text, wxWindow* keepClear) {
    FRM_ASSERT_GUI_THREAD();
    NoticeWindow* window = current();
    if (window == nullptr) {
        window = new NoticeWindow(owner());
        instance() = window;
    }
    const bool shownBefore = window->IsShown();
    window->m_notices.add(wxDateTime::Now().Format(L"%H:%M:%S").ToStdWstring(), caption.ToStdWstring(),
                          text.ToStdWstring());
    window->showNotices();
    window->present();
    if (keepClear != nullptr) window->placeBy(*keepClear, !shownBefore);
}

void NoticeWindow::countRepeat(const wxString& caption, const wxString& text) {
    FRM_ASSERT_GUI_THREAD();
    NoticeWindow* window = current();
    if (window == nullptr || (!window->IsShown() && !window->m_waiting)) return;
    if (!window->m_notices.countRepeat(caption.ToStdWstring(), text.ToStdWstring())) return;
    window->showNotices();
    window->present();
}

void NoticeWindow::setOpenDialogs(std::vector<wxWindow*> dialogs) {
    FRM_ASSERT_GUI_THREAD();
    openDialogs() = std::move(dialogs);
    NoticeWindow* window = current();
    if (window == nullptr) return;
    // The grab of a dialog that closed went with it; the window's own stays
    // on top of those left, and goes with the last of them.
    if (openDialogs().empty()) window->holdInput(false);
    if (window->m_waiting) window->present();
}

void NoticeWindow::present() {
    FRM_ASSERT_GUI_THREAD();
    m_waiting = false;
    std::vector<wxRect> dialogs;
    for (wxWindow* dialog : openDialogs())
        if (dialog->IsShown()) dialogs.push_back(dialog->GetScreenRect());
    if (openDialogs().empty()) {
        if (!IsShown()) ShowWithoutActivating();
        return;
    }
    const int display = dialogs.empty() ? wxNOT_FOUND : wxDisplay::GetFromWindow(openDialogs().back());
    const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    const std::optional<wxRect> place = placeBeside(area, dialogs, GetSize(), GetMinSize(), kGapToDialogs);
    if (!place || !holdInput(true)) {
        // Shown before the dialogs opened, it stays where it is, under them.
        if (!IsShown()) m_waiting = true;
        return;
    }
    const wxRect now = GetScreenRect();
    const bool overDialog =
        std::any_of(dialogs.begin(), dialogs.end(), [&now](const wxRect& dialog) { return now.Intersects(dialog); });
    if (!IsShown() || overDialog) SetSize(*place);
    // Not activated: the keys reach it through its grab, and the dialog
    // keeps its focus for when the notice is closed.
    if (!IsShown()) ShowWithoutActivating();
}

void NoticeWindow::placeBy(const wxWindow& window, bool anew) {
    // Beside running dialogs it is clear of whatever they hold already.
    if (!IsShown() || !openDialogs().empty()) return;
    const wxRect covered = window.GetScreenRect();
    if (!anew && !GetScreenRect().Intersects(covered)) return;
    const int display = wxDisplay::GetFromWindow(&window);
    const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    if (const std::optional<wxRect> place = placeBeside(area, {covered}, GetSize(), GetMinSize(), kGapToDialogs))
        SetSize(*place);
}

bool NoticeWindow::holdInput(bool hold) {
    if (!hold && !m_holdsInput) return true;
    // Marked again, the grab moves on top of those the dialogs took since.
    if (m_holdsInput) setToolkitModal(*this, false);
    m_holdsInput = hold && setToolkitModal(*this, true);
    if (hold && !m_holdsInput)
        LOG_DEBUG(L"%1%", L"the toolkit cannot give the notice window the input over a modal dialog");
    return m_holdsInput == hold;
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
    m_waiting = false;
    Hide();
    holdInput(false);
    // The keys go back to the dialog the operator works in, wherever the
    // pointer is.
    if (!openDialogs().empty()) openDialogs().back()->Raise();
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
