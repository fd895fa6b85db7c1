#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/text.h"
#include "device/command.h"
#include "device/device_base.h"
#include "device/version.h"
#include "tests/device/thrown.h"

using namespace device;

TEST(ModelTable, EveryCodeAndNameMapBothWaysAnythingElseIsUnsupportedOrZero) {
    const struct {
        std::uint64_t code;
        const wchar_t* name;
    } models[] = {{0x300002, L"Orvel-510"},    {0x500004, L"Orvel-610"},  {0x500010, L"Orvel-610-PSS"},
                  {0x500020, L"Orvel-610-LC"}, {0x1500040, L"Orvel-611"}, {0x1101000, L"Orvel-45"},
                  {0x1102000, L"Orvel-Lan"},   {0x1804000, L"Tovik-30"}};
    for (const auto& model : models) {
        EXPECT_EQ(toText(model.code), model.name);
        EXPECT_EQ(toFirmwareType(model.name), model.code) << model.code;
    }
    EXPECT_EQ(toText(0x300001), L"Orvel-510") << "the older Orvel-510 code has the same name";

    for (std::uint64_t code : {0ull, 0x300000ull, 0x300003ull, 0x100000ull, 0x1804001ull, ~0ull})
        EXPECT_EQ(toText(code), L"Unsupported") << code;
    // Whole-text comparison: no prefixes, no case folding, no blanks.
    for (const wchar_t* name : {L"", L"Orvel", L"Orvel-61", L"Orvel-6100", L"orvel-610", L"Orvel-610 ", L" Orvel-610",
                                L"Orvel-610-", L"Unsupported"})
        EXPECT_EQ(toFirmwareType(name), 0u) << base::toNarrow(name);
}

TEST(ParseVersion, ReadsModelNumbersAndDate) {
    const struct {
        const char* text;
        std::uint64_t code;
        unsigned major, minor, build, revision;
        const char* date;
        bool debug, emulator;
    } rows[] = {
        {"Orvel-610 1.2.112.17105 Mar 03 2021 ", kTypeOrvel610, 1, 2, 112, 17105, "Mar 03 2021", false, false},
        {"Tovik-30 0.1.7.0", kTypeTovik30, 0, 1, 7, 0, "", false, false},
        {"Orvel-45 2.0.3.4 2020-01-01 DEBUG Emulator", kTypeOrvel45, 2, 0, 3, 4, "2020-01-01 DEBUG Emulator", true,
         true},
        // %u skips blanks and takes the whole 32 bits.
        {"Orvel-510  1.0.4294967295.0 x", kTypeOrvel510, 1, 0, 4294967295u, 0, "x", false, false},
        {"Acme-1 1.0.0.0 today", 0, 1, 0, 0, 0, "today", false, false},  // an unknown model has code 0
        // The model is compared as a whole word.
        {"Orvel-610-PSS 1.0.0.0", kTypeOrvel610Pss, 1, 0, 0, 0, "", false, false},
        {"Orvel-61 1.0.0.0", 0, 1, 0, 0, 0, "", false, false},
        {"Orvel-6100 1.0.0.0", 0, 1, 0, 0, 0, "", false, false},
        {"Orvel-610\xC0 1.0.0.0", 0, 1, 0, 0, 0, "", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        Version v;
        ASSERT_TRUE(parseVersion(row.text, v));
        EXPECT_EQ(v.typeCode, row.code);
        EXPECT_EQ(std::vector<unsigned>({v.major, v.minor, v.build, v.revision}),
                  std::vector<unsigned>({row.major, row.minor, row.build, row.revision}));
        EXPECT_EQ(v.buildDate, row.date);
        EXPECT_EQ(v.debug, row.debug);
        EXPECT_EQ(v.emulator, row.emulator);
        EXPECT_EQ(v.text, row.text);
    }
}

TEST(ParseVersion, RefusesIncompleteOrMalformedTextAndKeepsTheRecord) {
    Version v;
    ASSERT_TRUE(parseVersion("Orvel-45 3.1.4.1 d", v));
    const Version before = v;
    for (const char* text :
         {"", "Orvel-610", "Orvel-610 ", " Orvel-610 1.0.1.0", "Orvel-610 1.0.1", "Orvel-610 1.0.1.",
          "Orvel-610 1..1.0", "Orvel-610 a.0.1.0", "Orvel-610 -1.0.1.0", "Orvel-610 +1.0.1.0", "Orvel-610 1,0,1,0",
          "Orvel-610 1.0.4294967296.0", "Orvel-610 99999999999999999999.0.1.0", "Orvel-610\t"}) {
        EXPECT_FALSE(parseVersion(text, v)) << text;
        EXPECT_EQ(v.text, before.text);
        EXPECT_EQ(v.typeCode, before.typeCode);
    }
}

TEST(FormatCommand, FormatsAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(formatCommand("set vol %02X:%02X", 0xFE, 0xFE), "set vol FE:FE");
    EXPECT_EQ(formatCommand("set vol %i", -15), "set vol -15");
    const std::string longest(kCommandBufferSize - 1, 'z');
    EXPECT_EQ(formatCommand("%s", longest.c_str()), longest);
    const std::string tooLong(kCommandBufferSize, 'z');
    EXPECT_THROW(formatCommand("%s", tooLong.c_str()), exception::InternalError);
    EXPECT_THROW(formatCommand("x%s", longest.c_str()), exception::InternalError);
}

TEST(HandleResponse, ClassifiesSuccessErrorAndData) {
    // The device base class answers with the same rule.
    for (const auto handle : {&handleResponse, &DeviceBase::handleResponse}) {
        for (const char* success : {"OK", "OK\r\n", "SUCCESS: written", "  \r\nOK"})
            EXPECT_TRUE(handle(success)) << success;
        for (const char* data :
             {"", "  ", "-15", "3B:3B", "Active,0,100:1", "Orvel-610 1.0.1.0", "ok", "SUCCES", "O", "E", "ER"})
            EXPECT_FALSE(handle(data)) << data;
        EXPECT_EQ(device_test::responseOf<exception::UnexpectedResponseOfDevice>(
                      [&] { handle(" ERR wrong argument\r\n"); }),
                  " ERR wrong argument\r\n")
            << "an error reply throws, keeping the raw reply";
    }
}
