#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/text_checks.h"

namespace {

std::string shown(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST(TitleCheck, AcceptsPrintableCp1251TextOfOneTo64Characters) {
    std::wstring cyrillic;
    while (cyrillic.size() < 64) cyrillic += L"Эвакуация 12 ";
    cyrillic.resize(64);
    // "Ё" and "ё" lie outside the explicit А-я ranges: only the UTF-8
    // classification of the pattern, not the global locale, makes them printable.
    for (const std::wstring& good : {std::wstring(64, L'a'), cyrillic, std::wstring(L"Ёлка №5"),
                                     std::wstring(L"Сообщение «ёж» — тест"), std::wstring(L"Зал © 2024 §1")})
        EXPECT_TRUE(isValidTitle(good)) << shown(good);
    for (const std::wstring& bad :
         {std::wstring(), std::wstring(65, L'a'), cyrillic + L"я", std::wstring(L"Пожар\tэтаж 2"),
          std::wstring(L"line\n"), std::wstring(L"Café №1") /* printable, but no CP1251 byte */,
          std::wstring(L"火警"), std::wstring(L"Zone ☺"), std::wstring(L"Ελλάδα")})
        EXPECT_FALSE(isValidTitle(bad)) << shown(bad);
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
    EXPECT_TRUE(isHexText("0123456789abcdefABCDEF"));
    for (const char* bad : {"", "0x1F", " 1F", "1F ", "1G"}) EXPECT_FALSE(isHexText(bad)) << bad;
}

TEST(SchedulerTextCheck, DatesAndTimes) {
    for (const wchar_t* good : {L"2000-01-01", L"2100-12-31", L"2024-00-00", L"2024-02-31"})
        EXPECT_TRUE(parseDate(good)) << shown(good);
    for (const wchar_t* bad : {L"1999-12-31", L"2101-01-01", L"2024-13-01", L"2024-1-01", L" 2024-01-01",
                               L"2024-01-01 ", L"2024-01-32", L"2024/01/01", L"", L"٢٠٢٤-01-01"})
        EXPECT_FALSE(parseDate(bad)) << shown(bad);
    for (const wchar_t* good : {L"0:00", L"7:05", L"23:59:59", L"00:00:00"})
        EXPECT_TRUE(parseTime(good)) << shown(good);
    for (const wchar_t* bad : {L"24:00", L"7:5", L"07:05:60", L"123:00", L"12:00:", L"12:60", L"", L":00",
                               L"12:00:0", L"1a:00"})
        EXPECT_FALSE(parseTime(bad)) << shown(bad);
}
