// ctest-labels: input
// The log's notices while one of our modal dialogs runs, with real windows
// and real input (XTest).
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/panel.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <thread>

#include "base/wx/log_setup.h"
#include "gui/notice_window.h"
#include "gui/ui.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/dialog_support.h"

namespace {

using wx_testing::runEventLoopUntil;

frm::NoticeWindow* notice() { return frm::NoticeWindow::current(); }
bool noticeShown() { return notice() != nullptr && notice()->IsShown(); }

/// An ERROR record observed on a worker thread, numbered past the log's
/// repeat filter; true when its notice, once listed, is shown.
bool logError() {
    static int number = 0;
    const std::wstring text = L"Ошибка при вводе ip адреса " + std::to_wstring(++number);
    std::thread([text] { dbg_notify({}, L"ERROR", text); }).join();
    const auto listed = [&text] {
        return notice() != nullptr && !notice()->notices().empty() && notice()->notices().entries().back().text == text;
    };
    return runEventLoopUntil(listed) && noticeShown();
}

void click(wxUIActionSimulator& input, wxWindow* window) {
    const wxRect on = window->GetScreenRect();
    input.MouseMove(on.GetLeft() + on.GetWidth() / 2, on.GetTop() + on.GetHeight() / 2);
    input.MouseClick();
}

/// Shows the dialog modally, runs `script` inside it and ends it.
void showWhile(wxDialog& dialog, const std::function<void()>& script) {
    dialog.CallAfter([&dialog, script] {
        if (runEventLoopUntil([&dialog] { return dialog.IsShownOnScreen(); })) script();
        dialog.EndModal(wxID_OK);
    });
    frm::ui::showModal(dialog);
}

}  // namespace

TEST(NoticeOverDialog, ANoticeOverARunningDialogIsBesideItAndClosedAtOnceByOkOrReturn) {
    frm::ui::installProgramPresenter();
    auto* main = new wx_testing::TaskWindow;  // routes the invoker's tasks
    main->SetSize(0, 0, 1060, 700);
    auto* stop = new wxButton(new wxPanel(main), wxID_ANY, L"Стоп", wxPoint(8, 8));
    int stops = 0;
    stop->Bind(wxEVT_BUTTON, [&stops](wxCommandEvent&) { ++stops; });
    main->Show();
    frm::NoticeWindow::setOwner(main);
    GuiThreadInvoker::createInstance(main);
    wxDialog& dialog = *new wxDialog(main, wxID_ANY, L"Настройки", wxDefaultPosition, wxSize(700, 560));
    auto* field = new wxTextCtrl(&dialog, wxID_ANY, L"", wxPoint(8, 8));
    auto* save = new wxButton(&dialog, wxID_ANY, L"Сохранить", wxPoint(8, 500));
    save->SetDefault();
    int saves = 0;
    save->Bind(wxEVT_BUTTON, [&saves](wxCommandEvent&) { ++saves; });
    dialog.CentreOnParent();
    wxUIActionSimulator input;
    const auto closeNotice = [&input] { click(input, dialog_testing::all<wxButton>(notice()).at(0)); };

    showWhile(dialog, [&] {
        ASSERT_TRUE(logError());
        EXPECT_FALSE(notice()->GetScreenRect().Intersects(dialog.GetScreenRect())) << "over the fields";
        closeNotice();
        EXPECT_TRUE(runEventLoopUntil([] { return !noticeShown(); })) << "its OK closes it";

        click(input, field);  // the operator works on; the keys go to the next notice
        EXPECT_TRUE(runEventLoopUntil([field] { return field->HasFocus(); })) << "the field is covered";
        ASSERT_TRUE(logError());
        input.Char(WXK_RETURN);
        EXPECT_TRUE(runEventLoopUntil([] { return !noticeShown(); })) << "Return closes it";
        EXPECT_EQ(saves, 0) << "Return pressed the dialog's default button";
        input.Char(WXK_RETURN);
        EXPECT_TRUE(runEventLoopUntil([&saves] { return saves == 1; })) << "the dialog has its keys back";
        EXPECT_TRUE(logError());  // still open when the dialog ends
    });
    click(input, stop);
    EXPECT_TRUE(runEventLoopUntil([&stops] { return stops == 1; })) << "the main window has its input back";
    ASSERT_TRUE(noticeShown());
    closeNotice();
    ASSERT_TRUE(runEventLoopUntil([] { return !noticeShown(); }));

    // No room beside a dialog: the notice waits for it.
    dialog.SetSize(0, 0, 1280, 1024);
    showWhile(dialog, [] { EXPECT_FALSE(logError()); });
    EXPECT_TRUE(runEventLoopUntil(noticeShown));

    wx_testing::closeInvokerAndWindow(main);
    frm::ui::setPresenter(nullptr);
    dbg_setMessagePresenter({});
    dbg_setRepeatCounter({});
}
