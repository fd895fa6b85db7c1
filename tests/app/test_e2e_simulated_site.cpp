// ctest-labels: e2e net
// The devices that the run command simulates (one loudspeaker of each
// firmware generation and a console) answer what the program asks of them
// when the operator starts a gong or a playlist, sets a volume or opens a
// device's settings: the audio memory and the settings of the device's
// generation. An unknown request would reach the operator as an error box.
#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>
#include <csignal>
#include <sstream>
#include <thread>

#include "tests/app/e2e_harness.h"

namespace {

using boost::asio::ip::udp;
using namespace std::chrono_literals;

constexpr std::uint16_t kDevicePort = 13990;

struct Device {
    bool console;
    std::string address;
    std::string model;  // "Orvel-510", "Tovik-30", ...
};

std::vector<Device> devicesOf(const std::string& output) {
    std::vector<Device> devices;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind, endpoint, hardware, model;
        if (!(fields >> kind >> endpoint >> hardware >> model) || (kind != "speaker" && kind != "console"))
            continue;
        devices.push_back({kind == "console", endpoint.substr(0, endpoint.find(':')), model.substr(1)});
    }
    return devices;
}

/// The device's reply to one request, or "(no reply)" within a second.
std::string ask(udp::socket& socket, const std::string& address, const std::string& request) {
    socket.send_to(boost::asio::buffer(request),
                   udp::endpoint(boost::asio::ip::make_address_v4(address), kDevicePort));
    char buffer[2048];
    udp::endpoint from;
    for (int tries = 0; tries < 100; ++tries) {
        boost::system::error_code error;
        const std::size_t size = socket.receive_from(boost::asio::buffer(buffer), from, 0, error);
        if (!error) return std::string(buffer, size);
        std::this_thread::sleep_for(10ms);
    }
    return "(no reply)";
}

}  // namespace

TEST(SimulatedSite, EveryDeviceAnswersItsMemoryAndSettingsRequests) {
    testing_support::TempDir folder{"simulated-site"};
    e2e::Child tool({SONVAR_SIMULATOR, "--bands", "--consoles", "1", "--first", "127.0.7.1", "--port",
                     std::to_string(kDevicePort), "--period", "0"},
                    {}, folder.path() + "/tool.out");
    for (int i = 0; i < 500 && tool.output().find("send state packets") == std::string::npos; ++i)
        std::this_thread::sleep_for(10ms);
    const std::vector<Device> devices = devicesOf(tool.output());
    ASSERT_EQ(devices.size(), 13u) << tool.output();

    boost::asio::io_context io;
    udp::socket socket(io, udp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), 0));
    socket.non_blocking(true);
    for (const Device& device : devices) {
        // The Orvel-510 generations keep their settings in "config", the
        // later ones and the console in "get state".
        const std::string settings = device.model == "Orvel-510" ? "config" : "get state";
        for (const std::string& request : {std::string("mem info"), settings}) {
            const std::string reply = ask(socket, device.address, request);
            EXPECT_TRUE(reply != "(no reply)" && reply.find("ERR") == std::string::npos)
                << device.model << " at " << device.address << ", \"" << request << "\" -> " << reply;
        }
    }
    tool.signal(SIGTERM);
    EXPECT_EQ(tool.finish(), "exit 0");
}
