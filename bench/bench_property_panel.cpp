// The device property panel's cost on the GUI thread: constructing it with
// its ten pages, beside a notebook of ten pages that hold as many plain
// controls; and one page layout from a console's pages to a loudspeaker's,
// beside removing and inserting the same pages in that bare notebook (both
// frozen, as the panel's layout is). Medians of 15 runs after one warm-up.
// Goals: construction under 300 ms, a layout under 30 ms. Needs a display:
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_property_panel
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/notebook.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "device/version.h"
#include "gui/property_device_panel.h"
#include "tools/simulator/stub_device.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 15;

/// A device of a given type code and nothing else.
class TypedDevice : public device::sim::StubDevice {
public:
    TypedDevice(std::uint32_t id, std::uint64_t typeCode)
        : StubDevice(id, net::HardwareAddress(0x025653, id), net::IpAndPort("10.0.1.1", 11991), L"",
                     nullptr) {
        presetTypeCode(typeCode);
    }
};

class Panel : public frm::PropertyDevicePanel {
public:
    // Outside debug mode, as the program starts by default: every page is
    // built all the same, the debug page is only never shown.
    explicit Panel(wxWindow* parent) : PropertyDevicePanel(parent, nullptr, nullptr, nullptr, false) {}
    using frm::PropertyDevicePanel::layoutTabs;
};

double milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

/// The median of `runs` timings of `step`; `prepare` runs untimed before each.
double median(const std::function<void()>& prepare, const std::function<void()>& step) {
    std::vector<double> times;
    for (int run = 0; run <= kRuns; ++run) {
        prepare();
        const Clock::time_point start = Clock::now();
        step();
        if (run > 0) times.push_back(milliseconds(Clock::now() - start));  // the first warms up
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::size_t countWindows(wxWindow* window) {
    std::size_t count = 1;
    for (wxWindow* child : window->GetChildren()) count += countWindows(child);
    return count;
}

/// The bare notebook: ten pages sharing `controls` static texts.
wxNotebook* bareNotebook(wxWindow* parent, std::size_t controls) {
    auto* notebook = new wxNotebook(parent, wxID_ANY);
    for (int page = 0; page < 10; ++page) {
        auto* panel = new wxPanel(notebook);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        for (std::size_t i = page; i < controls; i += 10)
            sizer->Add(new wxStaticText(panel, wxID_ANY, wxString::Format(L"Поле %zu", i)), 0, wxALL, 5);
        panel->SetSizer(sizer);
        notebook->AddPage(panel, wxString::Format(L"Страница %d", page + 1), page == 0);
    }
    return notebook;
}

/// Lets the toolkit show what changed.
void settle() {
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
}

}  // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        return 2;
    }
    auto* frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));

    // Construction, in a frame not yet shown, as the main window builds it.
    Panel* panel = nullptr;
    const double ours = median([&] { delete panel; }, [&] { panel = new Panel(frame); });
    const std::size_t controls = countWindows(panel) - 12;  // not the panel, the notebook and its ten pages
    wxNotebook* bare = nullptr;
    const double floor = median([&] { delete bare; }, [&] { bare = bareNotebook(frame, controls); });
    std::printf("BENCH property_panel_build ours=%.1fms bare_notebook=%.1fms ratio=%.2f\n", ours, floor,
                ours / floor);
    bare->Hide();

    // From a console's pages to a loudspeaker's, on the screen.
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(panel, 1, wxEXPAND);
    sizer->Add(bare, 1, wxEXPAND);
    frame->SetSizer(sizer);
    frame->Show();
    settle();
    const auto console = boost::make_shared<TypedDevice>(1, device::kTypeTovik30);
    const auto loudspeaker = boost::make_shared<TypedDevice>(2, device::kTypeOrvel610);
    const double layout = median(
        [&] {
            panel->imbueDevice(console);
            panel->layoutTabs();
            settle();
            panel->imbueDevice(loudspeaker);
        },
        [&] { panel->layoutTabs(); });

    panel->Hide();
    bare->Show();
    frame->Layout();
    std::vector<wxWindow*> pages;
    std::vector<wxString> labels;
    for (std::size_t i = 0; i < bare->GetPageCount(); ++i) {
        pages.push_back(bare->GetPage(i));
        labels.push_back(bare->GetPageText(i));
    }
    const auto relayout = [&](const std::vector<std::size_t>& chosen) {
        bare->Freeze();
        while (bare->GetPageCount() > 0) bare->RemovePage(bare->GetPageCount() - 1);
        for (const std::size_t page : chosen)
            bare->InsertPage(bare->GetPageCount(), pages[page], labels[page], page == 0);
        bare->Thaw();
    };
    const double bareLayout = median(
        [&] {
            relayout({0, 1, 2, 3, 6, 7});
            settle();
        },
        [&] {
            relayout({0, 1, 2, 3, 4, 5});
        });
    std::printf("BENCH page_layout ours=%.2fms bare_notebook=%.2fms ratio=%.2f\n", layout, bareLayout,
                layout / bareLayout);

    frame->Destroy();
    settle();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return ours < 300 && layout < 30 ? 0 : 1;
}
