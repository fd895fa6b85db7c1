// The debug page's message table without a window: numbered messages by
// ascending number per request kind, the fall-back that empties the history,
// the other lines, the longest message and garbage.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "gui/debug_message_table.h"

using frm::DebugMessageTable;

TEST(DebugMessageTable, MessagesAreKeptByAscendingNumberPerKindAndTheHistoryGrowsAtItsEnd) {
    DebugMessageTable table;
    auto outcome = table.add("!5 five\r\nuptime=7\r\n\r\n!6\tsix!tail\n", 0);
    EXPECT_EQ(outcome.other, "uptime=7\n") << "runs of line ends count as one, empty lines go";
    EXPECT_TRUE(outcome.stored && outcome.appendOnly);
    EXPECT_EQ(outcome.appended, "five\nsix\n") << "a text ends at the next '!'";
    outcome = table.add("! 3 three", 0);
    EXPECT_FALSE(outcome.appendOnly) << "3 goes before 5";
    EXPECT_EQ(table.history(0), "three\nfive\nsix\n");
    table.add("!4 four\n!3 three again", 1);
    EXPECT_FALSE(table.add("!4 four replaced", 1).appendOnly);
    EXPECT_EQ(table.history(1), "three again\nfour replaced\n");
    EXPECT_EQ(table.history(0), "three\nfive\nsix\n") << "the kinds are apart";
    table.clear(0);
    EXPECT_EQ(table.size(0) + table.size(1), 2u);

    // A number falling back by more than 20 empties every kind; the top of
    // the range does not wrap around into a fall-back.
    table.add("!100 hundred", 0);
    EXPECT_FALSE(table.add("!80 eighty", 1).cleared);
    outcome = table.add("!59 restart", 0);
    EXPECT_TRUE(outcome.cleared);
    EXPECT_EQ(table.size(0) + table.size(1), 1u);
    table.add("!4294967290 near the top", 0);
    EXPECT_FALSE(table.add("!4294967295 top", 0).cleared);
}

TEST(DebugMessageTable, TheLongestMessageIsKeptAndLinesThatAreNoMessageAreOtherText) {
    DebugMessageTable table;
    const std::string datagram(DebugMessageTable::kMaxText, '\xC0');  // code page 1251 letters
    table.add("!1 " + datagram, 0);
    table.add("!2 " + datagram + "XYZ", 0);
    EXPECT_EQ(table.history(0), datagram + "\n" + datagram + "\n");

    for (const char* line :
         {"!", "!x text", "!-5 minus", "!12", "!12   ", "!12!", "!99999999999 big", "a !1 b"}) {
        const auto outcome = table.add(line, 1);
        EXPECT_EQ(outcome.other, std::string(line) + "\n") << line;
    }
    EXPECT_EQ(table.size(1), 0u);
    // Random bytes: nothing breaks, no line grows.
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string reply(random() % 200, '\0');
        for (char& c : reply) c = "!0123 ab\r\n\xFF\t"[random() % 12];
        EXPECT_LE(table.add(reply, static_cast<int>(random() % 2)).other.size(), reply.size() + 1);
    }
}
