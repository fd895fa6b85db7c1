// ctest-labels: net input
// The property panel's controls that act on the device at once, against
// simulated loudspeakers and a console: the Orvel-510 bass and treble
// sliders (tooltips, the word sent on release, a real release on the
// slider), the six-band equalizer with its switch, the reset, a refused
// equalizer; the line measurement's verdicts; the reboot of the main
// window's selected devices, which stops at a refusal; the Zarno
// interface-error box and the stream boxes of the sources page.
#include <gtest/gtest.h>
#include <wx/listctrl.h>
#include <wx/uiaction.h>

#include "device/models/playback_type.h"
#include "gui/item_data_map.h"
#include "tests/gui/memory_page_site.h"
#include "tests/gui/screenshot.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/tovik_config_model.h"

namespace {

enum Device : unsigned { kOrvel510 = 1, kBands, kExtended, kConsole };

/// The panel with the handlers of the common, Zarno and sources pages in reach.
class ControlPanel : public memory_site::Panel {
public:
    using F::sliderBand2;
    using memory_site::Panel::Panel;
    using P::buttonSetLineOnClick, P::onBandSlider, P::onBandSliderScroll, P::onCheckBoxEqualizer,
        P::onCheckBoxIsTestZarno, P::onCheckBoxSource, P::forwardStreamOnCheckBox, P::onLeftUpBassSlider,
        P::onLeftUpTrebleSlider, P::rebootOnClick, P::resetEqOnButtonClick;

    /// A release of the left button over the control, and what it sent.
    void release(void (P::*handler)(wxMouseEvent&), wxWindow* control) {
        wxMouseEvent event(wxEVT_LEFT_UP);
        event.SetEventObject(control);
        (this->*handler)(event);
        settle();
    }
    /// A click on the check box: its new state, then its event.
    void tick(wxCheckBox* box, bool on, void (P::*handler)(wxCommandEvent&)) {
        box->SetValue(on);
        wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
        event.SetEventObject(box);
        event.SetInt(on);
        (this->*handler)(event);
        settle();
    }
    void click(void (P::*handler)(wxCommandEvent&)) {
        wxCommandEvent event(wxEVT_BUTTON);
        (this->*handler)(event);
        settle();
    }
};

class ImmediateControls : public memory_site::Site {
protected:
    void SetUp() override {
        start("127.33.");
        const auto speaker = [this](Device n, int index) {
            addSpeaker(n, index);
            return equalizers.back();
        };
        packed = speaker(kOrvel510, 8);
        packed->setPacked(device::o510::Equalizer(3, -2).packed());
        bands = speaker(kBands, 18);
        extended = speaker(kExtended, 12);
        add(kConsole, std::make_unique<device::sim::TovikConfigModel>(
                          device::sim::Simulator::hardwareAddress(kConsole)));
        runDevices();
    }
    void TearDown() override {
        items.reset();
        memory_site::Site::TearDown();
    }

    ControlPanel* makeControlPanel(frm::ItemDataMap* registry = nullptr) {
        auto* panel = new ControlPanel(frame, collection, registry, transport, false);
        frame->Show();
        return panel;
    }
    /// How many requests the device received that start with the text.
    std::size_t requests(unsigned n, const std::string& text) {
        std::size_t count = 0;
        for (const auto& datagram : simulator.device(n - 1).received())
            if (datagram.text.rfind(text, 0) == 0) ++count;
        return count;
    }
    /// The main window's device list with these devices' rows selected, and
    /// its registry over a zone that holds them.
    void selectInMainWindow(const std::vector<boost::shared_ptr<device::DeviceBase>>& devices) {
        deviceList = new wxListCtrl(frame, wxID_ANY, wxPoint(0, 0), wxSize(10, 10), wxLC_REPORT);
        deviceList->Hide();  // only read: shown at that size, its scroll bars upset GTK
        deviceList->AppendColumn(L"");
        root = frm::ZoneElement::createDetached(L"Все зоны");
        for (const auto& device : devices) {
            root->addElement(device);
            rowData.push_back(std::make_unique<frm::DeviceRowData>(frm::DeviceRowData{device, root}));
            const long row = deviceList->InsertItem(deviceList->GetItemCount(), device->getTitle());
            deviceList->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(rowData.back().get()));
            deviceList->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        }
        items = std::make_unique<frm::ItemDataMap>(deviceList, root);
    }

    std::shared_ptr<device::sim::EqualizerStore> packed, bands, extended;
    wxListCtrl* deviceList = nullptr;
    frm::ZoneElement::Ptr root;
    std::vector<std::unique_ptr<frm::DeviceRowData>> rowData;
    std::unique_ptr<frm::ItemDataMap> items;
};

std::uint16_t word(int bass, int treble) { return device::o510::Equalizer(bass, treble).packed(); }

}  // namespace

TEST_F(ImmediateControls, TheOrvel510SlidersShowTheirShareAndSendTheWordOnRelease) {
    auto* panel = makeControlPanel();
    panel->showEqualizer(loudspeaker(kOrvel510));
    ASSERT_EQ(panel->sliderBass->GetMax(), 15);

    panel->sliderBass->SetValue(7);
    panel->release(&ControlPanel::onLeftUpBassSlider, panel->sliderBass);
    EXPECT_EQ(panel->sliderBass->GetToolTipText(), L"Громкость басса 46%");
    EXPECT_EQ(packed->packed(), word(7, -2)) << "the treble stays";
    for (const auto& [treble, tip] :
         {std::pair{-8, L"Громкость высоких частот -100%"}, std::pair{7, L"Громкость высоких частот 100%"}}) {
        panel->sliderTreble->SetValue(treble);
        panel->release(&ControlPanel::onLeftUpTrebleSlider, panel->sliderTreble);
        EXPECT_EQ(panel->sliderTreble->GetToolTipText(), tip);
        EXPECT_EQ(packed->packed(), word(7, treble));
    }

    // A band slider of this kind of equalizer sends nothing.
    const std::size_t sent = requests(kOrvel510, "set eq");
    panel->release(&ControlPanel::onBandSlider, panel->sliderBand1);
    EXPECT_EQ(requests(kOrvel510, "set eq"), sent);
    EXPECT_TRUE(logged("incorrectly selected equalizer o610"));

    // Switched off the loudspeaker gets 0, and back on its values.
    panel->tick(panel->checkBoxEqualizer, false, &ControlPanel::onCheckBoxEqualizer);
    EXPECT_EQ(packed->packed(), 0);
    EXPECT_FALSE(panel->panelEqualizer->IsEnabled());
    panel->tick(panel->checkBoxEqualizer, true, &ControlPanel::onCheckBoxEqualizer);
    EXPECT_EQ(packed->packed(), word(7, 7));
    EXPECT_FALSE(wx_testing::writeShot(frame, "property_page_common_equalizer_o510").empty());

    panel->click(&ControlPanel::resetEqOnButtonClick);
    EXPECT_EQ(packed->packed(), word(0, 0));
}

TEST_F(ImmediateControls, ARealReleaseOnTheBassSliderSendsWhatItShows) {
    auto* panel = makeControlPanel();
    panel->showEqualizer(loudspeaker(kOrvel510));
    ASSERT_TRUE(wx_testing::runEventLoopUntil([panel] { return panel->sliderBass->IsShownOnScreen(); }));
    ASSERT_EQ(panel->sliderBass->GetValue(), 3);
    // The knob dragged from where it is to the far end. On a busy machine
    // the display server may lose the press of a synthetic drag: the drag
    // is made again until the knob moved (what is checked is what the
    // release sends, not the display server).
    const wxRect rect = panel->sliderBass->GetScreenRect();
    const int y = rect.y + rect.height / 2;
    wxUIActionSimulator input;
    for (int attempt = 0; attempt < 3 && panel->sliderBass->GetValue() == 3; ++attempt) {
        input.MouseMove(wxPoint(rect.x + 12 + (rect.width - 24) * 3 / 15, y));
        wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
        input.MouseDown();
        for (int x = rect.x + 20; x <= rect.GetRight(); x += 20) {
            input.MouseMove(wxPoint(x, y));
            wx_testing::runEventLoopFor(std::chrono::milliseconds(10));
        }
        input.MouseMove(wxPoint(rect.GetRight() - 2, y));
        wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
        input.MouseUp();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return !panel->sliderBass->GetToolTipText().empty(); }));
    panel->settle();
    const int bass = panel->sliderBass->GetValue();
    EXPECT_GT(bass, 3);
    EXPECT_EQ(packed->packed(), word(bass, -2));
    EXPECT_EQ(panel->sliderBass->GetToolTipText(),
              L"Громкость басса " + std::to_wstring(bass * 100 / 15) + L"%");
}

TEST_F(ImmediateControls, TheSixBandEqualizerSendsItsBandsAndItsSwitch) {
    auto* panel = makeControlPanel();
    panel->showEqualizer(loudspeaker(kBands));
    ASSERT_FALSE(bands->enabled());
    panel->sliderBand1->SetValue(-3);
    panel->sliderBand6->SetValue(-10);
    panel->release(&ControlPanel::onBandSlider, panel->sliderBand1);
    EXPECT_EQ(panel->sliderBand1->GetToolTipText(), L"-3 дБ");
    EXPECT_EQ(bands->bands(), (std::array<int, 6>{-3, 0, 0, 0, 0, -10}));
    EXPECT_FALSE(bands->enabled()) << "the switch as the box shows it";

    panel->tick(panel->checkBoxEqualizer, true, &ControlPanel::onCheckBoxEqualizer);
    EXPECT_TRUE(bands->enabled());
    EXPECT_TRUE(panel->panelEqualizer->IsEnabled());
    // A line scroll by the keys sends as a release does.
    panel->sliderBand6->SetValue(-4);
    wxScrollEvent scroll(wxEVT_SCROLL_LINEUP, panel->sliderBand6->GetId(), -4);
    scroll.SetEventObject(panel->sliderBand6);
    panel->onBandSliderScroll(scroll);
    panel->settle();
    EXPECT_EQ(bands->bands(), (std::array<int, 6>{-3, 0, 0, 0, 0, -4}));
    EXPECT_FALSE(wx_testing::writeShot(frame, "property_page_common_equalizer_bands").empty());

    // Not a slider: nothing is sent.
    const std::size_t sent = requests(kBands, "set eq");
    panel->release(&ControlPanel::onBandSlider, panel->checkBoxEqualizer);
    EXPECT_TRUE(logged("Internal error. It is detected unknown object for action."));
    EXPECT_EQ(requests(kBands, "set eq"), sent);

    panel->click(&ControlPanel::resetEqOnButtonClick);
    EXPECT_EQ(bands->bands(), (std::array<int, 6>{}));
    EXPECT_TRUE(bands->enabled());

    // The generations 9 to 13 take the extended request, which raises the
    // bands to -6.
    panel->showEqualizer(loudspeaker(kExtended));
    panel->sliderBand2->SetValue(-9);
    panel->release(&ControlPanel::onBandSlider, panel->sliderBand2);
    EXPECT_EQ(extended->bands(), (std::array<int, 6>{0, -6, 0, 0, 0, 0}));
    EXPECT_EQ(loggedCount("Не удалось изменить настройки эквалайзера"), 0);

    // A loudspeaker that does not answer: the operator is told, the slider
    // keeps its value.
    simulator.device(kExtended - 1).setReplyPolicy({0, true});
    panel->sliderBand2->SetValue(-2);
    panel->release(&ControlPanel::onBandSlider, panel->sliderBand2);
    EXPECT_EQ(loggedCount("Не удалось изменить настройки эквалайзера", "WARN"), 1);
    EXPECT_EQ(panel->sliderBand2->GetValue(), -2);
}

TEST_F(ImmediateControls, TheLineMeasurementNamesTheFailedLines) {
    auto* panel = makeControlPanel();
    panel->imbueDevice(device(kBands));
    const auto measure = [&](const std::string& reply) {
        simulator.device(kBands - 1).withModel<device::sim::OrvelBandModel>([&reply](auto& model) {
            model.lineReply = reply;
            return 0;
        });
        panel->click(&ControlPanel::buttonSetLineOnClick);
    };
    measure("OK");
    EXPECT_EQ(loggedCount("Операция выполнена успешно", "NOTICE"), 1);
    measure("line 2 broken");
    EXPECT_EQ(loggedCount("Параметры линии 2 не соответствуют норме", "WARN"), 1);
    measure("lines 1");
    EXPECT_EQ(loggedCount("Параметры линии 1 не соответствуют норме", "WARN"), 1);

    // A console has no lines to measure.
    panel->imbueDevice(device(kConsole));
    panel->click(&ControlPanel::buttonSetLineOnClick);
    EXPECT_EQ(requests(kConsole, "set line"), 0u);
}

TEST_F(ImmediateControls, RebootGoesThroughTheSelectedDevicesAndStopsAtARefusal) {
    std::vector<boost::shared_ptr<device::DeviceBase>> devices = {device(kOrvel510), device(kBands),
                                                                  device(kExtended)};
    selectInMainWindow(devices);
    auto* panel = makeControlPanel(items.get());
    int closed = 0;
    panel->setCallbacks([&closed] { ++closed; }, [] {});
    panel->imbueDevice(device(kBands));

    // The walk goes in the set's order: the second refuses (an alarm plays).
    const std::set<boost::shared_ptr<device::DeviceBase>> order(devices.begin(), devices.end());
    std::vector<unsigned> walk;
    for (const auto& one : order)
        for (unsigned n = kOrvel510; n <= kExtended; ++n)
            if (device(n) == one) walk.push_back(n);
    boost::dynamic_pointer_cast<device::OrvelInfo>(device(walk[1]))
        ->setPlaybackTypeForce(device::playback::kSine);
    observedAt(L"NOTICE", true);
    panel->click(&ControlPanel::rebootOnClick);
    EXPECT_EQ(observedAt(L"NOTICE", true), std::vector<std::wstring>{L"Сообщение: 'internalPlaying'"})
        << "the refusal was swallowed";
    EXPECT_EQ(requests(walk[0], "reboot"), 1u);
    EXPECT_EQ(requests(walk[1], "reboot"), 0u);
    EXPECT_EQ(requests(walk[2], "reboot"), 0u) << "not yet handled: left alone";
    EXPECT_EQ(closed, 0) << "the panel stays";
    EXPECT_FALSE(logged("Прибор перезагружен"));

    // No refusal, and one device that does not answer: every one gets the
    // request, the operator the notice, and the panel closes.
    boost::dynamic_pointer_cast<device::OrvelInfo>(device(walk[1]))
        ->setPlaybackTypeForce(device::playback::kNone);
    simulator.device(walk[2] - 1).setReplyPolicy({0, true});
    panel->click(&ControlPanel::rebootOnClick);
    for (const unsigned n : walk) EXPECT_GE(requests(n, "reboot"), 1u) << n;
    EXPECT_EQ(loggedCount("Прибор перезагружен", "NOTICE"), 1);
    EXPECT_EQ(closed, 1);
}

TEST_F(ImmediateControls, TheZarnoInterfaceErrorBoxGovernsLineRedundancy) {
    simulator.device(kConsole - 1).withModel<device::sim::TovikConfigModel>([](auto& model) {
        model.values["zarnoReserve"] = "on";
        return 0;
    });
    auto* panel = makeControlPanel();
    panel->imbueDevice(device(kConsole));
    panel->checkBoxLineRedundancy->Disable();
    panel->tick(panel->checkBoxIsTestZarno, true, &ControlPanel::onCheckBoxIsTestZarno);
    EXPECT_TRUE(panel->checkBoxLineRedundancy->IsEnabled());
    EXPECT_TRUE(panel->checkBoxLineRedundancy->GetValue()) << "read from the device";
    EXPECT_TRUE(panel->editPending());
    panel->tick(panel->checkBoxIsTestZarno, false, &ControlPanel::onCheckBoxIsTestZarno);
    EXPECT_FALSE(panel->checkBoxLineRedundancy->IsEnabled());
    EXPECT_FALSE(panel->checkBoxLineRedundancy->GetValue());

    // A loudspeaker outside the LAN family: the box is left as it is.
    panel->imbueDevice(device(kBands));
    panel->checkBoxLineRedundancy->Enable();
    panel->checkBoxLineRedundancy->SetValue(true);
    panel->tick(panel->checkBoxIsTestZarno, false, &ControlPanel::onCheckBoxIsTestZarno);
    EXPECT_TRUE(panel->checkBoxLineRedundancy->IsEnabled());
    EXPECT_TRUE(panel->checkBoxLineRedundancy->GetValue());
}

TEST_F(ImmediateControls, TheStreamBoxesOfTheSourcesPageExcludeEachOther) {
    auto* panel = makeControlPanel();
    panel->imbueDevice(device(kBands));
    wxCheckBox* allow = panel->checkBoxStreamFromOthers;
    wxCheckBox* send1 = panel->checkBoxForwardInput1;
    wxCheckBox* send2 = panel->checkBoxForwardInput2;
    const auto enabled = [&] {
        return std::vector<bool>{allow->IsEnabled(), send1->IsEnabled(), send2->IsEnabled()};
    };
    panel->tick(allow, true, &ControlPanel::onCheckBoxSource);
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false}));
    EXPECT_TRUE(panel->editPending());
    panel->tick(allow, false, &ControlPanel::onCheckBoxSource);
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true}));
    panel->tick(send2, true, &ControlPanel::forwardStreamOnCheckBox);
    EXPECT_EQ(enabled(), (std::vector<bool>{false, true, true}));
    panel->tick(send2, false, &ControlPanel::forwardStreamOnCheckBox);
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true}));
}
