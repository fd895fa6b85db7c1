// ctest-labels: net
// The dispatcher jobs of the line-control and passkeys pages without a window,
// as the panel runs them: the jobs read a simulated module and console on the
// dispatcher and hand their results to a stand-in GUI thread (this test's
// thread), which keeps rescheduling while it "shows" the device and page and
// meanwhile leaves and re-enters them. Nothing the GUI thread owns is read by
// a job; a result for a device or page no longer shown is dropped, and no job
// is left once the page is left. Built with -DSONVAR_SANITIZE=thread this is
// the pages' race check.
#include <gtest/gtest.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "base/thread_dispatcher.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "gui/page_jobs.h"
#include "tests/base/log_fixture.h"
#include "tests/device/device_test_support.h"
#include "tools/simulator/zone_sites.h"

using namespace std::chrono_literals;
namespace jobs = frm::page_jobs;

namespace {

constexpr int kLinePage = 1028;
constexpr int kPasskeyPage = 1029;

/// The stand-in GUI thread's queue: jobs hand tasks to it from any thread.
class TaskQueue {
public:
    void add(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }
    /// Runs what arrives for `span` on this thread.
    void runFor(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        for (;;) {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_wake.wait_until(lock, end, [this] { return !m_tasks.empty(); })) return;
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
};

class PageJobs : public LogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::DEBUG);
        base::ThreadDispatcher::create();
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        device::CollectionTiming timing;
        timing.startDelay = 50ms;
        timing.tick = 100ms;
        collection = device::DeviceCollection::create(transport, 0, timing);
        collection->setNewDeviceHandler([this](const std::wstring&, const net::HardwareAddress&,
                                               const std::wstring&) { return nextId++; });
        transport->run();
        lineSite = device::sim::addLineControlSite(simulator, {"127.0.7.1", 0, 0x5A0001});
        consoleSite = device::sim::addBindingSite(simulator, {"127.0.7.11", 0, 0x5A0011});
        simulator.start();
        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"),
                                           transport->getPort());
        for (std::size_t n = 0; n < simulator.size(); ++n)
            simulator.device(n).startStatePackets(server, 100ms);
        ASSERT_TRUE(device_test::waitUntil(
            [&] {
                speaker = collection->searchForOrvel(net::HardwareAddress(lineSite.loudspeakers[0].address));
                console = boost::dynamic_pointer_cast<device::TovikInfo>(
                    collection->searchFor(net::HardwareAddress(consoleSite.consoles[0].address)));
                return speaker && console && speaker->isOnlineAndAnswered() && console->isOnlineAndAnswered();
            },
            10000ms));
        consoleSite.consoles[0].device->withModel<device::sim::TovikConfigModel>(
            [](device::sim::TovikConfigModel& m) {
                m.listening = true;  // learning a key the whole time
                return 0;
            });
    }
    void TearDown() override {
        collection->stop();
        transport->stop();
        simulator.stop();
        base::ThreadDispatcher::destroy();
        LogFixture::TearDown();
    }

    // ---- the stand-in panel, on this thread only ----

    jobs::HandOver handOver() {
        return [this](std::function<void()> task) { queue.add(std::move(task)); };
    }
    /// As the panel's scheduleTipRefresh: one pending job, in place of the last.
    void scheduleRefresh() {
        base::ThreadDispatcher::remove(refreshJob.exchange(0));
        if (shown != speaker || page != kLinePage) return;
        const auto loudspeaker = speaker;
        refreshJob = base::ThreadDispatcher::add(L"Обновление оконечных устройств", 20, [this, loudspeaker] {
            jobs::refreshTipDevices(gate, loudspeaker, false, handOver(),
                                    [this, loudspeaker](std::optional<frm::line_control::Snapshot> snapshot) {
                                        ++delivered;
                                        if (shown != loudspeaker || page != kLinePage) return;
                                        if (snapshot && snapshot->read) ++drawn;
                                        scheduleRefresh();
                                    });
        });
    }
    void schedulePoll() {
        base::ThreadDispatcher::remove(pollJob.exchange(0));
        if (shown != console || page != kPasskeyPage) return;
        const auto asked = console;
        pollJob = base::ThreadDispatcher::add(L"Выполняется проверка ключа", 20, [this, asked] {
            jobs::pollPasskeyListening(asked, handOver(), [this, asked](bool listening) {
                ++delivered;
                if (shown != asked || page != kPasskeyPage) return;
                if (listening) ++polled;
                schedulePoll();
            });
        });
    }
    void show(const boost::shared_ptr<device::DeviceBase>& device, int onPage) {
        // Leaving: the panel removes the page's job.
        base::ThreadDispatcher::remove(refreshJob.exchange(0));
        base::ThreadDispatcher::remove(pollJob.exchange(0));
        shown = device;
        page = onPage;
        scheduleRefresh();
        schedulePoll();
    }

    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    device::sim::Simulator simulator{2};
    device::sim::ZoneSite lineSite, consoleSite;
    std::uint32_t nextId = 1;
    boost::shared_ptr<device::OrvelInfo> speaker;
    boost::shared_ptr<device::TovikInfo> console;

    TaskQueue queue;
    std::shared_ptr<jobs::RefreshGate> gate = std::make_shared<jobs::RefreshGate>();
    std::atomic<std::uint32_t> refreshJob{0}, pollJob{0};
    boost::shared_ptr<device::DeviceBase> shown;  // this thread only
    int page = 0;                                 // this thread only
    int delivered = 0, drawn = 0, polled = 0;     // this thread only
};

}  // namespace

TEST_F(PageJobs, ResultsReachOnlyThePageThatStillShowsTheirDevice) {
    // Left and re-entered: each device on its page, nothing, and a
    // loudspeaker on another page.
    const boost::shared_ptr<device::DeviceBase> devices[] = {speaker, console, nullptr, speaker};
    const int ids[] = {kLinePage, kPasskeyPage, 0, 1000};
    for (int round = 0; round < 24; ++round) {
        const std::size_t n = static_cast<std::size_t>(round) % 4;
        show(devices[n], ids[n]);
        queue.runFor(std::chrono::milliseconds(40 + 10 * (round % 3)));
    }
    show(speaker, kLinePage);
    queue.runFor(400ms);
    EXPECT_GT(drawn, 3) << "the line page kept its cycle";
    show(console, kPasskeyPage);
    queue.runFor(400ms);
    EXPECT_GT(polled, 3) << "the passkeys page kept polling";

    // Left: whatever still runs hands over and is dropped, then nothing.
    show(nullptr, 1000);
    queue.runFor(200ms);
    const int before = delivered;
    queue.runFor(300ms);
    EXPECT_EQ(delivered, before);
    EXPECT_EQ(refreshJob.load(), 0u);
    EXPECT_EQ(pollJob.load(), 0u);
}
