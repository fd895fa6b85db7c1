// ctest-labels: e2e net
// The whole program and the common stream: another server's stream found at
// start-up, and the program's own stream on the wire.
#include <gtest/gtest.h>

#include "tests/app/e2e_harness.h"
#include "tools/stream_probe.h"

namespace {

using e2e::Sandbox;
using namespace std::chrono_literals;

const char kGroup[] = "224.0.224.1";
constexpr std::uint16_t kStreamPort = Sandbox::kBasePort + 1;
const char kQuestion[] = "В сети обнаружен аудио-поток,\\nзапустить Сонвар?";

TEST(EndToEnd, StreamOfAnotherServerIsAskedAbout) {
    Sandbox box;
    e2e::StreamSender other(Sandbox::kInterface, kGroup, kStreamPort);
    auto simulator = box.startSimulator(1, 0);

    // --quit while the question is open ends that start-up as a stop.
    {
        auto program = box.startProgram();
        ASSERT_TRUE(box.waitForWindow("^Предупреждение$", *program)) << program->output();
        EXPECT_EQ(box.quit(), "exit 0");
        EXPECT_EQ(program->finish(), "exit 0");
    }
    // No ends the start before any device hears of it.
    box.answer("Предупреждение", "Нет");
    auto program = box.startProgram({"--trace"});
    EXPECT_EQ(program->finish(), "exit 255");
    const auto boxes = box.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& shown : boxes) {
        EXPECT_EQ(shown.caption, "Предупреждение");
        EXPECT_EQ(shown.text, kQuestion);
        EXPECT_EQ(shown.answer, "Нет");
    }
    EXPECT_EQ(box.log().find("Initialize transfer protocol"), std::string::npos);
    EXPECT_EQ(Sandbox::simulatorRequests(*simulator), 0u);
}

TEST(EndToEnd, StreamStartsAtOnceWithoutZeroPingAndNotAtAllWhenInactive) {
    Sandbox box;
    box.writeDataFile("sonvar.cfg", "multicast = { zeroPing = false; };\n");
    stream_probe::GroupSniffer sniffer(kGroup, kStreamPort, Sandbox::kInterface);
    ASSERT_TRUE(sniffer.ok());
    {
        auto program = box.startProgram({"--trace"});
        ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
        stream_probe::Child probe({"ffprobe", "-v", "error", "-show_entries", "format=format_name", "-of",
                                   "default=nw=1",
                                   std::string("udp://") + kGroup + ":" + std::to_string(kStreamPort) +
                                       "?localaddr=" + Sandbox::kInterface + "&timeout=5000000"},
                                  box.dataFile("ffprobe.out"));
        probe.wait_for(20000);
        EXPECT_NE(stream_probe::read_all(box.dataFile("ffprobe.out")).find("format_name=mpegts"), std::string::npos);
        const auto seen = sniffer.snapshot();
        ASSERT_FALSE(seen.empty());
        for (const auto& datagram : seen) ASSERT_EQ(datagram.ttl, 1);
        EXPECT_EQ(box.quit(), "exit 0");
        EXPECT_EQ(program->finish(), "exit 0");
    }
    EXPECT_NE(box.log().find("create stream"), std::string::npos);

    box.writeDataFile("sonvar.cfg", "multicast = { commonStream = { active = false; }; };\n");
    const std::size_t before = box.log().size();
    auto program = box.startProgram({"--trace"});
    ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << "start-up goes on";
    EXPECT_EQ(box.quit(), "exit 0");
    EXPECT_EQ(program->finish(), "exit 0");
    EXPECT_EQ(box.log().substr(before).find("create stream"), std::string::npos) << "no libvlc instance";
}

}  // namespace
