// ctest-labels: e2e net
// The device simulator as scripts/run.sh starts it, with the fault switches
// that make a loudspeaker's replies disagree with what it holds: the file of
// --holdings follows what each loudspeaker took (a switch whose reply was
// lost, one forgotten in a restart, one made late), and the output ends with
// it. One run mixes the models with their own power-on volumes and moves a
// loudspeaker; a volume of the wrong form refuses the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/asio/ip/udp.hpp>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/app/e2e_harness.h"

namespace {

using boost::asio::ip::udp;
using namespace std::chrono_literals;

constexpr std::uint16_t kDevicePort = 13991;

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

/// The first reply to `request` within half a second, or "(no reply)".
std::string ask(udp::socket& socket, const std::string& address, const std::string& request) {
    socket.send_to(boost::asio::buffer(request + "\n"),
                   udp::endpoint(boost::asio::ip::make_address_v4(address), kDevicePort));
    char buffer[2048];
    udp::endpoint from;
    for (int tries = 0; tries < 50; ++tries) {
        boost::system::error_code error;
        const std::size_t size = socket.receive_from(boost::asio::buffer(buffer), from, 0, error);
        if (!error) return std::string(buffer, size);
        std::this_thread::sleep_for(10ms);
    }
    return "(no reply)";
}

std::string ask(udp::socket& socket, unsigned device, const std::string& request) {
    return ask(socket, "127.0.8." + std::to_string(device), request);
}

}  // namespace

TEST(SimulatorHoldingsFile, ShowsWhatEachLoudspeakerTookWhateverItAnswered) {
    testing_support::TempDir folder{"simulator-holdings"};
    const std::string listing = folder.path() + "/holdings.txt";
    // clang-format off
    e2e::Child tool({SONVAR_SIMULATOR, "--band", "18", "--loudspeakers", "3", "--first", "127.0.8.1",
                     "--port", std::to_string(kDevicePort), "--period", "0", "--holdings", listing,
                     "--fault-device", "1", "--lose-replies", "1", "--lose-on", "set ch",
                     "--fault-device", "2", "--reboot-on", "set ch", "--reboot-down", "0.6",
                     "--fault-device", "3", "--defer-switch", "0.4"},
                    {}, folder.path() + "/tool.out");
    // clang-format on
    ASSERT_TRUE(waitFor([&] { return tool.output().find("send state packets") != std::string::npos; }))
        << tool.output();
    EXPECT_EQ(fileText(listing),
              "1 127.0.8.1 channel=0 volume=-15 memory=\"idle\"\n"
              "2 127.0.8.2 channel=0 volume=-15 memory=\"idle\"\n"
              "3 127.0.8.3 channel=0 volume=-15 memory=\"idle\"\n");

    boost::asio::io_context io;
    udp::socket socket(io, udp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), 0));
    socket.non_blocking(true);
    EXPECT_EQ(ask(socket, 1, "set ch 1"), "(no reply)");
    EXPECT_EQ(ask(socket, 1, "set vol -6"), "OK") << "only the switch's reply is lost";
    EXPECT_EQ(ask(socket, 2, "set ch 1"), "OK");
    EXPECT_EQ(ask(socket, 2, "get ch"), "(no reply)") << "restarting";
    EXPECT_EQ(ask(socket, 3, "set ch 1"), "Changing of channel is deferred");

    EXPECT_TRUE(waitFor([&] {
        return fileText(listing) ==
               "1 127.0.8.1 channel=1 volume=-6 memory=\"idle\"\n"
               "2 127.0.8.2 channel=0 volume=-15 memory=\"idle\"\n"   // back on the common channel
               "3 127.0.8.3 channel=1 volume=-15 memory=\"idle\"\n";  // switched late
    })) << fileText(listing);
    EXPECT_EQ(ask(socket, 2, "get ch"), "0");

    tool.signal(SIGTERM);
    EXPECT_EQ(tool.finish(), "exit 0");
    const std::string output = tool.output();
    const std::size_t end = output.find("what the devices hold at the end (" + listing + "):\n");
    ASSERT_NE(end, std::string::npos) << output;
    EXPECT_EQ(output.substr(output.find('\n', end) + 1), fileText(listing));
}

TEST(SimulatorHoldingsFile, MixesModelsWithTheirOwnVolumesAndFollowsAMove) {
    testing_support::TempDir folder{"simulator-mixed"};
    const std::string listing = folder.path() + "/holdings.txt";
    // clang-format off
    e2e::Child tool({SONVAR_SIMULATOR, "--band", "18", "--loudspeakers", "3", "--first", "127.0.9.1",
                     "--port", std::to_string(kDevicePort), "--period", "0", "--holdings", listing,
                     "--volume", "-4",
                     "--fault-device", "1", "--device-band", "5", "--volume", "19:19",
                     "--fault-device", "2", "--orvel611", "--move-after", "0.3", "--move-to", "127.0.9.20",
                     "--fault-device", "3", "--device-band", "12", "--volume", "-40", "--reboot-on", "set ch",
                     "--reboot-down", "0.3"},
                    {}, folder.path() + "/tool.out");
    // clang-format on
    ASSERT_TRUE(waitFor([&] { return tool.output().find("send state packets") != std::string::npos; }))
        << tool.output();
    boost::asio::io_context io;
    udp::socket socket(io, udp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), 0));
    socket.non_blocking(true);
    EXPECT_EQ(ask(socket, "127.0.9.1", "get ver").rfind("Orvel-510 1.1.72.0 ", 0), 0u);
    EXPECT_EQ(ask(socket, "127.0.9.1", "get vol"), "19:19");
    EXPECT_EQ(ask(socket, "127.0.9.3", "get ver").rfind("Orvel-610 1.0.56.0 ", 0), 0u);
    EXPECT_EQ(ask(socket, "127.0.9.3", "set vol -10"), "OK");
    EXPECT_EQ(ask(socket, "127.0.9.3", "set ch 1"), "OK");  // and it restarts

    EXPECT_TRUE(waitFor([&] {
        return fileText(listing) ==
               "1 127.0.9.1 channel=0 volume=19:19 memory=\"idle\"\n"
               "2 127.0.9.20 channel=0 volume=-4 memory=\"idle\"\n"
               "3 127.0.9.3 channel=0 volume=-40 memory=\"idle\"\n";
    })) << fileText(listing);
    EXPECT_EQ(ask(socket, "127.0.9.20", "get ver").rfind("Orvel-610 2.0.110.0 ", 0), 0u)
        << "the Orvel-611 form of index 18, answering from its new address";
    EXPECT_EQ(ask(socket, "127.0.9.2", "get ver"), "(no reply)");
    tool.signal(SIGTERM);
    EXPECT_EQ(tool.finish(), "exit 0");

    e2e::Child refused({SONVAR_SIMULATOR, "--bands", "--first", "127.0.9.1", "--volume", "-4"}, {},
                       folder.path() + "/refused.out");
    EXPECT_EQ(refused.finish(), "exit 2");
    EXPECT_NE(refused.output().find("device 1 (127.0.9.1): \"-4\" is no volume of an Orvel-510"),
              std::string::npos)
        << refused.output();
}

// Faults switched on during the run through --control: each line is
// answered on the output once it holds (so that a test goes on only then),
// a bad one is refused with its reason and the run goes on.
TEST(SimulatorHoldingsFile, TakesFaultsFromItsControlFifoAndAnswersEachLine) {
    testing_support::TempDir folder{"simulator-control"};
    const std::string fifo = folder.path() + "/control";
    e2e::Child tool({SONVAR_SIMULATOR, "--band", "18", "--loudspeakers", "2", "--first", "127.0.10.1", "--port",
                     std::to_string(kDevicePort), "--period", "0", "--control", fifo},
                    {}, folder.path() + "/tool.out");
    ASSERT_TRUE(waitFor([&] { return tool.output().find("send state packets") != std::string::npos; }))
        << tool.output();
    // The FIFO is opened without blocking: with no reader (the tool ended)
    // the opening fails at once instead of waiting for ever, and is tried
    // again for a while.
    const auto send = [&](const std::string& line) -> testing::AssertionResult {
        int fd = -1;
        int error = 0;
        waitFor([&] {
            fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            error = errno;
            return fd >= 0;
        });
        if (fd < 0)
            return testing::AssertionFailure()
                   << "the control FIFO could not be opened for writing: " << std::strerror(error) << "\n"
                   << tool.output();
        const std::string bytes = line + "\n";
        const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        ::close(fd);
        if (!written) return testing::AssertionFailure() << "\"" << line << "\" could not be written";
        if (!waitFor([&] { return tool.output().find("control: " + line + ": ") != std::string::npos; }))
            return testing::AssertionFailure() << "\"" << line << "\" was not answered\n" << tool.output();
        return testing::AssertionSuccess();
    };
    ASSERT_TRUE(send("* lose-next 1"));
    ASSERT_TRUE(send("2 error-on get"));
    ASSERT_TRUE(send("3 busy 1"));
    ASSERT_TRUE(send("1 jump 2"));
    EXPECT_NE(tool.output().find("control: * lose-next 1: done\n"), std::string::npos);
    EXPECT_NE(tool.output().find("control: 3 busy 1: refused: device 3: the run has 2 devices\n"), std::string::npos);
    EXPECT_NE(tool.output().find("control: 1 jump 2: refused: unknown verb \"jump\"\n"), std::string::npos);

    boost::asio::io_context io;
    udp::socket socket(io, udp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), 0));
    socket.non_blocking(true);
    EXPECT_EQ(ask(socket, "127.0.10.1", "get ch"), "(no reply)") << "lost";
    EXPECT_EQ(ask(socket, "127.0.10.1", "get ch"), "0");
    EXPECT_EQ(ask(socket, "127.0.10.2", "get ch"), "(no reply)") << "lost";
    EXPECT_EQ(ask(socket, "127.0.10.2", "get ch"), "ERR simulated fault: get ch");
    tool.signal(SIGTERM);
    EXPECT_EQ(tool.finish(), "exit 0");
}
