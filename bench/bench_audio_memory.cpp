// Writing a 4 MiB audio memory to a simulated device and reading it back on
// loopback, beside the bare request/reply rate of the transport measured in
// the same run (one "mem state" exchange at a time, as the memory engine
// works). Effective throughput counts the image bytes moved per second; the
// peer figure is the bare exchange rate times the 512 bytes one memory
// exchange carries.
//
// 0 % loss runs through the device objects exactly as the program does
// (resend after 1000 ms). At 10 % loss every lost datagram would cost that
// second, so the lossy run goes through the transport with a 20 ms resend, as
// on a quiet local network, and checks that the device ends up holding the
// same bytes.
//
// It opens sockets, so it runs only in the private network namespace:
//   scripts/netns-run build/bench/bench_audio_memory
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>

#include <boost/algorithm/string/trim.hpp>
#include <boost/make_shared.hpp>

#include "base/exception.h"
#include "base/thread_dispatcher.h"
#include "device/device_base.h"
#include "device/memory/audio_memory.h"
#include "device/transfer_protocol.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/stub_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace device::memory;

constexpr std::uint32_t kImage = 4u << 20;

using BenchDevice = device::sim::StubDevice;

/// The transport with a short resend, in place of the device object.
class LanWire : public IMemoryWire {
public:
    LanWire(boost::shared_ptr<device::TransferProtocol> transport, net::IpAndPort to, unsigned resendMs)
        : m_transport(std::move(transport)), m_to(std::move(to)), m_resendMs(resendMs) {}
    std::string transfer(const std::string& request) override {
        std::string reply;
        if (!m_transport->sync(m_to, request, reply, 2, m_resendMs)) throw exception::Offline();
        boost::algorithm::trim(reply);
        if (reply.rfind("ERR", 0) == 0) throw exception::UnexpectedResponseOfDevice(reply);
        return reply;
    }
    bool isOnlineAndAnswered() override { return true; }
    bool hasInternalPlaying() override { return false; }

private:
    boost::shared_ptr<device::TransferProtocol> m_transport;
    net::IpAndPort m_to;
    unsigned m_resendMs;
};

std::string randomBytes(std::size_t size) {
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

/// Writes the memory's edits and waits for the final report; true on 100.
bool writeAndWait(IAudioControl& memory) {
    std::mutex mutex;
    std::condition_variable done;
    int final = 0;
    memory.writeChanges([&](int percent) {
        if (percent != 100 && percent != -1) return;
        std::lock_guard<std::mutex> lock(mutex);
        final = percent;
        done.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return final != 0; });
    return final == 100;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Run {
    double writeSeconds = 0;
    double readSeconds = 0;
    bool identical = false;
    double bytesPerSecond() const { return 2.0 * kImage / (writeSeconds + readSeconds); }
};

/// One write of a fresh 4 MiB image and one read back through a new object.
template <class Make>
Run transferOnce(Make make, device::sim::AudioMemoryStore& store, const std::string& payload) {
    Run run;
    store.plant(std::string());
    auto memory = make();
    memory->addFragment(L"Bench", payload);
    const std::string image = memory->getImage();
    auto start = Clock::now();
    if (!writeAndWait(*memory)) return run;
    run.writeSeconds = secondsSince(start);

    auto reader = make();
    start = Clock::now();
    const std::string read = reader->getFragmentFile(reader->getFragmentId(1));
    run.readSeconds = secondsSince(start);
    run.identical = read == payload && store.committed() == image;
    return run;
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    base::ThreadDispatcher::create();
    device::sim::Simulator simulator(1);
    simulator.start();
    auto& speaker = simulator.addOrvel("127.0.0.2", 0, device::sim::Simulator::hardwareAddress(2));
    speaker.setRecording(false);
    auto store = std::make_shared<device::sim::AudioMemoryStore>(kLayout611, kImage);
    speaker.withModel<device::sim::CommandModel>([&](device::sim::CommandModel& model) {
        device::sim::AudioMemoryStore::install(store, model);
        return 0;
    });
    const net::IpAndPort to(speaker.endpoint().address().to_string(), speaker.endpoint().port());
    auto transport = boost::make_shared<device::TransferProtocol>(0, "");
    transport->run();
    auto device = boost::make_shared<BenchDevice>(1, net::HardwareAddress(0x025653, 2), to, L"", transport);
    device->setThisWeakPtr(device);

    // Bare rate: the same exchange pattern with nothing behind it.
    std::uint64_t exchanges = 0;
    std::string reply;
    const auto bareStart = Clock::now();
    while (secondsSince(bareStart) < 1.5)
        if (transport->sync(to, "mem state", reply, 2, 1000)) ++exchanges;
    const double bareRate = static_cast<double>(exchanges) / secondsSince(bareStart);
    const double bareBytes = bareRate * kMemoryChunk;

    const std::string payload = randomBytes(kImage - kRootSize - kFragmentRecordSize);
    const Run clean = transferOnce(
        [&] { return boost::make_shared<device::o611::memory::AudioMemory>(transport, device, AudioMemoryBase::PlayingCallback(), false); },
        *store, payload);
    store->setLoss(10, 7);
    auto wire = boost::make_shared<LanWire>(transport, to, 20);
    const Run lossy = transferOnce([&] { return boost::make_shared<device::o611::memory::AudioMemory>(wire, AudioMemoryBase::PlayingCallback(), false); },
                                   *store, payload);
    store->setLoss(0);

    std::printf("bare exchanges: %.0f/s (%.2f MB/s of 512-byte chunks)\n", bareRate, bareBytes / 1e6);
    std::printf("0%% loss: write %.2f s, read %.2f s, %.2f MB/s, identical %s\n", clean.writeSeconds,
                clean.readSeconds, clean.bytesPerSecond() / 1e6, clean.identical ? "yes" : "NO");
    std::printf("10%% loss (20 ms resend): write %.2f s, read %.2f s, %.2f MB/s, identical %s\n",
                lossy.writeSeconds, lossy.readSeconds, lossy.bytesPerSecond() / 1e6, lossy.identical ? "yes" : "NO");

    transport->stop();
    simulator.stop();
    base::ThreadDispatcher::destroy();
    std::printf("BENCH audio_memory_4MiB_loss0 ours=%.3fMB/s transport_bare=%.3fMB/s ratio=%.3f\n",
                clean.bytesPerSecond() / 1e6, bareBytes / 1e6, clean.bytesPerSecond() / bareBytes);
    std::printf("BENCH audio_memory_4MiB_loss10 ours=%.3fMB/s transport_bare=%.3fMB/s ratio=%.3f\n",
                lossy.bytesPerSecond() / 1e6, bareBytes / 1e6, lossy.bytesPerSecond() / bareBytes);
    return clean.identical && lossy.identical ? 0 : 1;
}
