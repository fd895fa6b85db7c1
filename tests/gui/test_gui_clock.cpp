// The top bar's clock: the labels follow the local time on the GUI thread's
// timer and stand still once the clock is gone.
#include <chrono>

#include <gtest/gtest.h>
#include <wx/datetime.h>
#include <wx/frame.h>
#include <wx/stattext.h>

#include "gui/gui_clock.h"
#include "tests/base/wx/wx_app.h"

using namespace std::chrono_literals;

TEST(GuiClock, WritesTimeAndDateEveryPeriodUntilDestroyed) {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "clock");
    auto* time = new wxStaticText(frame, wxID_ANY, "12:00:00");
    auto* date = new wxStaticText(frame, wxID_ANY, "01.01.2023");

    frm::GuiClock::createInstance(time, date, 20ms);
    EXPECT_EQ(date->GetLabel(), wxDateTime::Now().Format("%d.%m.%Y"));
    wxDateTime parsed;
    EXPECT_TRUE(parsed.ParseTime(time->GetLabel())) << time->GetLabel();

    time->SetLabel("x");
    date->SetLabel("y");
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return time->GetLabel() != "x" && date->GetLabel() != "y"; },
                                              1s));

    frm::GuiClock::destroyInstance();
    EXPECT_FALSE(frm::GuiClock::exists());
    time->SetLabel("x");
    wx_testing::runEventLoopFor(100ms);
    EXPECT_EQ(time->GetLabel(), "x");
    frame->Destroy();
}
