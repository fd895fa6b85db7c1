#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/text.h"
#include "device/command.h"
#include "device/version.h"

using namespace device;

TEST(ModelTable, EveryCodeAndNameMapBothWays) {
    const struct {
        std::uint64_t code;
        const wchar_t* name;
    } models[] = {{0x300002, L"Orvel-510"},     {0x500004, L"Orvel-610"},
                  {0x500010, L"Orvel-610-PSS"}, {0x500020, L"Orvel-610-LC"},
                  {0x1500040, L"Orvel-611"},    {0x1101000, L"Orvel-45"},
                  {0x1102000, L"Orvel-Lan"},    {0x1804000, L"Tovik-30"}};
    for (const auto& model : models) {
        EXPECT_EQ(toText(model.code), model.name);
        EXPECT_EQ(toFirmwareType(model.name), model.code) << model.code;
    }
    EXPECT_EQ(toText(0x300001), L"Orvel-510") << "the older Orvel-510 code has the same name";
}

TEST(ModelTable, AnythingElseIsUnsupportedOrZero) {
    for (std::uint64_t code : {0ull, 0x300000ull, 0x300003ull, 0x100000ull, 0x1804001ull, ~0ull})
        EXPECT_EQ(toText(code), L"Unsupported") << code;
    // Whole-text comparison: no prefixes, no case folding, no blanks.
    for (const wchar_t* name : {L"", L"Orvel", L"Orvel-61", L"Orvel-6100", L"orvel-610",
                                L"Orvel-610 ", L" Orvel-610", L"Orvel-610-", L"Unsupported"})
        EXPECT_EQ(toFirmwareType(name), 0u) << base::toNarrow(name);
}

TEST(ModelTable, FamilyBitsOfEveryModel) {
    for (std::uint64_t code : {kTypeOrvel510, kTypeOrvel510Old, kTypeOrvel610, kTypeOrvel611, kTypeOrvel45,
                               kTypeOrvelLan})
        EXPECT_EQ(code & kMaskLoudspeaker, kMaskLoudspeaker) << std::hex << code;
    EXPECT_EQ(kTypeOrvel510 & kMaskOrvel510, kMaskOrvel510);
    EXPECT_NE(kTypeOrvel610 & kMaskOrvel510, kMaskOrvel510);
    EXPECT_EQ(kTypeOrvel611 & kMaskOrvel610Family, kMaskOrvel610Family);
    EXPECT_EQ(kTypeTovik30 & kMaskConsole, kMaskConsole);
    EXPECT_EQ(kTypeTovik30 & kMaskLanFamily, kMaskLanFamily);
    EXPECT_EQ(kTypeOrvel610 & kMaskLanFamily, 0u);
}

TEST(ParseVersion, ReadsModelNumbersAndDate) {
    Version v;
    ASSERT_TRUE(parseVersion("Orvel-610 1.2.112.17105 Mar 03 2021 ", v));
    EXPECT_EQ(v.typeCode, kTypeOrvel610);
    EXPECT_EQ(v.major, 1u);
    EXPECT_EQ(v.minor, 2u);
    EXPECT_EQ(v.build, 112u);
    EXPECT_EQ(v.revision, 17105u);
    EXPECT_EQ(v.buildDate, "Mar 03 2021");
    EXPECT_FALSE(v.debug);
    EXPECT_FALSE(v.emulator);
    EXPECT_EQ(v.text, "Orvel-610 1.2.112.17105 Mar 03 2021 ");

    ASSERT_TRUE(parseVersion("Tovik-30 0.1.7.0", v));
    EXPECT_EQ(v.typeCode, kTypeTovik30);
    EXPECT_EQ(v.buildDate, "");
    EXPECT_EQ(v.minor, 1u);

    ASSERT_TRUE(parseVersion("Orvel-45 2.0.3.4 2020-01-01 DEBUG Emulator", v));
    EXPECT_TRUE(v.debug);
    EXPECT_TRUE(v.emulator);

    ASSERT_TRUE(parseVersion("Orvel-510  1.0.4294967295.0 x", v)) << "%u skips blanks, max 32 bits";
    EXPECT_EQ(v.typeCode, kTypeOrvel510);
    EXPECT_EQ(v.build, 4294967295u);
}

TEST(ParseVersion, UnknownModelParsesWithCodeZero) {
    Version v;
    ASSERT_TRUE(parseVersion("Acme-1 1.0.0.0 today", v));
    EXPECT_EQ(v.typeCode, 0u);
    EXPECT_EQ(v.text, "Acme-1 1.0.0.0 today");
}

TEST(ParseVersion, RefusesIncompleteOrMalformedTextAndKeepsTheRecord) {
    Version v;
    ASSERT_TRUE(parseVersion("Orvel-45 3.1.4.1 d", v));
    const Version before = v;
    for (const char* text : {"", "Orvel-610", "Orvel-610 ", " Orvel-610 1.0.1.0", "Orvel-610 1.0.1",
                             "Orvel-610 1.0.1.", "Orvel-610 1..1.0", "Orvel-610 a.0.1.0",
                             "Orvel-610 -1.0.1.0", "Orvel-610 +1.0.1.0", "Orvel-610 1,0,1,0",
                             "Orvel-610 1.0.4294967296.0", "Orvel-610 99999999999999999999.0.1.0",
                             "Orvel-610\t"}) {
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
    EXPECT_TRUE(handleResponse("OK"));
    EXPECT_TRUE(handleResponse("OK\r\n"));
    EXPECT_TRUE(handleResponse("SUCCESS: written"));
    EXPECT_TRUE(handleResponse("  \r\nOK"));
    for (const char* data : {"", "  ", "-15", "3B:3B", "Active,0,100:1", "Orvel-610 1.0.1.0", "ok", "SUCCES",
                             "O", "E", "ER"})
        EXPECT_FALSE(handleResponse(data)) << data;
    try {
        handleResponse(" ERR wrong argument\r\n");
        FAIL() << "an error reply must throw";
    } catch (const exception::UnexpectedResponseOfDevice& error) {
        EXPECT_EQ(error.getResponse(), " ERR wrong argument\r\n") << "the raw reply is kept";
    }
}
