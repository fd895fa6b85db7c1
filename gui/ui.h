#pragma once

#include <wx/dialog.h>
#include <wx/string.h>

#include <functional>
#include <memory>
#include <string>

// The operator dialogue of the whole program: every message box, question,
// text or password prompt, file or folder chooser and every modal dialog of
// ours is shown through these functions, on the GUI thread only. The log's
// notices are the exception to modality: they go to the notice window
// (gui/notice_window.h), which never takes the main window's input.
//
// Boxes are wx dialogs (wxGenericMessageDialog, never the native GTK box),
// so that a stop request or a test can end them. Everything open is kept on
// one stack; cancelAll() ends each open one with No or Cancel, innermost
// first. The presenter behind the functions is replaceable: the program
// installs the real one (scripted by SONVAR_TEST_ANSWERS / SONVAR_TEST_BOXES
// when those are set, for the end-to-end tests), unit tests a scripted
// answerer that fails the test on a box it did not expect.
namespace frm {
namespace ui {

/// One message box as a presenter sees it. `style` holds the wx flags
/// (wxOK, wxYES_NO, wxCANCEL, wxNO_DEFAULT, wxICON_*, wxCENTRE).
struct Box {
    wxString caption;
    wxString text;
    long style = 0;
    wxWindow* keepClear = nullptr;  // a notice's: the window it must not cover
};

/// Shows a box and returns the button pressed: wxID_OK, wxID_YES, wxID_NO or
/// wxID_CANCEL. Every box is logged at DEBUG. No parent unless given.
int messageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent = nullptr);

/// Yes/No question; true only for Yes (closing the box counts as No).
bool askYesNo(const wxString& text, const wxString& caption, long extraStyle = 0, wxWindow* parent = nullptr);

/// Shows one of our modal dialogs (built by the caller for one use) and
/// returns ShowModal's result; the dialog is on the stack while it is open.
int showModal(wxDialog& dialog);

/// A one-line text prompt (password: hidden characters). True on OK with
/// the text in `value`; false on Cancel, `value` unchanged.
bool askText(const wxString& message, const wxString& caption, wxString& value, bool password = false,
             wxWindow* parent = nullptr);

/// File chooser. `wildcard` as wx takes it ("MP3 (*.mp3)|*.mp3"); each
/// "*.ext" pattern gains its upper-case form (GTK's patterns are
/// case-sensitive). The process's current folder never changes. Empty on
/// Cancel; `multiple` gives every chosen path in `paths`.
wxString chooseFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                    const wxString& wildcard, bool save = false);
bool chooseFiles(wxWindow* parent, const wxString& message, const wxString& defaultDir, const wxString& wildcard,
                 wxArrayString& paths);
/// Save chooser that proposes `defaultName` and asks before an existing
/// file is replaced; patterns as chooseFile. Empty on Cancel.
wxString chooseSaveFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                        const wxString& defaultName, const wxString& wildcard);
/// Folder chooser; empty on Cancel.
wxString chooseDirectory(wxWindow* parent, const wxString& message, const wxString& defaultDir);

/// Shows a notice of the log (caption: the level's name as the operator
/// reads it; `style` as a box's) without a modal loop and returns at once.
/// `keepClear`: a window the notice must not cover (the field whose text it
/// refuses).
void notice(const wxString& text, const wxString& caption, long style, wxWindow* keepClear = nullptr);
/// A repeat of a notice that the log's repeat filter held back: counted on
/// the listed notice, if it is still listed.
void noticeRepeated(const wxString& text, const wxString& caption);
/// Makes the log's notifier present through notice() and noticeRepeated().
void presentLogNotices();

/// How many boxes and dialogs are open now (notices are none of them).
int openCount();
/// Ends every open box and dialog, innermost first, answering No where the
/// box has it, else Cancel (OK for a box with OK only); call it from the
/// event loop (a queued call), which runs inside the innermost one. Returns
/// how many it newly ended. They close as their ShowModal calls return, one
/// after the other, and code after a ShowModal may open another box, so
/// callers that must see everything gone check openCount later and call
/// again.
int cancelAll();
/// A stop of the whole program: cancelAll, and every box or dialog opened
/// from now on (a task queued before the stop, a question of the shutdown)
/// ends at once with the answer cancelAll would give it. False lifts it.
void cancelFromNowOn(bool on);

/// What actually shows things. The default presenter shows real dialogs;
/// replacing it (tests) changes every function above.
class Presenter {
public:
    virtual ~Presenter() = default;
    virtual int messageBox(const Box& box, wxWindow* parent) = 0;
    virtual int showModal(wxDialog& dialog) = 0;
    virtual bool askText(const wxString& message, const wxString& caption, wxString& value, bool password,
                         wxWindow* parent) = 0;
    /// Empty result: cancelled. `multiple`: several paths, joined by '\n'.
    virtual wxString chooseFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                                const wxString& wildcard, bool save, bool multiple) = 0;
    virtual wxString chooseDirectory(wxWindow* parent, const wxString& message, const wxString& defaultDir) = 0;
    /// A notice: the notice window unless a presenter records it instead.
    virtual void notice(const Box& box);
    virtual void noticeRepeated(const Box& box);
    /// The save chooser with a proposed name; a presenter that does not
    /// care for the name answers it as chooseFile in save mode.
    virtual wxString chooseSaveFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                                    const wxString& defaultName, const wxString& wildcard) {
        (void)defaultName;
        return chooseFile(parent, message, defaultDir, wildcard, true, false);
    }
};

/// Installs a presenter and returns the one before; null restores the real one.
std::unique_ptr<Presenter> setPresenter(std::unique_ptr<Presenter> presenter);

/// The program's presenter: real dialogs, answered from the file named by
/// SONVAR_TEST_ANSWERS ("caption<TAB>button label" per line) where a caption
/// matches, each box appended to the file named by SONVAR_TEST_BOXES
/// ("caption<TAB>text with line breaks as \n<TAB>answer"; a notice as
/// answered "OK" when it is listed). Also makes the log's notices present
/// through it (presentLogNotices). Called once at start-up.
void installProgramPresenter();

}  // namespace ui
}  // namespace frm
