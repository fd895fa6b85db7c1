// The rule of the number fields: only a whole decimal number within the
// field's range is taken; empty, other characters and numbers outside the
// range are refused (never clamped), however large the number; and the
// refusal names the field, what was typed and the range.
#include <gtest/gtest.h>

#include <string>

#include "base/number_text.h"
#include "base/text.h"

using base::NumberText;
using base::readNumberText;

TEST(NumberText, TakesOnlyWholeDecimalNumbersWithinTheRange) {
    const auto value = [](const wchar_t* text) {
        const NumberText read = readNumberText(text, 1024, 65500);
        return read.kind == NumberText::Number ? read.value : -1;
    };
    EXPECT_EQ(value(L"1024"), 1024);
    EXPECT_EQ(value(L"65500"), 65500);
    EXPECT_EQ(value(L" 11990\t"), 11990);
    EXPECT_EQ(value(L"02000"), 2000);
    EXPECT_EQ(readNumberText(L"-8", -8, 7).value, -8);
    // A sign is a sign either way: "+2000" is the number 2000, and "-0" is 0.
    EXPECT_EQ(value(L"+2000"), 2000);
    EXPECT_EQ(readNumberText(L" +7", -8, 7).value, 7);
    EXPECT_EQ(readNumberText(L"-0", 0, 7).kind, NumberText::Number);

    const auto kind = [](const wchar_t* text) { return readNumberText(text, 1024, 65500).kind; };
    for (const wchar_t* text : {L"", L"  "}) EXPECT_EQ(kind(text), NumberText::Empty) << base::toUtf8(text);
    for (const wchar_t* text :
         {L"abc", L"12a", L"2000.5", L"2,000", L"11 990", L"-", L"+", L"--2000", L"+-2000", L"-+2000", L"++2000",
          L"\u0662\u0660\u0660\u0660" /* digits of another script */, L"99999999999999999999x"})
        EXPECT_EQ(kind(text), NumberText::NotANumber) << base::toUtf8(text);
    // 2^32 + 2000 and 2^64 + 2000 too: a number that would wrap in a narrower
    // type must not come back inside the range.
    for (const wchar_t* text : {L"1023", L"65501", L"-2000", L"+65501", L"-0", L"4294969296", L"18446744073709553616"})
        EXPECT_EQ(kind(text), NumberText::OutOfRange) << base::toUtf8(text);
}

TEST(NumberText, TheRefusalNamesTheFieldWhatWasTypedAndTheRange) {
    const auto refusal = [](const std::wstring& text) {
        return base::numberTextRefusal(L"Базовый порт", text, readNumberText(text, 1024, 65500), 1024, 65500);
    };
    EXPECT_EQ(refusal(L" "), L"Поле \"Базовый порт\" не заполнено. Введите целое число от 1024 до 65500.");
    EXPECT_EQ(refusal(L"12a "),
              L"В поле \"Базовый порт\" введено \"12a\": это не целое число. "
              L"Введите целое число от 1024 до 65500.");
    // Out of range, the text is quoted as typed, as any other.
    EXPECT_EQ(refusal(L"70000"),
              L"В поле \"Базовый порт\" введено \"70000\": это число вне допустимых пределов. "
              L"Введите целое число от 1024 до 65500.");
    EXPECT_EQ(refusal(L"-0"),
              L"В поле \"Базовый порт\" введено \"-0\": это число вне допустимых пределов. "
              L"Введите целое число от 1024 до 65500.");
    EXPECT_EQ(refusal(L"+70000"),
              L"В поле \"Базовый порт\" введено \"+70000\": это число вне допустимых пределов. "
              L"Введите целое число от 1024 до 65500.");
}
