// ctest-labels: net
// Faults switched on while a simulated site runs (the tool's control
// channel): the FIFO they come through, the lines as they are read and
// refused, and what each does to a loudspeaker over real UDP: a lost
// request leaves what it held, one late reply is followed by prompt ones, a
// silence and a busy span end by themselves, ERR replies go by prefix, and
// "*" reaches every device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/ip/udp.hpp>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tools/simulator/control_commands.h"
#include "tools/simulator/fault_switches.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;
using device::sim::ControlCommand;
using device::sim::parseControlLine;
using device::sim::SimulatedDevice;
using device::sim::Simulator;
using Clock = std::chrono::steady_clock;

namespace {

namespace asio = boost::asio;

/// The server's side: one request, the replies in the order they came.
class Client {
public:
    Client() : m_socket(m_io, {asio::ip::make_address_v4("127.43.0.100"), 0}) { m_socket.non_blocking(true); }

    void send(const SimulatedDevice& device, const std::string& text) {
        m_socket.send_to(asio::buffer(text + "\n"), device.endpoint());
    }
    /// Every datagram that arrives within `wait`.
    std::vector<std::string> replies(std::chrono::milliseconds wait) {
        std::vector<std::string> texts;
        char buffer[2048];
        for (const auto end = Clock::now() + wait; Clock::now() < end;) {
            boost::system::error_code error;
            device::sim::Endpoint from;
            const std::size_t size = m_socket.receive_from(asio::buffer(buffer), from, 0, error);
            if (error) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            texts.emplace_back(buffer, size);
        }
        return texts;
    }
    /// The first reply within `wait`, "(none)" without one.
    std::string ask(const SimulatedDevice& device, const std::string& text,
                    std::chrono::milliseconds wait = 300ms) {
        send(device, text);
        const auto got = replies(wait);
        return got.empty() ? "(none)" : got.front();
    }

private:
    asio::io_context m_io;
    asio::ip::udp::socket m_socket;
};

SimulatedDevice& addLoudspeaker(Simulator& simulator, unsigned n) {
    return simulator.add("127.43.0." + std::to_string(n), 0,
                         std::make_unique<device::sim::OrvelBandModel>(Simulator::hardwareAddress(n), 18));
}

void control(Simulator& simulator, const std::string& line) {
    device::sim::applyControl(parseControlLine(line), simulator);
}

}  // namespace

TEST(SimulatorControl, LinesNameADeviceOrAllAndAVerbWithItsValue) {
    const ControlCommand lose = parseControlLine("3 lose-next 1");
    EXPECT_EQ(lose.device, 3u);
    EXPECT_EQ(lose.verb, ControlCommand::Verb::LoseNext);
    EXPECT_EQ(lose.count, 1u);
    const ControlCommand late = parseControlLine("*  delay-once 2.4 ");
    EXPECT_FALSE(late.device);
    EXPECT_EQ(late.verb, ControlCommand::Verb::DelayOnce);
    EXPECT_EQ(late.span, 2400ms);
    const ControlCommand refuse = parseControlLine("7 error-on set ch");
    EXPECT_EQ(refuse.verb, ControlCommand::Verb::ErrorOn);
    EXPECT_EQ(refuse.text, "set ch") << "the prefix may hold blanks";
    EXPECT_EQ(parseControlLine("2 restart 3").span, 3000ms);
    EXPECT_EQ(parseControlLine("2 silent 0").span, 0ms) << "zero ends a silence";
    EXPECT_EQ(parseControlLine("2 error-off").verb, ControlCommand::Verb::ErrorOff);

    for (const char* bad :
         {"", "3", "0 lose-next 1", "x lose-next 1", "3 lose-next 0", "3 lose-next -1", "3 delay -1",
          "3 delay 2s", "3 jump 1", "3 busy", "3 error-off now", "* move 127.0.0.9", "3 lose-next"}) {
        EXPECT_THROW(parseControlLine(bad), std::invalid_argument) << '"' << bad << '"';
    }
}

TEST(SimulatorControl, LinesAreTakenWholeHoweverTheBytesArrive) {
    device::sim::ControlLines lines;
    EXPECT_TRUE(lines.feed("3 lose", 6).empty());
    const std::string rest = "-next 1\r\n\n* busy 1\n2 del";
    EXPECT_EQ(lines.feed(rest.data(), rest.size()), (std::vector<std::string>{"3 lose-next 1", "* busy 1"}));
    EXPECT_EQ(lines.feed("ay 1\n", 5), (std::vector<std::string>{"2 delay 1"}));
    const std::string endless(device::sim::ControlLines::kLongestLine + 1, 'x');
    EXPECT_TRUE(lines.feed(endless.data(), endless.size()).empty());
    EXPECT_EQ(lines.feed("1 busy 1\n", 9), (std::vector<std::string>{"1 busy 1"}))
        << "the overlong line is dropped";
}

// The channel is a FIFO, made when missing: a regular file at its path is
// refused (it reads as ever ready and empty, and the run would spin on it),
// and so is a folder. Once open, a writer that goes leaves no end of file:
// the channel waits for the next line.
TEST(SimulatorControl, TheChannelIsAFifoMadeWhenMissingAndNothingElse) {
    testing_support::TempDir folder{"simulator-control"};
    const std::string file = folder.path() + "/file";
    std::ofstream(file) << "* lose-next 1\n";
    try {
        const int fd = device::sim::openControlFifo(file);
        ::close(fd);
        ADD_FAILURE() << "a regular file was taken for the channel";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("not a FIFO but a regular file"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(device::sim::openControlFifo(folder.path()), std::runtime_error) << "a folder";
    EXPECT_THROW(device::sim::openControlFifo(folder.path() + "/absent/control"), std::runtime_error)
        << "one that cannot be made";

    const std::string fifo = folder.path() + "/control";
    const int fd = device::sim::openControlFifo(fifo);
    ASSERT_GE(fd, 0);
    struct stat status {};
    ASSERT_EQ(::stat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "made";
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string line = "* busy 1\n";
    EXPECT_EQ(::write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ::close(writer);
    char buffer[64];
    const ssize_t size = ::read(fd, buffer, sizeof buffer);
    ASSERT_GT(size, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(size)), line);
    EXPECT_EQ(::read(fd, buffer, sizeof buffer), -1) << "no end of file once the writer went";
    EXPECT_EQ(errno, EAGAIN);
    ::close(fd);
    const int again = device::sim::openControlFifo(fifo);
    EXPECT_GE(again, 0) << "an existing FIFO is taken";
    if (again >= 0) ::close(again);
}

// A request lost on the way in is not acted on; "*" loses one to each
// device, and the next one goes through.
TEST(SimulatorControl, ALostRequestIsNeverActedOnAndTheNextGoesThrough) {
    Simulator simulator(1);
    SimulatedDevice& first = addLoudspeaker(simulator, 1);
    SimulatedDevice& second = addLoudspeaker(simulator, 2);
    simulator.start();
    Client client;

    control(simulator, "* lose-next 1");
    EXPECT_EQ(client.ask(first, "set vol -6"), "(none)");
    EXPECT_EQ(client.ask(second, "set ch 1"), "(none)");
    EXPECT_EQ(first.holdings().volume, std::string("-15"));
    EXPECT_EQ(second.holdings().channel, 0u);
    EXPECT_EQ(client.ask(first, "set vol -6"), "OK");
    EXPECT_EQ(client.ask(second, "set ch 1"), "OK");
    EXPECT_EQ(first.holdings().volume, std::string("-6"));
    EXPECT_EQ(second.holdings().channel, 1u);
    EXPECT_THROW(control(simulator, "3 lose-next 1"), std::invalid_argument) << "the run has two";
    simulator.stop();
}

// One reply late, then prompt ones: the prompt reply to the second
// request overtakes the late one; a lasting delay holds back every reply.
TEST(SimulatorControl, OneLateReplyIsOvertakenByTheNextAndALastingDelayHoldsEach) {
    Simulator simulator(1);
    SimulatedDevice& device = addLoudspeaker(simulator, 3);
    simulator.start();
    Client client;

    control(simulator, "1 delay-once 1.5");
    client.send(device, "set vol -7");
    client.send(device, "get ch");
    const auto got = client.replies(2500ms);
    EXPECT_EQ(got, (std::vector<std::string>{"0", "OK"}));
    EXPECT_EQ(device.holdings().volume, std::string("-7")) << "acted on at once, answered late";

    control(simulator, "1 delay 1.5");
    client.send(device, "get ch");
    EXPECT_TRUE(client.replies(500ms).empty());
    EXPECT_EQ(client.replies(2500ms), (std::vector<std::string>{"0"}));
    control(simulator, "1 delay 0");
    EXPECT_EQ(client.ask(device, "get ch"), "0");
    simulator.stop();
}

// Silence and busy spans from now, ended by a zero span; ERR replies by
// prefix until error-off.
TEST(SimulatorControl, SpansOfSilenceAndBusyAndRefusalsByPrefix) {
    Simulator simulator(1);
    SimulatedDevice& device = addLoudspeaker(simulator, 4);
    simulator.start();
    Client client;

    control(simulator, "1 silent 60");
    EXPECT_EQ(client.ask(device, "set ch 1"), "(none)");
    EXPECT_EQ(device.holdings().channel, 0u) << "a silent device takes nothing";
    control(simulator, "1 silent 0");
    EXPECT_EQ(client.ask(device, "get ch"), "0");

    control(simulator, "1 busy 60");
    EXPECT_EQ(client.ask(device, "set ch 1"), device::sim::kBusyReply);
    EXPECT_EQ(device.holdings().channel, 0u);
    control(simulator, "1 busy 0");

    control(simulator, "1 error-on set ch");
    EXPECT_EQ(client.ask(device, "set ch 1"), "ERR simulated fault: set ch 1");
    EXPECT_EQ(client.ask(device, "set vol -3"), "OK") << "another prefix";
    EXPECT_EQ(device.holdings().channel, 0u);
    control(simulator, "1 error-off");
    EXPECT_EQ(client.ask(device, "set ch 1"), "OK");
    EXPECT_EQ(device.holdings().channel, 1u);
    simulator.stop();
}
