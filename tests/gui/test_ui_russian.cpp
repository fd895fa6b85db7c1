// What the operator reads in the dialogue's own windows: the toolkit's
// labels in Russian, and a long box text wrapped within the screen with
// nothing cut.
#include <gtest/gtest.h>
#include <wx/display.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textdlg.h>
#include <wx/timer.h>

#include <algorithm>
#include <string>

#include "gui/translations.h"
#include "gui/ui.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/screenshot.h"

namespace {

/// The top-level window of the given kind that is open now, or null.
template <typename Window>
Window* openWindow() {
    for (wxWindow* window : wxTopLevelWindows)
        if (auto* found = dynamic_cast<Window*>(window)) return found;
    return nullptr;
}

/// Every label of the static texts inside a window, joined.
wxString labels(wxWindow* window) {
    wxString all;
    for (wxWindow* child : window->GetChildren()) {
        if (auto* text = dynamic_cast<wxStaticText*>(child)) all += text->GetLabel();
        all += labels(child);
    }
    return all;
}

std::wstring withoutBlanks(std::wstring text) {
    text.erase(std::remove_if(text.begin(), text.end(), [](wchar_t c) { return c == L' ' || c == L'\n'; }),
               text.end());
    return text;
}

class RussianDialogue : public ::testing::Test {
protected:
    void SetUp() override {
        frm::ui::setPresenter(nullptr);  // the real dialogs
        EXPECT_TRUE(frm::installTranslations(L"/nonexistent")) << "the locale ru_RU.UTF-8 is missing";
    }
    void TearDown() override { wxTranslations::Set(nullptr); }
};

}  // namespace

TEST_F(RussianDialogue, ATextPromptOffersOtmena) {
    wxString cancelLabel;
    wxTheApp->CallAfter([&] {
        if (auto* prompt = openWindow<wxTextEntryDialog>()) {
            if (wxWindow* cancel = prompt->FindWindow(wxID_CANCEL)) cancelLabel = cancel->GetLabel();
            wx_testing::writeShot(prompt, "ui_text_prompt");
        }
        frm::ui::cancelAll();
    });
    wxString value = L"Зона 1";
    EXPECT_FALSE(frm::ui::askText(L"Введите название:", L"Новая зона", value));
    wxString plain = cancelLabel;
    plain.Replace(L"&", L"");
    plain.Replace(L"_", L"");
    EXPECT_EQ(plain, L"Отмена");
}

TEST_F(RussianDialogue, CalendarsNameWeekdaysAndMonthsInRussian) {
    EXPECT_EQ(wxDateTime::GetWeekDayName(wxDateTime::Mon, wxDateTime::Name_Abbr), L"Пн");
    EXPECT_EQ(wxDateTime::GetEnglishWeekDayName(wxDateTime::Mon, wxDateTime::Name_Abbr), L"Mon");
    EXPECT_TRUE(wxDateTime::GetMonthName(wxDateTime::Dec).StartsWith(L"декабр"));
}

TEST_F(RussianDialogue, ALongBoxTextIsWrappedWithinSixtyPercentOfTheScreenAndShownWhole) {
    const std::wstring folder = L"/home/operator/.local/share/Varko Security Systems/Sonvar/1.2/";
    const std::wstring text = L"Файл '" + folder +
                              L"zone_collection.xml' повреждён (ошибка в строке 2) и сохранён как '" +
                              folder + L"zone_collection.xml.bad'";
    int width = 0;
    wxString shown;
    wxTheApp->CallAfter([&] {
        if (auto* box = openWindow<wxGenericMessageDialog>()) {
            wx_testing::writeShot(box, "ui_long_box");
            width = box->GetSize().GetWidth();
            shown = labels(box);
        }
        frm::ui::cancelAll();
    });
    frm::ui::messageBox(text, L"Внимание", wxOK | wxICON_WARNING | wxCENTRE);
    const int screen = wxDisplay(0u).GetClientArea().GetWidth();
    EXPECT_GT(width, 0);
    EXPECT_LE(width, screen * 7 / 10);  // the text's 60 % and the icon and margins
    EXPECT_EQ(withoutBlanks(shown.ToStdWstring()), withoutBlanks(text));
}
