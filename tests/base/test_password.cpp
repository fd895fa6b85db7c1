#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/password.h"

TEST(Password, DefaultStoredPasswordIsTypeable) {
    EXPECT_EQ(decodePassword(defaultStoredPassword), L"123456");
    EXPECT_EQ(encodePassword(L"123456"), defaultStoredPassword);
}

TEST(Password, EveryLatin1CharacterRoundTrips) {
    std::wstring all;
    for (wchar_t c = 0; c <= 0xFF; ++c) {
        const std::wstring one(1, c);
        const std::wstring stored = encodePassword(one);
        ASSERT_EQ(stored.size(), 2u) << static_cast<int>(c);
        ASSERT_EQ(decodePassword(stored), one) << static_cast<int>(c);
        all += c;
    }
    const std::wstring stored = encodePassword(all);
    EXPECT_EQ(stored.size(), 2 * all.size());
    EXPECT_TRUE(std::regex_match(std::string(stored.begin(), stored.end()), std::regex("[0-9A-F]*")))
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
    for (const wchar_t* password : {L"пароль", L"abc\u0100", L"\u20AC123", L"x\U0001F600"}) {
        try {
            encodePassword(password);
            ADD_FAILURE() << "accepted a character that two digits cannot carry";
        } catch (const exception::UserError& e) {
            EXPECT_FALSE(e.getNotification().empty());
        }
    }
}

TEST(Password, DecodingReadsEitherCaseAndALoneLastDigit) {
    EXPECT_EQ(decodePassword(L"6b68696e6f6c"), L"123456");
    EXPECT_EQ(decodePassword(L""), L"");
    EXPECT_EQ(encodePassword(L""), L"");
    // "6B" and a lone "6": 0x06 ^ key.
    EXPECT_EQ(decodePassword(L"6B6"), std::wstring(L"1") + static_cast<wchar_t>(0x06 ^ 0x5A));
}
