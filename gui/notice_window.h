#pragma once

#include <wx/string.h>

#include "gui/layout/notice_window.h"
#include "gui/notice_list.h"

namespace frm {

/// The one window of the log's notices: not modal, so the main window keeps
/// every click and key while it is shown. It lists the notices the operator
/// has not closed yet, with the time each came and its caption, newest last
/// (whose caption is also the window's title);
/// a notice already listed is counted there (NoticeList). "OK" or closing
/// the window empties the list and hides it; the next notice shows it again.
/// It belongs to the owner set with setOwner (the main window) and goes
/// with it. GUI thread only.
class NoticeWindow : public fb::NoticeWindow {
public:
    /// The window the notice window belongs to (forgotten when it goes);
    /// without one the window is built without a parent. A window built for
    /// another owner goes.
    static void setOwner(wxWindow* owner);
    /// Lists a notice, building the window on the first one; a hidden window
    /// is shown without taking the focus from the window the operator uses.
    static void add(const wxString& caption, const wxString& text);
    /// Counts a repeat on a listed notice; nothing when it is not listed.
    static void countRepeat(const wxString& caption, const wxString& text);
    /// The window while it exists (shown or hidden), else null.
    static NoticeWindow* current();

    const NoticeList& notices() const { return m_notices; }

private:
    explicit NoticeWindow(wxWindow* owner);

    void okOnButtonClick(wxCommandEvent& event) override;
    void onClose(wxCloseEvent& event) override;
    void dismiss();
    void showNotices();

    NoticeList m_notices;
};

}  // namespace frm
