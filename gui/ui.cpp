#include "gui/ui.h"

#include <fcntl.h>
#include <unistd.h>
#include <wx/dcscreen.h>
#include <wx/dirdlg.h>
#include <wx/display.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>  // wxGenericMessageDialog
#include <wx/settings.h>
#include <wx/textdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/log.h"
#include "base/wx/log_setup.h"
#include "gui/gui_thread.h"
#include "gui/notice_window.h"
#include "gui/ui_text.h"

namespace frm {
namespace ui {

namespace {

/// One dialog whose ShowModal is running, with the answer that ends it.
struct OpenDialog {
    wxDialog* dialog;
    int cancelAnswer;
    bool cancelled;  // to be ended, or ended, by cancelAll
};

/// What is open now, outermost first. GUI thread only.
std::vector<OpenDialog>& openDialogs() {
    static std::vector<OpenDialog> dialogs;
    return dialogs;
}

/// Tells the notice window what is open now.
void tellNotices() {
    std::vector<wxWindow*> windows;
    for (const OpenDialog& open : openDialogs()) windows.push_back(open.dialog);
    NoticeWindow::setOpenDialogs(std::move(windows));
}

void end(const OpenDialog& open) {
    LOG_DEBUG(L"\"%1%\" ended: %2%", open.dialog->GetTitle().ToStdWstring(), answerLabel(open.cancelAnswer));
    open.dialog->EndModal(open.cancelAnswer);
}

/// Set once the program is being stopped from outside: nobody is left to
/// answer, so a box or dialog opened from then on is ended at once.
bool& stopping() {
    static bool value = false;
    return value;
}

/// Runs a dialog's ShowModal with the dialog on the stack. A dialog can only
/// end its own modal loop while that loop is the innermost one (the toolkit
/// ignores EndModal's loop exit otherwise), so cancelAll ends the innermost
/// dialog and each one that closes ends the cancelled one around it.
int showOnStack(wxDialog& dialog, int cancelAnswer) {
    if (stopping()) {
        LOG_DEBUG(L"\"%1%\" not shown, the program stops: %2%", dialog.GetTitle().ToStdWstring(),
                  answerLabel(cancelAnswer));
        return cancelAnswer;
    }
    openDialogs().push_back({&dialog, cancelAnswer, false});
    tellNotices();
    struct Pop {
        wxDialog* dialog;
        ~Pop() {
            auto& dialogs = openDialogs();
            dialogs.erase(std::remove_if(dialogs.begin(), dialogs.end(),
                                         [this](const OpenDialog& open) { return open.dialog == dialog; }),
                          dialogs.end());
            tellNotices();
            if (!dialogs.empty() && dialogs.back().cancelled && dialogs.back().dialog->IsModal())
                end(dialogs.back());
        }
    } pop{&dialog};
    return dialog.ShowModal();
}

/// The widest a box's text may be: 60 % of the display the box appears on.
int boxTextWidth(wxWindow* parent) {
    const int index = parent != nullptr ? wxDisplay::GetFromWindow(parent) : wxNOT_FOUND;
    const wxRect area = wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index)).GetClientArea();
    return std::max(200, area.GetWidth() * 6 / 10);
}

/// Appends one line with a single write, so that lines of several processes
/// appending to the same file never mix.
void appendLine(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "cannot append to the boxes file %s\n", path.c_str());
        return;
    }
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        std::fprintf(stderr, "cannot append to the boxes file %s\n", path.c_str());
    ::close(fd);
}

std::string fileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) std::fprintf(stderr, "cannot read the answers file %s\n", path.c_str());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Real dialogs; boxes whose caption is scripted are answered at once, and
/// every box is written to the boxes file when there is one.
class RealPresenter : public Presenter {
public:
    RealPresenter(ScriptedAnswers answers, std::string boxesFile)
        : m_answers(std::move(answers)), m_boxesFile(std::move(boxesFile)) {}

    int messageBox(const Box& box, wxWindow* parent) override {
        const std::vector<int> offered = boxAnswers(box.style);
        int answer = wxID_NONE;
        const auto scripted = m_answers.find(box.caption.ToStdWstring());
        if (scripted != m_answers.end()) {
            answer = answerOfLabel(scripted->second);
        } else {
            // The toolkit's box keeps each line whole however long it is: a
            // path could run off the screen.
            wxScreenDC measure;
            measure.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
            const std::wstring wrapped = wrapText(
                box.text.ToStdWstring(), boxTextWidth(parent),
                [&measure](const std::wstring& line) { return measure.GetTextExtent(line).GetWidth(); });
            wxGenericMessageDialog dialog(parent, wrapped, box.caption, box.style);
            // Our own labels: the toolkit's catalogue may be missing.
            const auto label = [](int answer) { return wxString(answerLabel(answer)); };
            dialog.SetYesNoCancelLabels(label(wxID_YES), label(wxID_NO), label(wxID_CANCEL));
            dialog.SetOKLabel(label(wxID_OK));
            // Closing a Yes/No box answers No.
            if ((box.style & wxYES_NO) && !(box.style & wxCANCEL)) dialog.SetEscapeId(wxID_NO);
            answer = showOnStack(dialog, cancelAnswer(box.style));
        }
        // A close, or a scripted label the box does not show, ends it undecided.
        if (std::find(offered.begin(), offered.end(), answer) == offered.end())
            answer = cancelAnswer(box.style);
        if (!m_boxesFile.empty())
            appendLine(m_boxesFile,
                       boxLine(box.caption.ToStdWstring(), box.text.ToStdWstring(), answerLabel(answer)));
        return answer;
    }

    int showModal(wxDialog& dialog) override { return showOnStack(dialog, wxID_CANCEL); }

    void notice(const Box& box) override {
        Presenter::notice(box);
        if (!m_boxesFile.empty())
            appendLine(m_boxesFile,
                       boxLine(box.caption.ToStdWstring(), box.text.ToStdWstring(), answerLabel(wxID_OK)));
    }

    bool askText(const wxString& message, const wxString& caption, wxString& value, bool password,
                 wxWindow* parent) override {
        wxTextEntryDialog dialog(parent, message, caption, value,
                                 wxTextEntryDialogStyle | (password ? wxTE_PASSWORD : 0));
        // Return answers at once. Left to the toolkit, it presses the default
        // button, which shows itself pressed for a quarter of a second before
        // it answers: the alarm buttons' password held their notice so long.
        dialog.Bind(wxEVT_CHAR_HOOK, [&dialog](wxKeyEvent& key) {
            const int code = key.GetKeyCode();
            if ((code == WXK_RETURN || code == WXK_NUMPAD_ENTER) && !key.HasAnyModifiers() && dialog.IsModal() &&
                dialog.Validate() && dialog.TransferDataFromWindow()) {
                dialog.EndModal(wxID_OK);
                return;
            }
            key.Skip();
        });
        if (showOnStack(dialog, wxID_CANCEL) != wxID_OK) return false;
        value = dialog.GetValue();
        return true;
    }

    wxString chooseFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                        const wxString& wildcard, bool save, bool multiple) override {
        // Never wxFD_CHANGE_DIR: a current folder on a removable medium would
        // keep it from being unmounted.
        long style = save ? wxFD_SAVE : wxFD_OPEN | wxFD_FILE_MUST_EXIST;
        if (multiple) style |= wxFD_MULTIPLE;
        wxFileDialog dialog(parent, message, defaultDir, wxEmptyString,
                            withUpperCasePatterns(wildcard.ToStdWstring()), style);
        if (showOnStack(dialog, wxID_CANCEL) != wxID_OK) return {};
        if (!multiple) return dialog.GetPath();
        wxArrayString paths;
        dialog.GetPaths(paths);
        return wxJoin(paths, '\n', '\0');
    }

    wxString chooseSaveFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                            const wxString& defaultName, const wxString& wildcard) override {
        wxFileDialog dialog(parent, message, defaultDir, defaultName,
                            withUpperCasePatterns(wildcard.ToStdWstring()),
                            wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (showOnStack(dialog, wxID_CANCEL) != wxID_OK) return {};
        return dialog.GetPath();
    }

    wxString chooseDirectory(wxWindow* parent, const wxString& message, const wxString& defaultDir) override {
        wxDirDialog dialog(parent, message, defaultDir, wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
        if (showOnStack(dialog, wxID_CANCEL) != wxID_OK) return {};
        return dialog.GetPath();
    }

private:
    const ScriptedAnswers m_answers;
    const std::string m_boxesFile;
};

std::unique_ptr<Presenter>& presenter() {
    static std::unique_ptr<Presenter> current =
        std::make_unique<RealPresenter>(ScriptedAnswers(), std::string());
    return current;
}

}  // namespace

void Presenter::notice(const Box& box) { NoticeWindow::add(box.caption, box.text, box.keepClear); }

void Presenter::noticeRepeated(const Box& box) { NoticeWindow::countRepeat(box.caption, box.text); }

int messageBox(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
    FRM_ASSERT_GUI_THREAD();
    const int answer = presenter()->messageBox(Box{caption, text, style}, parent);
    LOG_DEBUG(L"\"%1%\": \"%2%\" answered %3%", caption.ToStdWstring(), text.ToStdWstring(),
              answerLabel(answer));
    return answer;
}

bool askYesNo(const wxString& text, const wxString& caption, long extraStyle, wxWindow* parent) {
    return messageBox(text, caption, wxYES_NO | extraStyle, parent) == wxID_YES;
}

int showModal(wxDialog& dialog) {
    FRM_ASSERT_GUI_THREAD();
    return presenter()->showModal(dialog);
}

bool askText(const wxString& message, const wxString& caption, wxString& value, bool password,
             wxWindow* parent) {
    FRM_ASSERT_GUI_THREAD();
    return presenter()->askText(message, caption, value, password, parent);
}

wxString chooseFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                    const wxString& wildcard, bool save) {
    FRM_ASSERT_GUI_THREAD();
    return presenter()->chooseFile(parent, message, defaultDir, wildcard, save, false);
}

bool chooseFiles(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                 const wxString& wildcard, wxArrayString& paths) {
    FRM_ASSERT_GUI_THREAD();
    const wxString chosen = presenter()->chooseFile(parent, message, defaultDir, wildcard, false, true);
    paths = wxSplit(chosen, '\n', '\0');
    return !paths.empty();
}

wxString chooseSaveFile(wxWindow* parent, const wxString& message, const wxString& defaultDir,
                        const wxString& defaultName, const wxString& wildcard) {
    FRM_ASSERT_GUI_THREAD();
    return presenter()->chooseSaveFile(parent, message, defaultDir, defaultName, wildcard);
}

wxString chooseDirectory(wxWindow* parent, const wxString& message, const wxString& defaultDir) {
    FRM_ASSERT_GUI_THREAD();
    return presenter()->chooseDirectory(parent, message, defaultDir);
}

void notice(const wxString& text, const wxString& caption, long style, wxWindow* keepClear) {
    FRM_ASSERT_GUI_THREAD();
    presenter()->notice(Box{caption, text, style, keepClear});
}

void noticeRepeated(const wxString& text, const wxString& caption) {
    FRM_ASSERT_GUI_THREAD();
    presenter()->noticeRepeated(Box{caption, text, 0});
}

void presentLogNotices() {
    dbg_setMessagePresenter(
        [](const wxString& text, const wxString& caption, long style) { notice(text, caption, style); });
    dbg_setRepeatCounter([](const wxString& text, const wxString& caption) { noticeRepeated(text, caption); });
}

int openCount() {
    FRM_ASSERT_GUI_THREAD();
    return static_cast<int>(openDialogs().size());
}

void cancelFromNowOn(bool on) {
    FRM_ASSERT_GUI_THREAD();
    stopping() = on;
    if (on) cancelAll();
}

int cancelAll() {
    FRM_ASSERT_GUI_THREAD();
    auto& dialogs = openDialogs();
    if (dialogs.empty()) return 0;
    const bool endInnermost = !dialogs.back().cancelled && dialogs.back().dialog->IsModal();
    int cancelled = 0;
    for (OpenDialog& open : dialogs) {
        if (open.cancelled) continue;
        open.cancelled = true;
        ++cancelled;
    }
    if (endInnermost) end(dialogs.back());  // the others follow as each closes
    return cancelled;
}

std::unique_ptr<Presenter> setPresenter(std::unique_ptr<Presenter> replacement) {
    FRM_ASSERT_GUI_THREAD();
    std::unique_ptr<Presenter> previous = std::move(presenter());
    presenter() = replacement ? std::move(replacement)
                              : std::make_unique<RealPresenter>(ScriptedAnswers(), std::string());
    return previous;
}

void installProgramPresenter() {
    ScriptedAnswers answers;
    if (const char* path = std::getenv("SONVAR_TEST_ANSWERS")) answers = parseAnswers(fileContent(path));
    const char* boxes = std::getenv("SONVAR_TEST_BOXES");
    setPresenter(std::make_unique<RealPresenter>(std::move(answers), boxes != nullptr ? boxes : ""));
    presentLogNotices();
}

}  // namespace ui
}  // namespace frm
