#include <set>
#include <string>

#include <gtest/gtest.h>

#include "base/static_tables.h"

TEST(PlaybackTypeNames, LookupComparesWholeCodesAndNamesAreUnique) {
    EXPECT_EQ(findPlaybackTypeName(0), L"none");
    EXPECT_EQ(findPlaybackTypeName(0x0600000000000003ull), L"radio");
    EXPECT_EQ(findPlaybackTypeName(0x0600000000000002ull), L"unknown") << "absent code";
    EXPECT_EQ(findPlaybackTypeName(0x0E00000000002900ull), L"voice_high_priority");
    // The class byte is part of the code: the right source bits under another
    // class byte are not that row.
    EXPECT_EQ(findPlaybackTypeName(0x0900000000300000ull), L"unknown");
    EXPECT_EQ(findPlaybackTypeName(0x0B00000000300000ull), L"fragment");
    EXPECT_EQ(findPlaybackTypeName(~0ull), L"unknown");
    std::set<std::wstring> names;
    for (const auto& row : playbackTypeNames) EXPECT_TRUE(names.insert(row.second).second) << row.first;
}

TEST(LineControlState, FirstNameFoundInTheReplyRegardlessOfCase) {
    EXPECT_EQ(findLineControlState("ACTIVE,1,100: ..."), 2u);
    EXPECT_EQ(findLineControlState("active,0,100:"), 2u);
    EXPECT_EQ(findLineControlState("Pause then Not Ready"), 1u) << "rows are tried in key order";
    EXPECT_EQ(findLineControlState("module PAUSE"), 3u);
    EXPECT_EQ(findLineControlState(""), 0u);
    EXPECT_EQ(findLineControlState("NotReady"), 0u);
}
