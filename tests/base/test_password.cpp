#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/password.h"

TEST(Password, EveryLatin1CharacterRoundTripsAndTheDefaultIsTypeable) {
    EXPECT_EQ(decodePassword(defaultStoredPassword), L"123456");
    std::wstring all;
    for (wchar_t c = 0; c <= 0xFF; ++c) {
        const std::wstring one(1, c);
        ASSERT_EQ(decodePassword(encodePassword(one)), one) << static_cast<int>(c);
        all += c;
    }
    const std::wstring stored = encodePassword(all);
    EXPECT_TRUE(std::regex_match(std::string(stored.begin(), stored.end()), std::regex("([0-9A-F]{2})*")))
        << "two upper-case hexadecimal digits per character";
    EXPECT_EQ(decodePassword(stored), all);
}

TEST(Password, ACharacterScrambledToZeroDoesNotCutThePasswordShort) {
    // The character whose scrambled code is 0 is written "00"; decoding must
    // go on past it, or the operator who chose it is locked out.
    const std::wstring chosen = L"aZbZZ";
    const std::wstring stored = encodePassword(chosen);
    EXPECT_NE(stored.find(L"00"), std::wstring::npos);
    EXPECT_EQ(decodePassword(stored), chosen);
}

TEST(Password, CharactersAboveLatin1AreRefusedWithAUserError) {
    for (const wchar_t* password : {L"пароль", L"abc\u0100", L"\u20AC123", L"x\U0001F600"})
        EXPECT_THROW(encodePassword(password), exception::UserError) << "two digits cannot carry it";
}

TEST(Password, DecodingReadsEitherCaseAndALoneLastDigit) {
    EXPECT_EQ(decodePassword(L"6b68696e6f6c"), L"123456");
    EXPECT_EQ(decodePassword(L""), L"");
    // "6B" and a lone "6": 0x06 ^ key.
    EXPECT_EQ(decodePassword(L"6B6"), std::wstring(L"1") + static_cast<wchar_t>(0x06 ^ 0x5A));
}
