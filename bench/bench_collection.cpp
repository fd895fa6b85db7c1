// The device collection under the state packets of many loudspeakers: N
// simulated loudspeakers (a child process, so that their CPU time is not
// counted) each send one state packet per second for T seconds, first to the
// server's transport with the collection, then, in the same run, to a bare
// asio receiver that only counts them (the floor). Reported: CPU time of the
// receiving process per second of wall time (share of one core), packets
// lost, and the delay from the packet's arrival at the transport to the
// device's updated state (median, 99th percentile). A packet's case state is
// the parity of the count of all the devices' packets, so about every second
// packet of a device is a change that reaches the state handler; the others
// only refresh the device's contact time.
//
// The first second is not like the others: every device is new then, is
// created by its first packet and is asked whether it answers as it comes
// online. The CPU share and the 99th percentile are therefore also given for
// the seconds after it (steady), and beside them the largest number of
// packets that came within one millisecond at either receiver: the simulated
// devices share two threads, and when they fall behind they send in bursts,
// which any receiver meets as a queue.
//
//   scripts/netns-run build/bench/bench_collection [devices [seconds]]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/ip/udp.hpp>
#include <boost/make_shared.hpp>

#include "base/thread_dispatcher.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "tools/simulator/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace asio = boost::asio;

constexpr std::uint16_t kBasePort = 23990;
constexpr const char* kFirstDevice = "127.10.0.1";

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// A loudspeaker whose case state is the parity of all the devices' packets
/// so far (it changes with about every second packet of its own), counting
/// what it sent.
class TogglingModel : public device::sim::OrvelModel {
public:
    TogglingModel(std::string hardwareAddress, std::atomic<unsigned long>& sent)
        : OrvelModel(std::move(hardwareAddress), device::sim::kDefaultOrvelVersion), m_sent(sent) {}
    std::string statePacket() const override {
        const unsigned long n = m_sent++;
        auto* self = const_cast<TogglingModel*>(this);
        self->fields[4] = n % 2;
        return OrvelModel::statePacket();
    }

private:
    std::atomic<unsigned long>& m_sent;
};

/// The child: the devices send to `first` for `seconds`, then to `second`
/// for as long. Each phase waits for a byte on `go` and ends by writing its
/// count of packets sent to `done`.
[[noreturn]] void runDevices(unsigned devices, int seconds, std::uint16_t first, std::uint16_t second, int go,
                             int done) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::atomic<unsigned long> sent{0};
    {
        device::sim::Simulator simulator(2);
        std::vector<device::sim::SimulatedDevice*> all;
        for (unsigned i = 0; i < devices; ++i) {
            const auto address = device::sim::Simulator::loopbackAddress(kFirstDevice, i);
            auto& device = simulator.add(
                *address, kBasePort,
                std::make_unique<TogglingModel>(device::sim::Simulator::hardwareAddress(i + 1), sent));
            device.setRecording(false);
            all.push_back(&device);
        }
        simulator.start();
        const std::uint16_t ports[2] = {first, second};
        for (int phase = 0; phase < 2; ++phase) {
            char byte = 0;
            if (read(go, &byte, 1) != 1) std::_Exit(2);
            const device::sim::Endpoint server(asio::ip::make_address_v4("127.0.0.1"), ports[phase]);
            const unsigned long before = sent.load();
            // Spread over the second, as real devices are.
            const auto start = Clock::now();
            for (unsigned i = 0; i < devices; ++i) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(1000000ull * i / devices));
                all[i]->startStatePackets(server, std::chrono::milliseconds(1000));
            }
            std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
            const unsigned long count = sent.load() - before;
            // Stopping sends one last packet nowhere (port 0), not counted.
            // A timer already set still fires once, nowhere too.
            for (auto* device : all) device->startStatePackets(asio::ip::udp::endpoint(), std::chrono::milliseconds(0));
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            if (write(done, &count, sizeof count) != static_cast<ssize_t>(sizeof count)) std::_Exit(2);
        }
        simulator.stop();
    }
    std::_Exit(0);
}

/// Context switches of the receiving process (all its threads), voluntary
/// and forced: most of its cost per packet is in the wake-ups.
long contextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

/// Arrival times of the packets a receiver takes, kept without a lock or an
/// allocation: one thread or several note them, the main thread reads them
/// once the devices have stopped.
class ArrivalLog {
public:
    explicit ArrivalLog(std::size_t capacity) : m_times(capacity) {}
    void note(std::int64_t time) {
        const std::size_t slot = m_next.fetch_add(1, std::memory_order_relaxed);
        if (slot < m_times.size()) m_times[slot].store(time, std::memory_order_relaxed);
    }
    /// Packets in the busiest millisecond, from `skip` ns after the first.
    int busiestMillisecond(std::int64_t skip) const {
        std::vector<std::int64_t> times;
        const std::size_t count = std::min(m_next.load(), m_times.size());
        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t time = m_times[i].load(std::memory_order_relaxed);
            if (time != 0) times.push_back(time);
        }
        if (times.empty()) return 0;
        std::sort(times.begin(), times.end());
        const std::int64_t from = times.front() + skip;
        int busiest = 0;
        auto window = std::lower_bound(times.begin(), times.end(), from);
        for (auto it = window; it != times.end(); ++it) {
            while (*it - *window >= 1000000) ++window;
            busiest = std::max(busiest, static_cast<int>(it - window + 1));
        }
        return busiest;
    }

private:
    std::vector<std::atomic<std::int64_t>> m_times;
    std::atomic<std::size_t> m_next{0};
};

/// The seconds after the first, when every device exists.
constexpr std::int64_t kSteadyAfterNs = 2000000000;

struct Figures {
    double cpuShare = 0;
    double steadyCpuShare = 0;
    long switches = 0;
    unsigned long received = 0;
    double medianUs = 0;
    double p99Us = 0;
    double steadyP99Us = 0;
    int burst = 0;
};

double percentile(std::vector<double>& values, unsigned percent) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * percent / 100)];
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (!std::getenv("SONVAR_NETNS_INSIDE")) {
        std::fprintf(stderr, "bench_collection opens sockets: run it through scripts/netns-run\n");
        return 2;
    }
    const unsigned devices = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 1000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;

    // Sockets first, threads after the fork.
    auto transport = boost::make_shared<device::TransferProtocol>(0, "");
    asio::io_context io;
    asio::ip::udp::socket bare(io, asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    bare.set_option(asio::socket_base::receive_buffer_size(4 << 20));
    int go[2];
    int done[2];
    if (pipe(go) != 0 || pipe(done) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(go[1]);
        close(done[0]);
        runDevices(devices, seconds, transport->getPort(), bare.local_endpoint().port(), go[0], done[1]);
    }
    close(go[0]);
    close(done[1]);
    unsigned long sent[2] = {0, 0};
    // Starts a phase of the child and waits for its end (the child's count
    // comes then); the CPU share is taken over the whole phase and over its
    // steady part, from the third second to the end of the sending.
    const auto runPhase = [&](int phase, Figures& figures) {
        const double cpu0 = processCpuSeconds();
        const long switches0 = contextSwitches();
        const auto start = Clock::now();
        std::thread sampler([&] {
            std::this_thread::sleep_until(start + std::chrono::nanoseconds(kSteadyAfterNs));
            const double cpu1 = processCpuSeconds();
            const auto from = Clock::now();
            std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
            const double span = std::chrono::duration<double>(Clock::now() - from).count();
            figures.steadyCpuShare = span > 0 ? (processCpuSeconds() - cpu1) / span : 0;
        });
        if (write(go[1], "g", 1) != 1 || read(done[0], &sent[phase], sizeof sent[phase]) != sizeof sent[phase])
            std::_Exit(1);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        figures.cpuShare = (processCpuSeconds() - cpu0) / wall;
        figures.switches = contextSwitches() - switches0;
        sampler.join();
    };

    base::ThreadDispatcher::create();
    const std::size_t expected = static_cast<std::size_t>(devices) * static_cast<std::size_t>(seconds) + 1000;
    Figures ours;
    {
        // The measuring itself must cost next to nothing beside what it
        // measures: one arrival time per device, found from the packet's
        // source address (device i sends from the i-th address) and taken
        // back through the device's hardware address (i + 1).
        const std::uint32_t firstSource = net::IpAndPort(kFirstDevice, kBasePort).getAddress();
        std::vector<std::atomic<std::int64_t>> arrived(devices);
        // Whether each device had answered at its last notification (-1:
        // none yet). Not every notification comes from a packet: the answer
        // to the check of a device that has come online arrives on the
        // transport's completer and flips this flag, a device falling silent
        // is told by the control thread. Those must not take the arrival time
        // of a packet that changed nothing, which would make them look up to
        // a second late.
        std::vector<std::atomic<int>> answeredBefore(devices);
        for (auto& flag : answeredBefore) flag = -1;
        const auto stamp = [] { return Clock::now().time_since_epoch().count(); };
        std::mutex mutex;
        // Each delay with its packet's arrival time.
        std::vector<std::pair<std::int64_t, double>> delays;
        delays.reserve(expected);
        ArrivalLog arrivals(expected);
        std::atomic<unsigned long> received{0};

        auto collection = device::DeviceCollection::create(transport, kBasePort);
        std::uint32_t nextId = 1;
        collection->setNewDeviceHandler(
            [&](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return nextId++; });
        collection->setStateChangedHandler([&](boost::shared_ptr<device::DeviceBase> device) {
            const std::int64_t now = stamp();
            const std::uint32_t index = device->getHardwareAddress().getLow() - 1;
            if (index >= devices) return;
            const int answered = device->isOnlineAndAnswered() ? 1 : 0;
            const int before = answeredBefore[index].exchange(answered);
            if (!device->isOnline() || (before >= 0 && before != answered)) return;
            const std::int64_t at = arrived[index].exchange(0);
            if (at == 0) return;
            std::lock_guard<std::mutex> lock(mutex);
            delays.emplace_back(at, static_cast<double>(now - at) / 1000.0);
        });
        // In front of the collection's own handler: the arrival time of
        // every state packet (they start with the hardware address).
        const boost::weak_ptr<device::DeviceCollection> weak = collection;
        transport->setAllResponseHandler([&, weak](const std::string& text, const net::IpAndPort& source) {
            const std::uint32_t index = source.getAddress() - firstSource;
            if (text.size() > 2 && text[2] == ':' && index < devices) {
                ++received;
                const std::int64_t now = stamp();
                arrived[index].store(now);
                arrivals.note(now);
            }
            const auto owner = weak.lock();
            return owner && owner->handleAllResponsesCallback(text, source);
        });
        transport->run();
        runPhase(0, ours);
        transport->stop();
        collection->stop();
        ours.received = received.load();
        std::lock_guard<std::mutex> lock(mutex);
        if (!delays.empty()) {
            const std::int64_t steadyFrom =
                std::min_element(delays.begin(), delays.end())->first + kSteadyAfterNs;
            std::vector<double> all;
            std::vector<double> steady;
            for (const auto& [at, delay] : delays) {
                all.push_back(delay);
                if (at >= steadyFrom) steady.push_back(delay);
            }
            ours.medianUs = percentile(all, 50);
            ours.p99Us = percentile(all, 99);
            ours.steadyP99Us = percentile(steady, 99);
        }
        ours.burst = arrivals.busiestMillisecond(kSteadyAfterNs);
    }
    base::ThreadDispatcher::destroy();

    Figures floor;
    {
        std::atomic<bool> stop{false};
        std::atomic<unsigned long> received{0};
        ArrivalLog arrivals(expected);
        std::thread reader([&] {
            char buffer[1500];
            asio::ip::udp::endpoint from;
            while (!stop) {
                boost::system::error_code error;
                bare.receive_from(asio::buffer(buffer), from, 0, error);
                if (error || stop) continue;
                ++received;
                arrivals.note(Clock::now().time_since_epoch().count());
            }
        });
        runPhase(1, floor);
        stop = true;
        // Ends the reader's blocking receive (an unconnected socket still
        // takes the shutdown, though the call reports ENOTCONN).
        ::shutdown(bare.native_handle(), SHUT_RD);
        reader.join();
        floor.received = received.load();
        floor.burst = arrivals.busiestMillisecond(kSteadyAfterNs);
    }

    int status = 0;
    waitpid(child, &status, 0);

    // The child's count is taken just before its devices stop: a packet sent
    // in between is received but not counted, so a difference below 0 is 0.
    const long lostOurs = std::max(0L, static_cast<long>(sent[0]) - static_cast<long>(ours.received));
    const long lostFloor = std::max(0L, static_cast<long>(sent[1]) - static_cast<long>(floor.received));
    std::printf("%u devices, %d s: ours received %lu of %lu, asio %lu of %lu\n", devices, seconds, ours.received,
                sent[0], floor.received, sent[1]);
    std::printf("delay packet to state: median %.0f us, p99 %.0f us\n", ours.medianUs, ours.p99Us);
    const auto perPacket = [](long switches, unsigned long packets) {
        return packets > 0 ? static_cast<double>(switches) / static_cast<double>(packets) : 0.0;
    };
    std::printf("context switches per packet: ours %.2f, asio %.2f\n", perPacket(ours.switches, ours.received),
                perPacket(floor.switches, floor.received));
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("BENCH collection_cpu ours=%.2f%% asio_floor=%.2f%% ratio=%.2f\n", ours.cpuShare * 100,
                floor.cpuShare * 100, ratio(ours.cpuShare, floor.cpuShare));
    std::printf("BENCH collection_cpu_steady ours=%.2f%% asio_floor=%.2f%% ratio=%.2f\n", ours.steadyCpuShare * 100,
                floor.steadyCpuShare * 100, ratio(ours.steadyCpuShare, floor.steadyCpuShare));
    std::printf("BENCH collection_lost ours=%ldpkt asio_floor=%ldpkt ratio=%.2f\n", lostOurs, lostFloor,
                ratio(static_cast<double>(lostOurs), static_cast<double>(lostFloor)));
    std::printf("BENCH collection_delay_median ours=%.0fus asio_floor=0us ratio=0\n", ours.medianUs);
    std::printf("BENCH collection_delay_p99 ours=%.0fus asio_floor=0us ratio=0\n", ours.p99Us);
    std::printf("BENCH collection_delay_p99_steady ours=%.0fus asio_floor=0us ratio=0\n", ours.steadyP99Us);
    std::printf("BENCH collection_arrival_burst ours=%dpkt/ms asio_floor=%dpkt/ms ratio=%.2f\n", ours.burst,
                floor.burst, ratio(ours.burst, floor.burst));
    std::fflush(stdout);
    std::_Exit(0);
}
