#pragma once

#include <wx/string.h>

#include <vector>

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
/// with it.
///
/// While a modal dialog runs, the toolkit gives input to that dialog alone,
/// so a notice that opens then could not be closed: it opens beside the
/// open dialogs instead, never over them, and takes the input from them
/// until it is closed ("OK" or Return), without a modal loop of its
/// own; the dialog has its input back after that. Where the screen has no
/// room beside the dialogs, the notice waits, listed, until they close.
/// Once the last dialog has closed, the window never holds the input of
/// another window. GUI thread only.
class NoticeWindow : public fb::NoticeWindow {
public:
    /// The window the notice window belongs to (forgotten when it goes);
    /// without one the window is built without a parent. A window built for
    /// another owner goes.
    static void setOwner(wxWindow* owner);
    /// Lists a notice, building the window on the first one; a hidden window
    /// is shown without taking the focus from the window the operator uses.
    /// With `keepClear` (a field whose text the notice refuses) and no dialog
    /// running, a window shown anew opens beside the field, and one already
    /// shown moves there when it covers the field.
    static void add(const wxString& caption, const wxString& text, wxWindow* keepClear = nullptr);
    /// Counts a repeat on a listed notice; nothing when it is not listed.
    static void countRepeat(const wxString& caption, const wxString& text);
    /// The window while it exists (shown or hidden), else null.
    static NoticeWindow* current();
    /// The modal dialogs open now, innermost last; frm::ui tells it each
    /// time one opens or closes. Each stays alive while it is listed.
    static void setOpenDialogs(std::vector<wxWindow*> dialogs);

    const NoticeList& notices() const { return m_notices; }

private:
    explicit NoticeWindow(wxWindow* owner);

    void okOnButtonClick(wxCommandEvent& event) override;
    void onClose(wxCloseEvent& event) override;
    void dismiss();
    void showNotices();
    /// Brings the listed notices before the operator: beside the open
    /// dialogs with their input while any runs, else as an ordinary window.
    void present();
    /// Makes the window hold the input while it is shown (on top of the
    /// running dialogs'), or release it; false when the toolkit cannot.
    bool holdInput(bool hold);
    /// Moves the shown window beside `window`: when it was shown `anew`, or
    /// covers it.
    void placeBy(const wxWindow& window, bool anew);

    NoticeList m_notices;
    bool m_holdsInput = false;
    bool m_waiting = false;  // notices listed but held back by the open dialogs
};

}  // namespace frm
