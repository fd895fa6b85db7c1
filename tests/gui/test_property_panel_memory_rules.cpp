// The audio-memory page's decisions without a window: the menus by state,
// the free-memory and file-column texts, the files of the fragments across a
// removal. (The tooltips, the line verdict and the stream boxes are checked
// through the panel's controls.)
#include <gtest/gtest.h>

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
