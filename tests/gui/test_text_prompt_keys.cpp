// ctest-labels: input
// The text prompt (the passwords of the alarm buttons, the administrator
// mode) under real keys (XTest): Return answers with the typed text at once,
// Esc cancels.
#include <gtest/gtest.h>
#include <wx/eventfilter.h>
#include <wx/textctrl.h>
#include <wx/textdlg.h>
#include <wx/uiaction.h>

#include <chrono>
#include <optional>

#include "gui/ui.h"
#include "tests/base/wx/wx_app.h"

namespace {

using Clock = std::chrono::steady_clock;
using wx_testing::runEventLoopUntil;

/// When the Return key first reached a window of the program.
class ReturnWatch : public wxEventFilter {
public:
    ReturnWatch() { wxEvtHandler::AddFilter(this); }
    ~ReturnWatch() override { wxEvtHandler::RemoveFilter(this); }

    int FilterEvent(wxEvent& event) override {
        if (!pressed && event.GetEventType() == wxEVT_CHAR_HOOK &&
            static_cast<wxKeyEvent&>(event).GetKeyCode() == WXK_RETURN)
            pressed = Clock::now();
        return Event_Skip;
    }

    std::optional<Clock::time_point> pressed;
};

/// The prompt's text field, once the prompt shows with it focused.
wxTextCtrl* focusedPromptField() {
    wxTextCtrl* field = nullptr;
    runEventLoopUntil([&field] {
        for (wxWindow* window : wxTopLevelWindows)
            if (auto* prompt = dynamic_cast<wxTextEntryDialog*>(window); prompt && prompt->IsShownOnScreen())
                for (wxWindow* child : prompt->GetChildren())
                    if (auto* text = dynamic_cast<wxTextCtrl*>(child); text && text->HasFocus()) field = text;
        return field != nullptr;
    });
    return field;
}

class TextPromptKeys : public ::testing::Test {
protected:
    void SetUp() override { frm::ui::setPresenter(nullptr); }  // the real prompt
};

}  // namespace

TEST_F(TextPromptKeys, ReturnAnswersWithTheTypedTextAtOnceAndEscCancels) {
    ReturnWatch watch;
    bool typed = false;
    wxTheApp->CallAfter([&typed] {
        if (!focusedPromptField()) {
            frm::ui::cancelAll();
            return;
        }
        wxUIActionSimulator input;
        input.Text("123456");
        typed = runEventLoopUntil([] {
            wxTextCtrl* field = focusedPromptField();
            return field != nullptr && field->GetValue() == L"123456";
        });
        if (!typed) {
            frm::ui::cancelAll();
            return;
        }
        input.Char(WXK_RETURN);
    });
    wxString value;
    ASSERT_TRUE(frm::ui::askText(L"Введите пароль для разблокировки", L"Окно ввода пароля", value, true, nullptr));
    const auto answered = Clock::now();
    ASSERT_TRUE(typed);
    EXPECT_EQ(value, L"123456");
    ASSERT_TRUE(watch.pressed.has_value());
    // The toolkit's own Return answers no sooner than 250 ms after the key.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(answered - *watch.pressed).count(), 150);

    wxTheApp->CallAfter([] {
        if (!focusedPromptField()) {
            frm::ui::cancelAll();
            return;
        }
        wxUIActionSimulator input;
        input.Text("12");
        input.Char(WXK_ESCAPE);
    });
    value = L"";
    EXPECT_FALSE(frm::ui::askText(L"Введите пароль для разблокировки", L"Окно ввода пароля", value, true, nullptr));
}
