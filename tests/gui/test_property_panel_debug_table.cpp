// The debug page's message table without a window: numbered messages kept
// by ascending number per request kind, the fall-back that empties the
// history, the other lines, the longest message and garbage.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "gui/debug_message_table.h"

using frm::DebugMessageTable;

TEST(DebugMessageTable, MessagesAreKeptByAscendingNumberPerKind) {
    DebugMessageTable table;
    auto outcome = table.add("!5 five\r\nuptime=7\r\n\r\n!6\tsix!tail\n", 0);
    EXPECT_TRUE(outcome.stored);
    EXPECT_FALSE(outcome.cleared);
    EXPECT_EQ(outcome.other, "uptime=7\n") << "runs of line ends count as one, empty lines go";
    EXPECT_TRUE(outcome.appendOnly);
    EXPECT_EQ(outcome.appended, "five\nsix\n");
    outcome = table.add("! 3 three", 0);
    EXPECT_EQ(outcome.other, "");
    EXPECT_FALSE(outcome.appendOnly) << "3 goes before 5";
    EXPECT_EQ(table.history(0), "three\nfive\nsix\n") << "3 before 5; the text ends at the next '!'";
    EXPECT_EQ(table.lastNumber(), 3u);

    outcome = table.add("!4 line four\n!3 three again", 1);
    EXPECT_FALSE(outcome.appendOnly);
    EXPECT_EQ(table.history(1), "three again\nline four\n");
    EXPECT_FALSE(table.add("!4 four replaced", 1).appendOnly);
    EXPECT_EQ(table.history(0), "three\nfive\nsix\n") << "the kinds are apart";

    table.clear(0);
    EXPECT_EQ(table.history(0), "");
    EXPECT_EQ(table.size(1), 2u);
    table.clearAll();
    EXPECT_EQ(table.size(1), 0u);
}

TEST(DebugMessageTable, ANumberFallingBackByMoreThanTwentyEmptiesEveryKind) {
    DebugMessageTable table;
    table.add("!100 hundred", 0);
    table.add("!90 ninety", 1);
    auto outcome = table.add("!80 eighty", 0);  // 80 + 20 is not below 90
    EXPECT_FALSE(outcome.cleared);
    EXPECT_EQ(table.history(0), "eighty\nhundred\n");

    outcome = table.add("!59 restart", 0);  // 59 + 20 < 80
    EXPECT_TRUE(outcome.cleared);
    EXPECT_EQ(table.history(0), "restart\n");
    EXPECT_EQ(table.history(1), "");

    // The top of the range does not wrap around into a fall-back.
    table.add("!4294967290 near the top", 0);
    outcome = table.add("!4294967295 top", 0);
    EXPECT_FALSE(outcome.cleared);
    EXPECT_EQ(table.size(0), 3u);
}

TEST(DebugMessageTable, TheLongestMessageIsKeptWholeAndALongerOneIsCut) {
    DebugMessageTable table;
    const std::string datagram(DebugMessageTable::kMaxText, '\xC0');  // CP1251 letters
    table.add("!1 " + datagram, 0);
    EXPECT_EQ(table.history(0), datagram + "\n");
    table.add("!2 " + datagram + "XYZ", 0);
    EXPECT_EQ(table.size(0), 2u);
    EXPECT_EQ(table.history(0), datagram + "\n" + datagram + "\n");
}

TEST(DebugMessageTable, LinesThatAreNoMessageGoToTheOtherText) {
    DebugMessageTable table;
    for (const char* line :
         {"!", "!x text", "!-5 minus", "!12", "!12   ", "!12!", "!99999999999 big", "text !1 a"}) {
        SCOPED_TRACE(line);
        const auto outcome = table.add(line, 0);
        EXPECT_FALSE(outcome.stored);
        EXPECT_EQ(outcome.other, std::string(line) + "\n");
    }
    EXPECT_EQ(table.size(0), 0u);
    EXPECT_EQ(table.add("", 0).other, "");
    EXPECT_EQ(table.add("\r\n\n\r", 0).other, "");

    // Random bytes: nothing breaks, and every byte that is not a line end
    // lands in a message or in the other text.
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string reply(random() % 200, '\0');
        for (char& c : reply) c = "!0123 ab\r\n\xFF\t"[random() % 12];
        const auto outcome = table.add(reply, static_cast<int>(random() % 2));
        EXPECT_LE(outcome.other.size(), reply.size() + 1);
    }
}
