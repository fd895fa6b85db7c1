#include <gtest/gtest.h>

#include "gui/notice_list.h"

namespace {

std::vector<std::wstring> texts(const frm::NoticeList& list) {
    std::vector<std::wstring> shown;
    for (const frm::Notice& notice : list.entries()) shown.push_back(frm::NoticeList::shownText(notice));
    return shown;
}

}  // namespace

TEST(NoticeList, RepeatsAreCountedOnTheirEntryWhichKeepsItsPlaceAndTime) {
    frm::NoticeList list;
    EXPECT_EQ(list.add(L"10:00:00", L"Ошибка", L"Нет захвата звука"), 0u);
    EXPECT_EQ(list.add(L"10:00:01", L"Внимание", L"Диск почти заполнен"), 1u);
    for (int n = 1; n < 20; ++n) EXPECT_EQ(list.add(L"10:00:02", L"Ошибка", L"Нет захвата звука"), 0u);
    EXPECT_TRUE(list.countRepeat(L"Внимание", L"Диск почти заполнен"));
    // The same text under another caption is another notice.
    EXPECT_EQ(list.add(L"10:00:03", L"Сообщение", L"Нет захвата звука"), 2u);
    EXPECT_FALSE(list.countRepeat(L"Ошибка", L"Не показано"));

    ASSERT_EQ(list.entries().size(), 3u);
    EXPECT_EQ(list.entries()[0].time, L"10:00:00");
    EXPECT_EQ(list.entries()[0].count, 20);
    EXPECT_EQ(texts(list), (std::vector<std::wstring>{L"Нет захвата звука (\u00D720)", L"Диск почти заполнен (\u00D72)",
                                                      L"Нет захвата звука"}));
    EXPECT_EQ(list.text(),
              L"10:00:00  Ошибка\nНет захвата звука (\u00D720)\n\n"
              L"10:00:01  Внимание\nДиск почти заполнен (\u00D72)\n\n"
              L"10:00:03  Сообщение\nНет захвата звука");

    list.clear();  // closed: the next repeat is a new notice
    EXPECT_FALSE(list.countRepeat(L"Ошибка", L"Нет захвата звука"));
    list.add(L"10:01:00", L"Ошибка", L"Нет захвата звука");
    EXPECT_EQ(texts(list), std::vector<std::wstring>{L"Нет захвата звука"});
}

TEST(NoticeList, BeyondItsLimitTheOldestEntriesGo) {
    frm::NoticeList list(3);
    for (const wchar_t* text : {L"1", L"2", L"3", L"4"}) list.add(L"10:00:00", L"Ошибка", text);
    list.add(L"10:00:00", L"Ошибка", L"3");  // a repeat adds no entry, so nothing goes
    EXPECT_EQ(texts(list), (std::vector<std::wstring>{L"2", L"3 (\u00D72)", L"4"}));
    list.add(L"10:00:00", L"Ошибка", L"1");  // gone before: a new entry at the end
    EXPECT_EQ(texts(list), (std::vector<std::wstring>{L"3 (\u00D72)", L"4", L"1"}));
    EXPECT_EQ(frm::NoticeList(0).add(L"10:00:00", L"Ошибка", L"один"), 0u);  // at least one is kept
}
