// The spin field of whole numbers under real typing and clicks: a text its
// rule refuses (empty, "-", out of range) stays as typed through the loss of
// focus that a click on a button brings, and the field's number stays what it
// was; the arrow keys and the program's SetValue replace a kept text with a
// number.
// ctest-labels: input
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "gui/layout/number_spin.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/screenshot.h"

namespace {

using wx_testing::runEventLoopUntil;

/// A field of 1024 to 65500 holding 11990 and a button that notes what the
/// field held when it was clicked.
class Window : public wxDialog {
public:
    Window() : wxDialog(nullptr, wxID_ANY, L"Порт", wxPoint(40, 40), wxDefaultSize) {
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        field = new frm::fb::NumberSpin(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                        wxSP_ARROW_KEYS, 1024, 65500, 11990);
        button = new wxButton(this, wxID_ANY, L"Сохранить");
        sizer->Add(field, 0, wxALL, 5);
        sizer->Add(button, 0, wxALL, 5);
        SetSizerAndFit(sizer);
        button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { atClick.push_back(field->typedText()); });
        field->Bind(wxEVT_SPINCTRL, [this](wxSpinEvent& event) { spun.push_back(event.GetPosition()); });
    }

    frm::fb::NumberSpin* field;
    wxButton* button;
    std::vector<std::wstring> atClick;
    std::vector<int> spun;
};

class NumberSpinInput : public ::testing::Test {
protected:
    void SetUp() override {
        window->Show();
        ASSERT_TRUE(runEventLoopUntil([this] { return window->IsShownOnScreen(); }));
    }
    void TearDown() override {
        window->Destroy();
        runEventLoopUntil([this] { return !window; });
    }

    std::wstring shown() const { return window->field->GetTextValue().ToStdWstring(); }

    /// The focus to the field, as a click there would put it. (A simulated
    /// click into a GTK entry of a window without a window manager moves the
    /// focus only when the window is raised again.)
    void focusField() {
        window->field->SetFocus();
        ASSERT_TRUE(runEventLoopUntil([this] { return window->field->HasFocus(); }));
    }
    /// Types `text` into the field over what it shows.
    void typeIntoField(const std::string& text) {
        focusField();
        input.Char('A', wxMOD_CONTROL);
        input.Char(WXK_DELETE);
        if (!text.empty()) input.Text(text.c_str());
        ASSERT_TRUE(runEventLoopUntil([&] { return shown() == base::fromUtf8(text); }))
            << base::toUtf8(shown());
    }
    /// Clicks the button: the field loses the focus to it first.
    void clickTheButton() {
        const std::size_t clicks = window->atClick.size();
        const wxRect area = window->button->GetScreenRect();
        input.MouseMove(area.GetPosition() + area.GetSize() / 2);
        input.MouseClick();
        ASSERT_TRUE(runEventLoopUntil([&] { return window->atClick.size() == clicks + 1; }));
    }

    wxWeakRef<Window> window = new Window;
    wxUIActionSimulator input;
};

}  // namespace

TEST_F(NumberSpinInput, ARefusedTextStaysAsTypedThroughTheClickAndTheNumberStays) {
    int number = 11990;
    for (const std::string typed : {"", "-", "12", "70000"}) {
        typeIntoField(typed);
        clickTheButton();
        ASSERT_EQ(window->atClick.back(), base::fromUtf8(typed)) << "the text the button's handler read";
        EXPECT_EQ(shown(), base::fromUtf8(typed)) << "the text the operator sees afterwards";
        EXPECT_TRUE(window->spun.empty()) << typed << ": the number changed";
        if (typed == "70000") {
            EXPECT_FALSE(wx_testing::writeShot(window, "number_spin_refused_text").empty());
        }
        // The arrow spins from the number the field held before the text.
        focusField();
        input.Char(WXK_UP);
        ++number;
        EXPECT_TRUE(runEventLoopUntil([&] { return shown() == std::to_wstring(number); }))
            << typed << " -> " << base::toUtf8(shown());
        window->spun.clear();
    }

    // A number the program sets replaces a kept text for good: it does not
    // come back when the field loses the focus again.
    typeIntoField("12");
    clickTheButton();
    window->field->SetValue(2000);
    EXPECT_EQ(shown(), L"2000");
    focusField();
    clickTheButton();
    EXPECT_EQ(window->atClick.back(), L"2000");
    EXPECT_EQ(window->field->GetValue(), 2000);
}
