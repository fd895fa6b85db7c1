// The scheduler page as the operator plans with it: items built through the
// editor's controls (ids, pairs, refusals, payload, hours and minutes typed
// for real), the rows of the task list and its buttons, the filters, the
// device list, and the page's answers to the playlist and message pages.
// ctest-labels: input
#include <gtest/gtest.h>

#include <set>

#include "tests/gui/scheduler_page.h"
#include "tests/gui/typing.h"
#include "tests/gui/ui_script.h"

namespace {

using scheduler_page_testing::day;
using scheduler_page_testing::Page;
using Ids = std::vector<std::uint32_t>;
using Texts = std::vector<std::wstring>;

const std::wstring kSpeaker1 = L"      Громкоговоритель 1";
const std::wstring kSpeaker2 = L"         Громкоговоритель 2";

class SchedulerPageTasks : public scheduler_page_testing::PageSite {
protected:
    struct Item {
        int kind;
        wxDateTime first, last;
        int hour, minute, stopHour, stopMinute;
        std::vector<std::wstring> speakers;
    };
    /// An item of the playlist "Утро" through the editor, on the speakers'
    /// rows only.
    void plan(const Item& item, const std::wstring& object = L"Плейлисты",
              const std::wstring& content = L"Утро") {
        for (unsigned row = 0; row < page->devices->GetCount(); ++row) page->devices->Check(row, false);
        for (const std::wstring& speaker : item.speakers)
            page->tickDevice(static_cast<unsigned>(page->rowOf(speaker)));
        page->choose(object, content);
        page->kind(item.kind);
        page->days(item.first, item.last);
        page->startAt(item.hour, item.minute);
        page->stopAt(item.stopHour, item.stopMinute);
        Page::click(page->addTask);
    }
    Ids taskIds() {
        Ids ids;
        for (const auto& entry : page->getCore().getTasks()) ids.push_back(entry.first);
        return ids;
    }
    std::uint32_t speakerId(int n) const { return speakers[static_cast<std::size_t>(n - 1)]->getId(); }
};

// ---- building items ----------------------------------------------------------------

TEST_F(SchedulerPageTasks, ItemsGetPairedIdsAndTheRefusalsBuildNothing) {
    const wxDateTime none;
    plan({1, day(2024, 3, 5), none, 10, 0, 10, 30, {kSpeaker1}});
    EXPECT_EQ(taskIds(), (Ids{1, 2})) << "a daily item with a stop is a pair";
    EXPECT_EQ(page->rowIds(), (Ids{1})) << "one row, the start task's";
    EXPECT_EQ(page->vault(1).stopTaskId, 2u);
    EXPECT_TRUE(page->vault(2).isStopTask);
    EXPECT_EQ(page->vault(1).deviceIds, Ids{speakerId(1)}) << "the ticked loudspeaker";
    EXPECT_EQ(page->vault(1).finalDate, L"") << "no last day ticked";
    ASSERT_EQ(page->filterDeviceChoice->GetCount(), 1u);
    EXPECT_EQ(page->filterDeviceChoice->GetString(0), L"Громкоговоритель 1 (02:56:53:00:00:01)");

    plan({0, day(2024, 3, 6), none, 11, 0, 12, 0, {kSpeaker1, kSpeaker2}});
    EXPECT_EQ(taskIds(), (Ids{1, 2, 3})) << "a one-shot item never gets a stop task";
    EXPECT_EQ(page->vault(3).stopTaskId, scheduler::task::kNoStopTask);
    EXPECT_EQ(page->vault(3).finalDate, L"2024-03-06");
    const Ids both = page->vault(3).deviceIds;
    EXPECT_EQ(std::set<std::uint32_t>(both.begin(), both.end()),
              (std::set<std::uint32_t>{speakerId(1), speakerId(2)}));
    EXPECT_EQ(page->filterDeviceChoice->GetCount(), 2u) << "each loudspeaker offered once";

    plan({1, day(2024, 3, 5), none, 10, 0, 0, 0, {kSpeaker1}});
    EXPECT_EQ(taskIds(), (Ids{1, 2, 3, 5})) << "a stop at 00:00 is no stop";
    EXPECT_EQ(page->vault(5).stopTime, L"");

    plan({1, day(2024, 3, 10), day(2024, 3, 8), 10, 0, -1, -1, {kSpeaker1}});
    EXPECT_EQ(loggedCount("Неверный порядок дат", "NOTICE"), 1);
    plan({1, day(2024, 3, 8), day(2024, 3, 8), 10, 0, 10, 0, {kSpeaker1}});
    EXPECT_EQ(loggedCount("Неверный порядок времени", "NOTICE"), 1);
    EXPECT_EQ(taskIds().size(), 4u) << "refused: nothing built";
    plan({1, day(2024, 3, 8), day(2024, 3, 8), 10, 0, 10, 1, {kSpeaker1}});
    EXPECT_EQ(taskIds(), (Ids{1, 2, 3, 5, 11, 12})) << "the refused items used up ids 7 to 10";
    plan({1, day(2024, 3, 8), day(2024, 3, 9), 10, 0, 9, 0, {kSpeaker1}});
    EXPECT_EQ(page->vault(13).stopTaskId, 14u) << "on different days any stop time goes";

    plan({1, day(2024, 3, 8), none, 10, 0, -1, -1, {}});
    EXPECT_EQ(loggedCount("Не выбрано ни одного устройства", "NOTICE"), 1);
    page->tickDevice(static_cast<unsigned>(page->rowOf(kSpeaker1)));
    page->choose(L"Съёмные диски", L"");
    Page::click(page->addTask);
    EXPECT_EQ(loggedCount("Необходимо выбрать источник воспроизведения", "NOTICE"), 1);
    plan({1, day(2024, 3, 8), none, 10, 0, -1, -1, {kSpeaker1}});
    EXPECT_EQ(taskIds().back(), 15u) << "refusals before the ids take none";
}

// The field trial: "24" typed into the hour was saved as 23, an emptied
// field as 0.
TEST_F(SchedulerPageTasks, AnHourOrMinuteThatIsNoNumberOfItsRangeIsRefusedAndNothingIsBuilt) {
    frame->Show();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return page->startHour->IsShownOnScreen(); }));
    page->choose(L"Плейлисты", L"Утро");
    page->tickDevice(static_cast<unsigned>(page->rowOf(kSpeaker1)));
    page->kind(1);
    page->stopAt(11, 0);
    const auto refused = [&](frm::fb::NumberSpin* field, const char* typed, const std::string& told) {
        SCOPED_TRACE(typed);
        ASSERT_TRUE(typing_testing::typeOver(field, typed));
        ui_testing::ScriptedUi operatorUi;
        operatorUi.expect(L"Внимание", wxID_OK);
        typing_testing::click(page->addTask);
        ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return !operatorUi.shown().empty(); }));
        EXPECT_TRUE(operatorUi.shown()[0].notice);
        EXPECT_NE(base::toUtf8(operatorUi.shown()[0].text).find(told), std::string::npos);
        EXPECT_EQ(loggedCount(told, "WARN"), 1);
        EXPECT_TRUE(taskIds().empty());
        EXPECT_EQ(field->GetTextValue(), base::fromUtf8(typed)) << "kept to be mended";
        EXPECT_TRUE(wx_testing::runEventLoopUntil([field] { return field->HasFocus(); }));
        field->SetValue(10);
    };
    refused(page->startHour, "24", "\"Время запуска: часы\" введено \"24\": это число вне допустимых пределов");
    refused(page->startMinute, "", "Поле \"Время запуска: минуты\" не заполнено");
    refused(page->stopMinute, "3o", "\"Время останова: минуты\" введено \"3o\": это не целое число");
    typing_testing::click(page->addTask);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return !taskIds().empty(); }));
    EXPECT_EQ(taskIds(), (Ids{1, 2})) << "the refusals took no ids";
    EXPECT_EQ(page->vault(1).startTime, L"10:10");
    EXPECT_EQ(page->vault(1).stopTime, L"11:10");

    // A one-shot item has no stop: its hidden stop fields are not read.
    page->kind(0);
    page->stopHour->SetValue(wxString(L""));
    Page::click(page->addTask);
    EXPECT_EQ(taskIds(), (Ids{1, 2, 3}));
}

TEST_F(SchedulerPageTasks, AMessageTakesTheChosenGongAndAPlaylistNone) {
    page->choose(L"Служебные сообщения", L"Объявления: Обед");
    EXPECT_TRUE(page->gong->IsEnabled());
    EXPECT_TRUE(page->noGongLabel->IsShown());
    ASSERT_EQ(page->gong->GetCount(), 2u) << "no gong, then the gong folder's file";
    page->gong->SetSelection(1);
    plan({0, day(2024, 3, 5), wxDateTime(), 10, 0, -1, -1, {kSpeaker2}}, L"Служебные сообщения",
         L"Объявления: Обед");
    const auto track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(page->vault(1).playback);
    ASSERT_TRUE(track);
    EXPECT_EQ(track->getGongPath(), folder(L"gong/гонг.mp3"));
    EXPECT_EQ(track->getGongName(), L"гонг.mp3");
    EXPECT_NE(track, find(sources, L"serviceMessage", L"Объявления: Обед")) << "the task has its own copy";

    // A message whose file is gone is planned all the same: its task
    // disables itself when due (the due-task tests).
    remove(L"record/Запись 1.mp3");
    plan({0, day(2024, 3, 5), wxDateTime(), 10, 0, -1, -1, {kSpeaker2}}, L"Микрофон", L"Запись 1");
    EXPECT_EQ(taskIds(), (Ids{1, 3}));

    page->gong->SetSelection(1);
    plan({0, day(2024, 3, 5), wxDateTime(), 10, 0, -1, -1, {kSpeaker2}});
    EXPECT_FALSE(page->gong->IsEnabled());
    EXPECT_FALSE(page->noGongLabel->IsShown());
    EXPECT_TRUE(boost::dynamic_pointer_cast<frm::PlaybackPlaylist>(page->vault(5).playback));
}

TEST_F(SchedulerPageTasks, AMusicSourceOfTwentyThousandPlaylistsIsOfferedWholeAndItsLastOnePlanned) {
    // A GTK combo box builds its menu row by row: this many took minutes and
    // kept a large site's window from showing.
    constexpr int kPlaylists = 20000;
    std::vector<boost::shared_ptr<Playlist>> playlists;
    for (int n = 0; n < kPlaylists; ++n)
        playlists.push_back(boost::make_shared<Playlist>(L"Плейлист " + std::to_wstring(n), false));
    auto music = boost::make_shared<frm::PlaybackCollection>(L"playlist", L"Плейлисты");
    frm::addPlaylistPlaybacks(music, playlists);
    sources[0] = music;
    page->setPlaybacks(sources);
    ASSERT_EQ(page->content->GetCount(), static_cast<unsigned>(kPlaylists)) << "the first source, offered whole";
    EXPECT_EQ(page->content->GetString(0), L"Плейлист 0");
    EXPECT_EQ(page->content->GetString(kPlaylists - 1), L"Плейлист 19999") << "in the list's order";

    page->choose(L"Радио", L"Радио Сити");
    EXPECT_EQ(page->content->GetCount(), 1u);
    plan({0, day(2024, 3, 5), wxDateTime(), 10, 0, -1, -1, {kSpeaker1}}, L"Плейлисты", L"Плейлист 19999");
    EXPECT_EQ(page->content->GetCount(), static_cast<unsigned>(kPlaylists)) << "chosen again: filled anew";
    ASSERT_TRUE(page->vault(1).playback);
    EXPECT_EQ(page->vault(1).playback->getName(), L"Плейлист 19999");
    EXPECT_EQ(page->vault(1).deviceIds, Ids{speakerId(1)});
}

// ---- the task list -----------------------------------------------------------------

TEST_F(SchedulerPageTasks, RowsShowEachSourceKindWithTheDashRules) {
    const wxDateTime none;
    plan({1, day(2024, 3, 5), none, 10, 0, 10, 30, {kSpeaker1, kSpeaker2}});
    plan({0, day(2024, 3, 6), none, 8, 5, 9, 0, {kSpeaker1}}, L"Радио", L"Радио Сити");
    page->gong->SetSelection(1);
    plan({1, day(2024, 3, 5), day(2024, 3, 31), 12, 0, -1, -1, {kSpeaker2}}, L"Служебные сообщения",
         L"Объявления: Обед");
    page->gong->SetSelection(0);
    plan({1, day(2024, 3, 5), none, 13, 0, -1, -1, {kSpeaker2}}, L"Микрофон", L"Запись 1");
    page->task(5)->enable(false);
    page->refreshTaskListCtrl();

    ASSERT_EQ(page->rowIds(), (Ids{1, 3, 5, 7}));
    Texts both;
    for (const auto& speaker : page->vault(1).playback->getDevices()) both.push_back(speaker->getTitle());
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(page->row(0), (Texts{L"2024-03-05", L"-", L"10:00", L"10:30", L"Плейлисты: Утро", L"-",
                                   both[0] + L", " + both[1], L"Вкл"}));
    EXPECT_EQ(page->row(1), (Texts{L"2024-03-06", L"2024-03-06", L"08:05", L"-", L"Радио: Радио Сити", L"-",
                                   L"Громкоговоритель 1", L"Вкл"}));
    EXPECT_EQ(page->row(2),
              (Texts{L"2024-03-05", L"2024-03-31", L"12:00", L"-", L"Служебные сообщения: Объявления: Обед",
                     L"гонг.mp3", L"Громкоговоритель 2", L"Выкл"}));
    EXPECT_EQ(page->row(3)[5], L"") << "a message without a gong";
    EXPECT_EQ(loggedCount("Задание №3: 2024-03-06 | 2024-03-06 | 08:05 | - | Радио: Радио Сити | - | "
                          "Громкоговоритель 1 | Вкл | ",
                          "INFO"),
              4)
        << "logged at each of the four rebuilds since it was added";
}

TEST_F(SchedulerPageTasks, ButtonsActOnBothTasksOfAPairAndFollowTheSelection) {
    const wxDateTime none;
    plan({1, day(2024, 3, 5), none, 10, 0, 10, 30, {kSpeaker1}});  // 1 and 2
    plan({0, day(2024, 3, 5), none, 11, 0, -1, -1, {kSpeaker1}});  // 3
    plan({1, day(2024, 3, 5), none, 12, 0, -1, -1, {kSpeaker1}});  // 5
    EXPECT_FALSE(page->enableTask->IsEnabled());
    EXPECT_FALSE(page->deleteTask->IsEnabled());
    EXPECT_TRUE(page->addTask->IsEnabled());

    page->selectRows({0});
    EXPECT_TRUE(page->disableTask->IsEnabled());
    EXPECT_FALSE(page->enableTask->IsEnabled()) << "nothing selected is disabled";
    EXPECT_TRUE(page->deleteTask->IsEnabled());
    EXPECT_FALSE(page->addTask->IsEnabled());
    EXPECT_TRUE(page->edit->IsEnabled()) << "one row";
    Page::click(page->disableTask);
    EXPECT_FALSE(page->task(1)->isEnabled());
    EXPECT_FALSE(page->task(2)->isEnabled()) << "the stop task with it";
    EXPECT_EQ(page->row(0)[7], L"Выкл");
    EXPECT_FALSE(page->disableTask->IsEnabled());
    EXPECT_TRUE(page->addTask->IsEnabled());

    page->selectRows({0, 1});
    EXPECT_TRUE(page->enableTask->IsEnabled()) << "one disabled";
    EXPECT_TRUE(page->disableTask->IsEnabled()) << "one enabled";
    EXPECT_FALSE(page->edit->IsEnabled());
    page->taskList->SetItemState(1, 0, wxLIST_STATE_SELECTED);  // taken out of the selection
    EXPECT_EQ(page->selectedTaskIds(), Ids{1}) << "the other row stays selected";
    EXPECT_FALSE(page->disableTask->IsEnabled());
    EXPECT_TRUE(page->enableTask->IsEnabled());
    Page::click(page->enableTask);
    EXPECT_TRUE(page->task(1)->isEnabled() && page->task(2)->isEnabled());

    page->selectRows({1});
    Page::click(page->deleteTask);
    EXPECT_EQ(taskIds(), (Ids{1, 2, 5})) << "a row without a stop task takes only its task";
    page->selectRows({0});
    Page::click(page->deleteTask);
    EXPECT_EQ(taskIds(), (Ids{5})) << "a pair goes whole";
    EXPECT_EQ(loggedCount("Удалено задание №1", "INFO"), 1);
    EXPECT_FALSE(page->deleteTask->IsEnabled());
    Page::click(page->deleteTask);
    EXPECT_EQ(loggedCount("Нет выбранных задач", "NOTICE"), 1);
}

TEST_F(SchedulerPageTasks, FiltersKeepTheTasksThatPassEveryTickedOne) {
    const wxDateTime none;
    // clang-format off
    const std::vector<Item> items = {
        {1, day(2024, 3, 1),  none,              8,  0,  9,  0, {kSpeaker1}},             // 1
        {1, day(2024, 3, 1),  day(2024, 3, 10),  7, 59,  8, 30, {kSpeaker1}},             // 3
        {0, day(2024, 3, 20), none,              8,  0, -1, -1, {kSpeaker2}},             // 5
        {1, day(2024, 3, 15), day(2024, 3, 25), 12,  0, 18,  0, {kSpeaker2}},             // 7
        {1, day(2024, 3, 15), day(2024, 3, 25), 12,  0, 18,  1, {kSpeaker1}},             // 9
        {0, day(2024, 3, 5),  none,             18,  0, -1, -1, {kSpeaker1}},             // 11, disabled
        {1, day(2024, 3, 21), none,              7,  0,  9,  0, {kSpeaker2}},             // 13
        {1, day(2024, 3, 19), day(2024, 3, 20), 19,  0, -1, -1, {kSpeaker2}},             // 15, disabled
        {0, day(2024, 3, 21), none,              6,  0, -1, -1, {kSpeaker1}},             // 17
        {1, day(2024, 3, 10), day(2024, 3, 19), 10,  0, 11,  0, {kSpeaker2}},             // 19
        {1, day(2024, 3, 20), day(2024, 3, 20),  8,  0, 17,  0, {kSpeaker1, kSpeaker2}},  // 21
        {0, day(2024, 3, 20), none,             20,  0, -1, -1, {kSpeaker1}},             // 23
    };
    // clang-format on
    for (const Item& item : items) plan(item);
    page->task(11)->enable(false);
    page->task(15)->enable(false);
    ASSERT_EQ(page->getCore().getTasks().size(), 19u);
    const auto apply = [this] { Page::click(page->filterApply); };
    const auto only = [this](wxCheckBox* box) {
        for (wxCheckBox* each : {page->filterDate, page->filterStartTime, page->filterStopTime,
                                 page->filterEnabled, page->filterDevices, page->filterZones})
            Page::tick(each, each == box);
    };

    only(page->filterDate);
    page->filterCalendar->SetDate(day(2024, 3, 20));
    apply();
    EXPECT_EQ(page->rowIds(), (Ids{1, 5, 7, 9, 15, 21, 23})) << "an open-ended daily item included";

    only(page->filterStartTime);
    page->filterStartTimeText->ChangeValue(L"08:00");
    apply();
    EXPECT_EQ(page->rowIds(), (Ids{1, 5, 7, 9, 11, 15, 19, 21, 23}));
    only(page->filterStopTime);
    page->filterStopTimeText->ChangeValue(L"18:00");
    apply();
    EXPECT_EQ(page->rowIds(), (Ids{1, 3, 5, 7, 11, 13, 17, 19, 21})) << "without a stop, the start counts";
    Page::tick(page->filterStartTime, true);
    apply();
    EXPECT_EQ(page->rowIds(), (Ids{1, 5, 7, 11, 19, 21}));

    only(page->filterEnabled);
    apply();
    EXPECT_EQ(page->rowIds(), (Ids{1, 3, 5, 7, 9, 13, 17, 19, 21, 23}));

    only(page->filterDevices);
    const Ids before = page->rowIds();
    {
        ui_testing::ScriptedUi operatorUi;
        operatorUi.expect(L"Сообщение", wxID_OK);
        apply();
        EXPECT_EQ(operatorUi.shown().at(0).text, L"Не выбрано ни одного устройства");
    }
    EXPECT_EQ(page->rowIds(), before) << "the rows as they were";
    page->filterDeviceChoice->SetStringSelection(L"Громкоговоритель 2 (02:56:53:00:00:02)");
    apply();
    EXPECT_EQ(page->rowIds(), (Ids{5, 7, 13, 15, 19, 21}));

    only(page->filterZones);
    {
        ui_testing::ScriptedUi operatorUi;
        operatorUi.expect(L"Сообщение", wxID_OK);
        apply();
        EXPECT_EQ(operatorUi.shown().at(0).text, L"Не выбрано ни одной зоны");
    }
    EXPECT_EQ(page->rowIds(), (Ids{5, 7, 13, 15, 19, 21}));
    page->filterZoneChoice->SetStringSelection(L"Зал");
    apply();
    EXPECT_EQ(page->rowIds(), (Ids{1, 3, 9, 11, 17, 21, 23})) << "the loudspeakers filed in the zone itself";

    page->resetControls();
    EXPECT_EQ(page->rowIds().size(), 12u) << "the filter off";
}

// ---- the device list ---------------------------------------------------------------

TEST_F(SchedulerPageTasks, TheDeviceListIndentsByDepthAndTicksABranch) {
    EXPECT_EQ(page->deviceRows(), (Texts{L"Все зоны", L"   Зал", kSpeaker1, L"      Сцена", kSpeaker2}))
        << "no console, no hidden zone";
    ASSERT_EQ(page->filterZoneChoice->GetCount(), 2u);
    EXPECT_EQ(page->filterZoneChoice->GetString(1), L"Сцена");

    page->tickDevice(1);
    for (unsigned row = 1; row < 5; ++row) EXPECT_TRUE(page->devices->IsChecked(row)) << row;
    EXPECT_FALSE(page->devices->IsChecked(0));
    page->tickDevice(3, false);
    EXPECT_TRUE(page->devices->IsChecked(2)) << "a branch, not its neighbours";
    EXPECT_FALSE(page->devices->IsChecked(4));
    EXPECT_EQ(page->checkedDevices(), frm::DeviceSet{speakers[0]}) << "zone rows add no loudspeaker";
    page->tickDevice(4);
    page->tickDevice(2, false);
    EXPECT_EQ(page->checkedDevices(), frm::DeviceSet{speakers[1]});

    fresh->addElement(speakers[0]);
    fresh->setShown(true);
    page->resetControls();
    EXPECT_EQ(page->deviceRows()[1], L"   Новые усилители") << "shown once it holds a device";
    EXPECT_EQ(page->checkedDevices(), frm::DeviceSet()) << "the list was refilled";
}

TEST_F(SchedulerPageTasks, ASiteOfThousandsOfZonesFillsTheListsWholeAndTheDeviceListByWxsOwnRule) {
    for (int n = 0; n < 3000; ++n)
        stage->addElement(frm::ZoneElement::createDetached(L"Зона " + std::to_wstring(n)));
    const std::wstring longest = L"Зона с очень длинным названием, длиннее всех прочих";
    stage->getZones()[1234]->setName(longest);
    page->resetControls();

    ASSERT_EQ(page->filterZoneChoice->GetCount(), 3002u);
    EXPECT_EQ(page->filterZoneChoice->GetString(3001), L"Зона 2999");
    EXPECT_TRUE(page->filterZoneChoice->SetStringSelection(L"Зона 2500"));
    ASSERT_EQ(page->devices->GetCount(), 3005u);
    // As wide as the widest row with its check box, as tall as wx makes it.
    const wxSize fit = page->devices->GetMinSize();
    EXPECT_GT(fit.x, page->devices->GetTextExtent(L"         " + longest).x);
    const auto widestRow = [&] {
        int widest = 0;
        for (unsigned row = 0; row < page->devices->GetCount(); ++row)
            for (const wxString& line : wxSplit(page->devices->GetString(row), L'\n', L'\0'))
                widest = std::max(widest, page->devices->GetTextExtent(line).x);
        return widest;
    };
    const int before = widestRow();
    stage->getZones()[1234]->setName(longest.substr(0, 40));
    page->resetControls();
    EXPECT_EQ(page->devices->GetMinSize().x - fit.x, widestRow() - before) << "the rows measured each alone";
    page->devices->SetMinSize(wxDefaultSize);
    page->devices->InvalidateBestSize();
    EXPECT_EQ(fit.y, page->devices->GetBestSize().y);
}

// ---- what the other pages ask ------------------------------------------------------

TEST_F(SchedulerPageTasks, RenamingAPlaylistRenamesEveryTaskInOnePassAndTheFileKeepsIt) {
    const wxDateTime none;
    plan({1, day(2024, 3, 5), none, 10, 0, 10, 30, {kSpeaker1}});                          // 1, 2
    plan({0, day(2024, 3, 6), none, 10, 0, -1, -1, {kSpeaker1}});                          // 3
    plan({0, day(2024, 3, 6), none, 11, 0, -1, -1, {kSpeaker2}}, L"Плейлисты", L"Вечер");  // 5
    plan({0, day(2024, 3, 6), none, 12, 0, -1, -1, {kSpeaker2}}, L"Служебные сообщения", L"Объявления: Обед");
    EXPECT_TRUE(page->existPlaylist(L"Утро"));
    EXPECT_TRUE(page->existPlaylist(L"Объявления: Обед"));
    EXPECT_FALSE(page->existPlaylist(L"Радио Сити")) << "a playlist that no task plays";
    EXPECT_FALSE(page->existPlaylist(L"утро")) << "letter case counts";

    page->renamePlaylist(L"Утро", L"Утро");  // once looped for ever
    page->renamePlaylist(L"Утро", L"Рассвет");
    for (const std::uint32_t id : {1u, 2u, 3u})
        EXPECT_EQ(page->vault(id).playback->getName(), L"Рассвет") << id;
    EXPECT_EQ(page->vault(1).playback, page->vault(2).playback) << "the pair still shares its playback";
    EXPECT_EQ(page->vault(5).playback->getName(), L"Вечер");
    EXPECT_EQ(find(sources, L"playlist", L"Утро")->getName(), L"Утро")
        << "the sources are the playlist page's";
    EXPECT_FALSE(page->existPlaylist(L"Утро"));
    EXPECT_EQ(page->row(0)[4], L"Плейлисты: Рассвет");

    EXPECT_TRUE(page->isUsedDevice(speakers[0]));
    EXPECT_TRUE(page->isUsedDevice(speakers[1])) << "the evening playlist";
    page->selectRows({2});
    Page::click(page->deleteTask);
    EXPECT_FALSE(page->isUsedDevice(speakers[1])) << "a message task does not count";
    EXPECT_FALSE(page->isUsedDevice(speakers[2]));

    page->saveToFile(base::fromUtf8(m_file));
    EXPECT_EQ(gui_testing::xmllintXpath(m_file, "count(//subPlaceName[text()=\"Рассвет\"])"), "2");
    EXPECT_EQ(gui_testing::xmllintXpath(m_file, "count(//subPlaceName[text()=\"Утро\"])"), "0");
}

}  // namespace
