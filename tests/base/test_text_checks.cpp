#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/text_checks.h"

TEST(TitleCheck, AcceptsPrintableCp1251TextOfOneTo64Characters) {
    EXPECT_FALSE(isValidTitle(L""));
    EXPECT_FALSE(isValidTitle(std::wstring(65, L'a')));
    EXPECT_TRUE(isValidTitle(std::wstring(64, L'a')));
    std::wstring cyrillic;
    while (cyrillic.size() < 64) cyrillic += L"Эвакуация 12 ";
    cyrillic.resize(64);
    EXPECT_TRUE(isValidTitle(cyrillic));
    EXPECT_FALSE(isValidTitle(cyrillic + L"я"));
    EXPECT_FALSE(isValidTitle(L"Пожар\tэтаж 2")) << "a tab is not printable";
    EXPECT_FALSE(isValidTitle(L"line\n"));
}

TEST(TitleCheck, ClassifiesCyrillicIndependentlyOfTheGlobalLocale) {
    // "Ё" and "ё" lie outside the explicit А-я ranges: only the UTF-8
    // classification of the pattern makes them printable.
    EXPECT_TRUE(isValidTitle(L"Ёлка №5"));
    EXPECT_TRUE(isValidTitle(L"Сообщение «ёж» — тест"));
    EXPECT_TRUE(isValidTitle(L"Зал © 2024 §1"));
    EXPECT_FALSE(isValidTitle(L"Café №1")) << "é is printable but has no code page 1251 byte";
}

TEST(TitleCheck, RefusesPrintableTextThatCp1251CannotCarry) {
    EXPECT_FALSE(isValidTitle(L"火警"));
    EXPECT_FALSE(isValidTitle(L"Zone ☺"));
    EXPECT_FALSE(isValidTitle(L"Ελλάδα"));
}

TEST(TitleCheck, CompilesItsPatternOnceUnderConcurrentFirstUse) {
    std::vector<std::thread> threads;
    std::vector<int> results(8, 0);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&results, i] { results[i] = isValidTitle(L"Зона " + std::to_wstring(i)) ? 1 : 0; });
    for (auto& t : threads) t.join();
    for (int r : results) EXPECT_EQ(r, 1);
}

TEST(HexTextCheck, AcceptsOnlyHexDigits) {
    EXPECT_FALSE(isHexText(""));
    EXPECT_TRUE(isHexText("0a1B"));
    EXPECT_TRUE(isHexText("0123456789abcdefABCDEF"));
    EXPECT_FALSE(isHexText("0x1F"));
    EXPECT_FALSE(isHexText(" 1F"));
    EXPECT_FALSE(isHexText("1F "));
    EXPECT_FALSE(isHexText("1G"));
}

TEST(SchedulerTextCheck, Dates) {
    for (const wchar_t* good : {L"2000-01-01", L"2100-12-31", L"2024-00-00", L"2024-02-31", L"2050-06-15"})
        EXPECT_TRUE(parseDate(good)) << std::string(good, good + wcslen(good));
    for (const wchar_t* bad : {L"1999-12-31", L"2101-01-01", L"2024-13-01", L"2024-1-01", L" 2024-01-01",
                               L"2024-01-01 ", L"2024-01-32", L"2024/01/01", L"", L"٢٠٢٤-01-01"})
        EXPECT_FALSE(parseDate(bad)) << std::string(bad, bad + wcslen(bad));
}

TEST(SchedulerTextCheck, Times) {
    for (const wchar_t* good : {L"0:00", L"7:05", L"23:59:59", L"00:00:00", L"9:30:00", L"23:59"})
        EXPECT_TRUE(parseTime(good)) << std::string(good, good + wcslen(good));
    for (const wchar_t* bad : {L"24:00", L"7:5", L"07:05:60", L"123:00", L"12:00:", L"12:60", L"", L":00",
                               L"12:00:0", L"1a:00"})
        EXPECT_FALSE(parseTime(bad)) << std::string(bad, bad + wcslen(bad));
}
