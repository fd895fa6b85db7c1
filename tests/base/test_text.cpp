#include <iconv.h>

#include <string>

#include <gtest/gtest.h>

#include "base/text.h"

namespace {

// The system's own converter, for comparison: -1 when it refuses the byte.
long iconvCharacter(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-32LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return -2;
    char in[1] = {static_cast<char>(byte)};
    unsigned char out[8] = {};
    char* inPtr = in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = sizeof out;
    const size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1)) return -1;
    return out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<long>(out[3]) << 24);
}

}  // namespace

TEST(Cp1251, AgreesWithIconvOnEveryByte) {
    for (int byte = 1; byte < 256; ++byte) {
        const std::wstring wide = base::toWide(std::string(1, static_cast<char>(byte)));
        ASSERT_EQ(wide.size(), 1u) << byte;
        const long expected = iconvCharacter(static_cast<unsigned char>(byte));
        ASSERT_NE(expected, -2) << "iconv has no CP1251";
        if (expected == -1) {
            EXPECT_EQ(byte, 0x98);  // unassigned in the code page: our own choice, U+0098
            EXPECT_EQ(static_cast<long>(wide[0]), 0x98L);
        } else {
            EXPECT_EQ(static_cast<long>(wide[0]), expected) << "byte " << byte;
        }
        // ...and back to the same byte.
        EXPECT_EQ(base::toNarrow(wide), std::string(1, static_cast<char>(byte))) << byte;
    }
}

TEST(Cp1251, UnrepresentableCharactersBecomeQuestionMarksAndNullEndsTheText) {
    // A character outside the code page must not throw: this runs inside
    // exception constructors and log calls.
    EXPECT_EQ(base::toNarrow(L"a\u4E2Db\U0001F600"), "a?b?");
    EXPECT_FALSE(base::isRepresentableInCp1251(L"a\u4E2D"));
    EXPECT_TRUE(base::isRepresentableInCp1251(L"Зал №1"));
    EXPECT_EQ(base::toNarrow(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(base::toWide(std::string("ab\0cd", 5)), L"ab");
}

TEST(Cp1251, BufferWrappersReturnLengthAndTerminate) {
    char narrow[16];
    std::fill(std::begin(narrow), std::end(narrow), 'x');
    EXPECT_EQ(toCharBuffer(narrow, L"Дом"), 3);
    EXPECT_STREQ(narrow, "\xC4\xEE\xEC");
    wchar_t wide[16];
    EXPECT_EQ(toWCharBuffer(wide, "\xC4\xEE\xEC"), 3);
    EXPECT_EQ(std::wstring(wide), L"Дом");
}

TEST(Utf8, RoundTripAndValidation) {
    const std::wstring text = L"Путь/к/файлу ✓ \U0001F600";
    EXPECT_EQ(base::fromUtf8(base::toUtf8(text)), text);
    EXPECT_TRUE(base::isValidUtf8(base::toUtf8(text)));
    EXPECT_FALSE(base::isValidUtf8("\xCF\xF0\xE8"));  // code page 1251 bytes
}
