// ctest-labels: net
// The property panel's guard against a page fill started while another one
// runs: the second is skipped with its log line, the first goes on to the
// end, and the guard is released afterwards, also when the first fill failed.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/gui/property_panel_site.h"

namespace {

using namespace panel_site;

/// A panel that runs a hook of the test where an update turns the panel on,
/// which every update of an answering device does before it fills its page.
class HookedPanel : public Panel {
public:
    using Panel::Panel;
    bool Enable(bool enable = true) override {
        if (enable && hook) {
            auto run = std::move(hook);
            hook = nullptr;
            run();
        }
        return Panel::Enable(enable);
    }
    std::function<void()> hook;
};

class UpdateGuard : public PanelSite {
protected:
    UpdateGuard() : PanelSite(68) {}

    HookedPanel* openHooked(Device n) {
        auto* panel = new HookedPanel(frame, collection, nullptr, transport, false);
        panel->SetSize(frame->GetClientSize());
        panel->setCallbacks([this] { ++closed; }, [this] { ++applied; });
        frame->Show();
        panel->imbueDevice(device(n));
        return panel;
    }
    int skipped() { return loggedCount("skip the update data for current tab is 1000", "DEBUG"); }
    int fills() { return loggedCount("update data, current tab 1000", "TRACE"); }
};

}  // namespace

TEST_F(UpdateGuard, ASecondUpdateWhileOneRunsIsSkippedAndTheFirstFinishes) {
    HookedPanel* panel = openHooked(kIndex21);
    int nested = 0;
    panel->hook = [&] {
        ++nested;
        panel->updateData();  // from inside the running update
    };
    panel->updateData();
    panel->settle();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(skipped(), 1) << "the nested update is skipped with its log line";
    EXPECT_EQ(fills(), 1) << "only the outer update filled the page";
    EXPECT_EQ(panel->textName->GetValue(), wxString(device(kIndex21)->getTitle())) << "the outer fill ended";

    // Released: the next update runs.
    panel->update();
    EXPECT_EQ(fills(), 2);
    EXPECT_EQ(skipped(), 1);
}

TEST_F(UpdateGuard, AnUpdateThatThrowsReleasesTheGuard) {
    HookedPanel* panel = openHooked(kIndex21);
    panel->hook = [] { throw exception::Offline(); };
    EXPECT_THROW(panel->updateData(), exception::Offline);
    panel->update();
    EXPECT_EQ(skipped(), 0) << "a failed update left the guard set: every later one would be skipped";
    EXPECT_EQ(fills(), 2);
    EXPECT_EQ(panel->textName->GetValue(), wxString(device(kIndex21)->getTitle()));
}
