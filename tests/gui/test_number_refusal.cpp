// ctest-labels: input
// The one way a typed number is refused, with the program's presenter and
// real windows: a notice (no box of its own), captioned alike everywhere,
// the text quoted as typed, beside a running dialog or clear of the field in
// a window, the field's page shown and the field focused; a sign is taken.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/notebook.h>
#include <wx/panel.h>

#include <functional>
#include <optional>

#include "base/wx/log_setup.h"
#include "gui/number_field.h"
#include "gui/notice_window.h"
#include "gui/ui.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/typing.h"

namespace {

using wx_testing::runEventLoopUntil;

frm::NoticeWindow* notice() { return frm::NoticeWindow::current(); }
bool noticeShown() { return notice() != nullptr && notice()->IsShown(); }

/// The main window and the program's presenter, as the program has them.
class NumberRefusal : public ::testing::Test {
protected:
    void SetUp() override {
        frm::ui::installProgramPresenter();
        main = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1060, 700));
        main->Show();
        frm::NoticeWindow::setOwner(main);
    }
    void TearDown() override {
        main->Destroy();  // the notice window goes with it
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
        frm::ui::setPresenter(nullptr);
        dbg_setMessagePresenter({});
        dbg_setRepeatCounter({});
    }

    const frm::Notice& lastNotice() const { return notice()->notices().entries().back(); }

    wxFrame* main = nullptr;
};

/// Shows the dialog modally, runs `script` inside it and ends it.
void showWhile(wxDialog& dialog, const std::function<void()>& script) {
    dialog.CallAfter([&dialog, script] {
        if (runEventLoopUntil([&dialog] { return dialog.IsShownOnScreen(); })) script();
        dialog.EndModal(wxID_OK);
    });
    frm::ui::showModal(dialog);
}

frm::fb::NumberSpin* spin(wxWindow* parent, const wxPoint& at, int min, int max) {
    auto* made = new frm::fb::NumberSpin(parent, wxID_ANY, wxEmptyString, at, wxDefaultSize, wxSP_ARROW_KEYS, min,
                                         max, min);
    made->SetSize(made->GetBestSize());
    return made;
}

}  // namespace

TEST_F(NumberRefusal, InADialogItIsANoticeBesideItWithTheFieldsPageShownAndTheFieldFocused) {
    wxDialog& dialog = *new wxDialog(main, wxID_ANY, L"Настройки", wxDefaultPosition, wxSize(640, 480));
    auto* book = new wxNotebook(&dialog, wxID_ANY, wxPoint(0, 0), wxSize(640, 420));
    book->AddPage(new wxPanel(book), L"Расположение");
    auto* page = new wxPanel(book);
    book->AddPage(page, L"Сеть");
    frm::fb::NumberSpin* ttl = spin(page, wxPoint(8, 8), 1, 255);
    auto* save = new wxButton(&dialog, wxID_ANY, L"Сохранить", wxPoint(8, 436));
    std::optional<int> taken = 0;
    save->Bind(wxEVT_BUTTON,
               [&](wxCommandEvent&) { taken = frm::takeNumber(*ttl, L"Время жизни мультикаста (TTL)"); });
    dialog.CentreOnParent();

    showWhile(dialog, [&] {
        book->SetSelection(1);
        ASSERT_TRUE(typing_testing::typeOver(ttl, "-0"));
        book->SetSelection(0);  // the operator went on to another page
        typing_testing::click(save);
        ASSERT_TRUE(runEventLoopUntil(noticeShown));
        EXPECT_EQ(taken, std::nullopt);
        EXPECT_EQ(frm::ui::openCount(), 1) << "no box of its own: the dialog alone is modal";
        EXPECT_EQ(lastNotice().caption, L"Внимание");
        EXPECT_EQ(lastNotice().text, L"В поле \"Время жизни мультикаста (TTL)\" введено \"-0\": это число вне "
                                     L"допустимых пределов. Введите целое число от 1 до 255.");
        EXPECT_FALSE(notice()->GetScreenRect().Intersects(dialog.GetScreenRect())) << "over the fields";
        EXPECT_EQ(book->GetSelection(), 1) << "the field's page is shown";
        EXPECT_TRUE(runEventLoopUntil([ttl] { return ttl->HasFocus(); }));
        EXPECT_EQ(ttl->GetTextValue(), L"-0") << "kept to be mended";
        EXPECT_FALSE(wx_testing::writeScreenArea(main->GetScreenRect().Union(notice()->GetScreenRect()),
                                                 "number_refused_in_dialog")
                         .empty());

        // Return closes the notice; the dialog has its keys back, on the
        // field. A sign is a sign: "+5" is 5, taken without a word.
        wxUIActionSimulator().Char(WXK_RETURN);
        ASSERT_TRUE(runEventLoopUntil([] { return !noticeShown(); }));
        EXPECT_TRUE(runEventLoopUntil([ttl] { return ttl->HasFocus(); })) << "the keys are back on the field";
        ASSERT_TRUE(typing_testing::typeOver(ttl, "+5"));
        typing_testing::click(save);
        EXPECT_TRUE(runEventLoopUntil([&taken] { return taken == 5; }));
        EXPECT_FALSE(noticeShown());
    });
}

TEST_F(NumberRefusal, InAWindowTheNoticeKeepsClearOfTheFieldAndTheWindowKeepsItsInput) {
    // The field where the notice would open, over the middle of the window;
    // its Apply in a corner.
    auto* panel = new wxPanel(main);
    const wxSize size = main->GetClientSize();
    frm::fb::NumberSpin* port = spin(panel, wxPoint(size.x / 2 - 60, size.y / 2 - 15), 2000, 65533);
    auto* apply = new wxButton(panel, wxID_ANY, L"Применить", wxPoint(8, 8));
    std::optional<int> taken = 0;
    apply->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { taken = frm::takeNumber(*port, L"Базовый порт"); });
    main->Layout();
    ASSERT_TRUE(runEventLoopUntil([port] { return port->IsShownOnScreen(); }));
    ASSERT_TRUE(typing_testing::typeOver(port, "1o"));

    typing_testing::click(apply);
    ASSERT_TRUE(runEventLoopUntil(noticeShown));
    EXPECT_EQ(taken, std::nullopt);
    EXPECT_EQ(frm::ui::openCount(), 0);
    EXPECT_EQ(lastNotice().caption, L"Внимание");
    EXPECT_EQ(lastNotice().text,
              L"В поле \"Базовый порт\" введено \"1o\": это не целое число. Введите целое число от 2000 до 65533.");
    EXPECT_FALSE(notice()->GetScreenRect().Intersects(port->GetScreenRect())) << "the field stays in sight";
    EXPECT_TRUE(runEventLoopUntil([port] { return port->HasFocus(); }));
    EXPECT_FALSE(wx_testing::writeScreenArea(main->GetScreenRect().Union(notice()->GetScreenRect()),
                                             "number_refused_in_window")
                     .empty());

    // Mended at once, with the notice still open.
    ASSERT_TRUE(typing_testing::typeOver(port, "+2991"));
    typing_testing::click(apply);
    EXPECT_TRUE(runEventLoopUntil([&taken] { return taken == 2991; }));

    // Closed where a dialog left it, the notice opens again beside the field.
    typing_testing::click(dialog_testing::all<wxButton>(notice()).at(0));
    ASSERT_TRUE(runEventLoopUntil([] { return !noticeShown(); }));
    notice()->Move(0, 0);
    ASSERT_TRUE(typing_testing::typeOver(port, ""));
    typing_testing::click(apply);
    ASSERT_TRUE(runEventLoopUntil(noticeShown));
    EXPECT_EQ(lastNotice().text, L"Поле \"Базовый порт\" не заполнено. Введите целое число от 2000 до 65533.");
    const wxRect field = port->GetScreenRect();
    EXPECT_EQ(notice()->GetScreenRect().GetTop(), field.GetTop());
    EXPECT_GT(notice()->GetScreenRect().GetLeft(), field.GetRight());
}
