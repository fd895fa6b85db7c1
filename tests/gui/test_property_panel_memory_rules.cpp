// The property panel's decisions without a window: the audio-memory menus by
// state, the free-memory and file-column texts, the files of the fragments
// across a removal, the Orvel-510 slider tooltips, the line verdict and the
// stream boxes of the sources page.
#include <gtest/gtest.h>

#include "gui/device_control_rules.h"
#include "gui/memory_page_rules.h"

namespace {

using namespace frm::memory_page;
using Items = std::vector<MenuItem>;

MenuState state(bool playing, bool selected, bool pending, bool loudspeaker) {
    MenuState s;
    s.playing = playing;
    s.selected = selected;
    s.pending = pending;
    s.loudspeaker = loudspeaker;
    return s;
}

}  // namespace

TEST(MemoryPageMenus, EveryStateOfBothMenus) {
    const MenuItem play = MenuItem::kPlay, stop = MenuItem::kStop, add = MenuItem::kAdd,
                   save = MenuItem::kSave, del = MenuItem::kDelete;
    for (const bool selected : {false, true})
        for (const bool pending : {false, true}) {
            // Playing: only a loudspeaker stops, whatever else holds.
            EXPECT_EQ(fragmentMenu(state(true, selected, pending, true)), Items{stop});
            EXPECT_EQ(scenarioMenu(state(true, selected, pending, true)), Items{stop});
            EXPECT_TRUE(fragmentMenu(state(true, selected, pending, false)).empty());
            EXPECT_TRUE(scenarioMenu(state(true, selected, pending, false)).empty());
            for (const bool loudspeaker : {false, true}) {
                if (selected) continue;
                EXPECT_EQ(fragmentMenu(state(false, false, pending, loudspeaker)), Items{add});
                EXPECT_EQ(scenarioMenu(state(false, false, pending, loudspeaker)), Items{add});
            }
        }
    EXPECT_EQ(fragmentMenu(state(false, true, false, true)), (Items{play, add, save, del}));
    EXPECT_EQ(scenarioMenu(state(false, true, false, true)), (Items{play, del, add}));
    // Pending edits: the device would play what it holds, not what is shown.
    EXPECT_EQ(fragmentMenu(state(false, true, true, true)), (Items{add, save, del}));
    EXPECT_EQ(scenarioMenu(state(false, true, true, true)), (Items{del, add}));
    // A console never plays from here.
    EXPECT_EQ(fragmentMenu(state(false, true, false, false)), (Items{add, save, del}));
    EXPECT_EQ(scenarioMenu(state(false, true, false, false)), (Items{del, add}));
}

TEST(MemoryPageTexts, FreeMemoryIsGroupedInThreesFromTheRight) {
    EXPECT_EQ(groupedDigits(0), L"0");
    EXPECT_EQ(groupedDigits(999), L"999");
    EXPECT_EQ(groupedDigits(1000), L"1 000");
    EXPECT_EQ(groupedDigits(123456), L"123 456");
    EXPECT_EQ(groupedDigits(1234567), L"1 234 567");
    EXPECT_EQ(groupedDigits(4294967295u), L"4 294 967 295");
}

TEST(MemoryPageTexts, TheFileColumnNeedsOneFilePerFragment) {
    const std::vector<std::wstring> sources = {L"", L"/tmp/гонг.mp3"};
    EXPECT_EQ(sourceText(sources, 2, 0), L"Расположен в памяти устройства");
    EXPECT_EQ(sourceText(sources, 2, 1), L"/tmp/гонг.mp3");
    EXPECT_EQ(sourceText(sources, 3, 1), L"") << "one fragment without an entry: the column stays empty";
    EXPECT_EQ(sourceText(sources, 1, 0), L"");
    EXPECT_EQ(sourceText(sources, 2, 2), L"");
}

TEST(MemoryPageTexts, ARemovalDropsTheRowsFileOnlyWhenTheListMatchedBefore) {
    std::vector<std::wstring> sources = {L"a", L"b", L"c"};
    dropSource(sources, 2, 1);
    EXPECT_EQ(sources, (std::vector<std::wstring>{L"a", L"c"}));
    // The fragment took its scenarios' fragments with it, or the list was
    // already off: nothing is dropped.
    dropSource(sources, 0, 0);
    EXPECT_EQ(sources.size(), 2u);
    dropSource(sources, 1, -1);
    dropSource(sources, 1, 2);
    EXPECT_EQ(sources.size(), 2u);
    dropSource(sources, 1, 0);
    EXPECT_EQ(sources, std::vector<std::wstring>{L"c"});
}

TEST(DeviceControls, TooltipPercentagesOfTheOrvel510Sliders) {
    using namespace frm::device_controls;
    EXPECT_EQ(bassPercent(7, 15), 46);
    EXPECT_EQ(bassPercent(15, 15), 100);
    EXPECT_EQ(bassPercent(0, 15), 0);
    EXPECT_EQ(treblePercent(-8, -8, 7), -100);
    EXPECT_EQ(treblePercent(7, -8, 7), 100);
    EXPECT_EQ(treblePercent(-3, -8, 7), -37);
    EXPECT_EQ(treblePercent(3, -8, 7), 42);
    EXPECT_EQ(bassPercent(3, 0), 0) << "no division by a zero range";
    EXPECT_EQ(treblePercent(-1, 0, 0), 0);
    EXPECT_EQ(bassTooltip(7, 15), L"Громкость басса 46%");
    EXPECT_EQ(trebleTooltip(-8, -8, 7), L"Громкость высоких частот -100%");
}

TEST(DeviceControls, LineVerdictNamesTheFailedLines) {
    using frm::device_controls::lineVerdict;
    EXPECT_EQ(lineVerdict(true, true), L"");
    EXPECT_EQ(lineVerdict(false, true), L"Параметры линии 1 не соответствуют норме");
    EXPECT_EQ(lineVerdict(true, false), L"Параметры линии 2 не соответствуют норме");
    EXPECT_EQ(lineVerdict(false, false), L"Параметры линии 1 2 не соответствуют норме");
}

TEST(DeviceControls, AllowingTheOthersStreamAndSendingAnInputExcludeEachOther) {
    using namespace frm::device_controls;
    const auto boxes = [](bool allow, bool send1, bool send2) {
        const StreamBoxes b = enabledStreamBoxes(allow, send1, send2);
        return std::vector<bool>{b.allowOthers, b.sendInput1, b.sendInput2};
    };
    EXPECT_EQ(boxes(false, false, false), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(boxes(true, false, false), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(boxes(false, true, false), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(boxes(false, false, true), (std::vector<bool>{false, true, true}));
    // Read from a device that has both: every box stays free to untick.
    EXPECT_EQ(boxes(true, true, false), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(boxes(true, false, true), (std::vector<bool>{true, true, true}));
}
