// The dialog of the locked interface: on a fresh settings file the unlock
// password is created with the default; a wrong password shows the red line
// and keeps the typed text; a stored password is compared exactly; the right
// one ends the modal dialog with OK; close requests and Esc leave it open,
// a stop request ends it.
// ctest-labels: input
#include <gtest/gtest.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <chrono>
#include <string>

#include "base/password.h"
#include "base/pref.h"
#include "base/text.h"
#include "gui/lock_dialog.h"
#include "gui/ui.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/screenshot.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using wx_testing::runEventLoopUntil;

const std::wstring kWrong = L"Допущена ошибка при вводе пароля";

class Dialog : public frm::LockDialog {
public:
    Dialog() : LockDialog(nullptr, wxEmptyString, wxDefaultPosition, wxSize(410, 240)) {}
    using frm::fb::LockDialog::message;
    using frm::fb::LockDialog::password;

    /// Types `text` into the field and presses "Разблокировать".
    void tryPassword(const wxString& text) {
        password->ChangeValue(text);
        wxCommandEvent click(wxEVT_BUTTON, unlock->GetId());
        click.SetEventObject(unlock);
        unlock->HandleWindowEvent(click);
    }
};

class LockDialogTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(m_dir.widePath() + L"/sonvar.cfg");
        // A modal dialog left open would hang the test.
        rescue.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            if (dialog && dialog->IsModal()) dialog->EndModal(wxID_ABORT);
        });
        rescue.StartOnce(5000);
    }
    void TearDown() override {
        if (dialog) dialog->Destroy();
        runEventLoopUntil([this] { return !dialog; });
        pref_free();
        CountingLogFixture::TearDown();
    }

    wxWeakRef<Dialog> dialog = new Dialog;
    wxTimer rescue;
};

}  // namespace

TEST_F(LockDialogTest, FreshSettingsGetTheDefaultAndOnlyTheRightPasswordEndsTheModalDialogWithOk) {
    ASSERT_EQ(pref::find(g_pref, "security.interface", pref::Type::TypeString), nullptr);
    dialog->Show();
    dialog->tryPassword(L"654321");
    EXPECT_EQ(pref::getString("security.interface"), defaultStoredPassword);
    EXPECT_EQ(dialog->message->GetLabel(), kWrong);
    EXPECT_EQ(dialog->password->GetValue(), L"654321");
    EXPECT_TRUE(dialog->IsShown());
    EXPECT_EQ(loggedCount("Допущена ошибка при вводе пароля. Нет доступа к интерфейсу.", "INFO"), 1);
    const wxRect line = dialog->message->GetRect();
    EXPECT_NEAR(line.x + line.width / 2, dialog->GetClientSize().x / 2, 1)
        << "the line was not laid out again";
    EXPECT_FALSE(wx_testing::writeShot(dialog, "lock_dialog_wrong_password").empty());
    dialog->Hide();

    // Shown modally, as the main window does: the right password ends it.
    int attempts = 0;
    dialog->CallAfter([this, &attempts] {
        ++attempts;
        dialog->tryPassword(L"12345");
        if (dialog->IsModal()) dialog->tryPassword(L"123456");
    });
    EXPECT_EQ(dialog->ShowModal(), wxID_OK);
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(loggedCount("[LockDialog]        Пароль введен верный. Интерфейс разблокирован.", "INFO"), 1);
    EXPECT_EQ(loggedCount("Допущена ошибка при вводе пароля. Нет доступа к интерфейсу.", "INFO"), 2);
}

TEST_F(LockDialogTest, AStoredPasswordIsKeptAndComparedExactly) {
    pref::setString("security.interface", encodePassword(L"Qwerty"));
    dialog->Show();
    for (const wchar_t* wrong : {L"qwerty", L"123456", L"Qwerty ", L""}) {
        dialog->tryPassword(wrong);
        EXPECT_TRUE(dialog->IsShown()) << base::toUtf8(wrong);
    }
    EXPECT_EQ(pref::getString("security.interface"), encodePassword(L"Qwerty"));
    dialog->tryPassword(L"Qwerty");
    EXPECT_FALSE(dialog->IsShown());
}

TEST_F(LockDialogTest, AStopRequestEndsItWithCancel) {
    dialog->CallAfter([] { frm::ui::cancelAll(); });
    EXPECT_EQ(frm::ui::showModal(*dialog), wxID_CANCEL);
}

TEST_F(LockDialogTest, CloseRequestsAndEscLeaveItOpen) {
    dialog->Show();
    EXPECT_FALSE(dialog->Close());
    EXPECT_TRUE(dialog->IsShown());

    // Real keys: the typed text shows that the keys arrive, and the Esc
    // between them changes nothing; Enter presses the default button.
    ASSERT_TRUE(runEventLoopUntil([this] { return dialog->IsShownOnScreen(); }));
    wxUIActionSimulator input;
    const wxRect field = dialog->password->GetScreenRect();
    input.MouseMove(field.GetPosition() + field.GetSize() / 2);
    input.MouseClick();
    ASSERT_TRUE(runEventLoopUntil([this] { return dialog->password->HasFocus(); }));
    input.Text("12");
    ASSERT_TRUE(runEventLoopUntil([this] { return dialog->password->GetValue() == L"12"; }));
    input.Char(WXK_ESCAPE);
    input.Text("3");
    ASSERT_TRUE(runEventLoopUntil([this] { return dialog->password->GetValue() == L"123"; }));
    EXPECT_TRUE(dialog->IsShown());
    input.Char(WXK_RETURN);
    EXPECT_TRUE(runEventLoopUntil([this] { return dialog->message->GetLabel() == kWrong; }));
    EXPECT_TRUE(dialog->IsShown());

    // A close that cannot be refused ends it the toolkit's way.
    EXPECT_TRUE(dialog->Close(true));
    EXPECT_FALSE(dialog->IsShown());
}
