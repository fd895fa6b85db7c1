#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/wx/gui_guards.h"
#include "tests/base/wx/wx_app.h"

using namespace std::chrono_literals;

TEST(GuiFreezer, NestedGuardsThawOnlyAtTheOuterEnd) {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "frozen");
    {
        frm::GuiFreezer outer(frame);
        {
            frm::GuiFreezer inner(frame);
            EXPECT_TRUE(frame->IsFrozen());
        }
        EXPECT_TRUE(frame->IsFrozen()) << "the outer guard still holds it";
    }
    EXPECT_FALSE(frame->IsFrozen());
    EXPECT_THROW(frm::GuiFreezer(nullptr), exception::InternalError);
    frame->Destroy();
    wx_testing::runEventLoopFor(10ms);
}
