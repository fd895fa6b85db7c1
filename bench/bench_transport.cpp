// Request/reply exchanges per second through TransferProtocol::sync against
// 1, 10 and 100 simulated devices on loopback, one calling thread per device,
// beside a bare asio UDP loop (blocking send_to/receive_from, one socket per
// thread) talking to the same simulated devices in the same run: the
// physical limit here. Also the median and 99th percentile round-trip times,
// and a check that no exchange was lost or answered with another's reply.
//
// The two take turns, half a second each, for six rounds: what the rest of
// the machine does changes the figures from second to second, and both
// sides then meet the same changes.
//
// It opens sockets, so it runs only in the private network namespace:
//   scripts/netns-run build/bench/bench_transport [devices...]   (default: 1 10 100)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <ifaddrs.h>
#include <sys/resource.h>

#include <boost/asio/ip/udp.hpp>

#include "device/transfer_protocol.h"
#include "tools/simulator/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace asio = boost::asio;

constexpr auto kPhaseTime = std::chrono::milliseconds(500);
constexpr int kRounds = 6;

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long contextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

/// What one side gathered over all its turns.
struct Tally {
    std::vector<double> rtts;
    std::uint64_t lost = 0;
    std::uint64_t mismatched = 0;
    double seconds = 0;
    double cpu = 0;
    long switches = 0;
};

struct Result {
    double cpuUsPerExchange = 0;  // the whole process: callers, transport, simulator
    double switchesPerExchange = 0;
    double exchangesPerSecond = 0;
    double medianUs = 0;
    double p99Us = 0;
    std::uint64_t exchanges = 0;
    std::uint64_t lost = 0;
    std::uint64_t mismatched = 0;
};

/// One turn: runs `exchange(thread, sequence)` on one thread per device for
/// the phase time; exchange returns 0 for success, 1 for lost, 2 for a wrong
/// reply.
template <class Exchange>
void runPhase(std::size_t threads, Exchange& exchange, Tally& tally) {
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> rtts(threads);
    std::vector<std::uint64_t> lost(threads), wrong(threads);
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (std::uint64_t n = 0; !stop; ++n) {
                const auto start = Clock::now();
                const int outcome = exchange(t, n);
                const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                if (outcome == 0) rtts[t].push_back(us);
                else if (outcome == 1) ++lost[t];
                else ++wrong[t];
            }
        });
    }
    const auto start = Clock::now();
    const double cpuStart = processCpuSeconds();
    const long switchesStart = contextSwitches();
    go = true;
    std::this_thread::sleep_for(kPhaseTime);
    stop = true;
    for (auto& worker : workers) worker.join();
    tally.seconds += std::chrono::duration<double>(Clock::now() - start).count();
    tally.cpu += processCpuSeconds() - cpuStart;
    tally.switches += contextSwitches() - switchesStart;
    for (std::size_t t = 0; t < threads; ++t) {
        tally.rtts.insert(tally.rtts.end(), rtts[t].begin(), rtts[t].end());
        tally.lost += lost[t];
        tally.mismatched += wrong[t];
    }
}

Result summarise(Tally& tally) {
    Result result;
    std::vector<double>& all = tally.rtts;
    result.lost = tally.lost;
    result.mismatched = tally.mismatched;
    result.exchanges = all.size();
    result.exchangesPerSecond = static_cast<double>(all.size()) / tally.seconds;
    result.cpuUsPerExchange = all.empty() ? 0 : tally.cpu * 1e6 / static_cast<double>(all.size());
    result.switchesPerExchange =
        all.empty() ? 0 : static_cast<double>(tally.switches) / static_cast<double>(all.size());
    if (!all.empty()) {
        std::sort(all.begin(), all.end());
        result.medianUs = all[all.size() / 2];
        result.p99Us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    }
    return result;
}

std::string text(std::size_t thread, std::uint64_t n) {
    return "echo " + std::to_string(thread) + "-" + std::to_string(n);
}

void compare(std::size_t devices) {
    device::sim::Simulator simulator(std::min<std::size_t>(devices, 4));
    std::vector<device::sim::Endpoint> endpoints;
    for (std::size_t i = 0; i < devices; ++i) {
        const auto address = device::sim::Simulator::loopbackAddress("127.0.1.1", static_cast<unsigned>(i));
        auto& device = simulator.addOrvel(*address, 0, device::sim::Simulator::hardwareAddress(static_cast<unsigned>(i)));
        device.setRecording(false);
        device.withModel<device::sim::CommandModel>([](device::sim::CommandModel& model) {
            model.on("echo", [](const std::string& arguments) { return std::optional<std::string>(arguments); });
        });
        endpoints.push_back(device.endpoint());
    }
    simulator.start();

    device::TransferProtocol transport(0, "");
    transport.run();
    std::vector<net::IpAndPort> targets;
    for (const auto& endpoint : endpoints) targets.emplace_back(endpoint.address().to_string(), endpoint.port());
    auto viaTransport = [&](std::size_t t, std::uint64_t n) {
        const std::string request = text(t, n);
        std::string reply;
        if (!transport.sync(targets[t], request, reply, 2, 1000)) return 1;
        return reply == request.substr(5) ? 0 : 2;
    };

    asio::io_context io;
    std::vector<std::unique_ptr<asio::ip::udp::socket>> sockets;
    for (std::size_t i = 0; i < devices; ++i) {
        sockets.push_back(std::make_unique<asio::ip::udp::socket>(io, asio::ip::udp::endpoint(asio::ip::udp::v4(), 0)));
        // A lost datagram must not hang the loop: give up after a second.
        const timeval limit{1, 0};
        setsockopt(sockets.back()->native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    auto bareEcho = [&](std::size_t t, std::uint64_t n) {
        const std::string request = text(t, n) + "\n";
        char buffer[2048];
        asio::ip::udp::endpoint from;
        boost::system::error_code error;
        sockets[t]->send_to(asio::buffer(request), endpoints[t], 0, error);
        const std::size_t size = sockets[t]->receive_from(asio::buffer(buffer), from, 0, error);
        if (error) return 1;
        return std::string(buffer, size) == request.substr(5, request.size() - 6) ? 0 : 2;
    };

    Tally oursTally, bareTally;
    for (int round = 0; round < kRounds; ++round) {
        runPhase(devices, viaTransport, oursTally);
        runPhase(devices, bareEcho, bareTally);
    }
    transport.stop();
    const Result ours = summarise(oursTally);
    const Result bare = summarise(bareTally);
    simulator.stop();

    const std::string name = "transport_sync_" + std::to_string(devices) + "_devices";
    std::printf("%zu devices: ours %llu exchanges (%llu lost, %llu mismatched), asio echo %llu (%llu lost, %llu mismatched)\n",
                devices, static_cast<unsigned long long>(ours.exchanges), static_cast<unsigned long long>(ours.lost),
                static_cast<unsigned long long>(ours.mismatched), static_cast<unsigned long long>(bare.exchanges),
                static_cast<unsigned long long>(bare.lost), static_cast<unsigned long long>(bare.mismatched));
    std::printf("per exchange (whole process): ours %.1f us cpu, %.1f context switches; asio echo %.1f us, %.1f\n",
                ours.cpuUsPerExchange, ours.switchesPerExchange, bare.cpuUsPerExchange, bare.switchesPerExchange);
    std::printf("BENCH %s ours=%.0fexch/s asio_echo=%.0fexch/s ratio=%.2f\n", name.c_str(), ours.exchangesPerSecond,
                bare.exchangesPerSecond, ours.exchangesPerSecond / bare.exchangesPerSecond);
    std::printf("BENCH %s_rtt_median ours=%.0fus asio_echo=%.0fus ratio=%.2f\n", name.c_str(), ours.medianUs,
                bare.medianUs, ours.medianUs / bare.medianUs);
    std::printf("BENCH %s_rtt_p99 ours=%.0fus asio_echo=%.0fus ratio=%.2f\n", name.c_str(), ours.p99Us, bare.p99Us,
                ours.p99Us / bare.p99Us);
    std::fflush(stdout);
}

bool onlyLoopbackVisible() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool only = true;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next)
        if (entry->ifa_name && std::string(entry->ifa_name) != "lo") only = false;
    freeifaddrs(list);
    return only;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (!onlyLoopbackVisible()) {
        std::fprintf(stderr, "bench_transport opens sockets: run it through scripts/netns-run\n");
        return 3;
    }
    std::vector<std::size_t> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(static_cast<std::size_t>(std::atoi(argv[i])));
    if (counts.empty()) counts = {1, 10, 100};
    for (std::size_t devices : counts) compare(devices);
    return 0;
}
