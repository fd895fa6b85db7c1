// ctest-labels: net
// The property panel's work with the device without a window: its worker
// (tasks in order on a thread of its own, stopped without the tasks not yet
// begun; outcomes and exceptions handed over, a read no longer wanted
// delivering nothing), and the pages' reads against simulated loudspeakers
// and consoles: what each record holds, a read left between its exchanges
// asking no more, an unreadable memory that overwriting may mend only on a
// loudspeaker, and a console's access control without keys switched off.
#include <gtest/gtest.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "base/exception.h"
#include "base/thread_dispatcher.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/equalizer.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "gui/property_page_reads.h"
#include "tests/base/log_fixture.h"
#include "tests/device/device_test_support.h"
#include "tests/device/memory/memory_test_support.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/tovik_config_model.h"

using namespace std::chrono_literals;
namespace jobs = frm::page_jobs;
namespace reads = frm::page_reads;

namespace {

// ---- the worker ----------------------------------------------------------------------------

/// Outcomes handed over, as the GUI thread would get them.
struct Inbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::function<void()>> tasks;

    jobs::HandOver handOver() {
        return [this](std::function<void()> task) {
            std::lock_guard<std::mutex> lock(mutex);
            tasks.push_back(std::move(task));
            arrived.notify_all();
        };
    }
    /// Runs what arrived, waiting up to a second for `count` tasks.
    std::size_t run(std::size_t count) {
        std::vector<std::function<void()>> taken;
        {
            std::unique_lock<std::mutex> lock(mutex);
            arrived.wait_for(lock, 1s, [&] { return tasks.size() >= count; });
            taken.swap(tasks);
        }
        for (const auto& task : taken) task();
        return taken.size();
    }
};

TEST(PanelWorker, RunsTasksInOrderOffTheCallersThreadAndStopsWithoutTheRest) {
    jobs::Worker worker;
    std::mutex mutex;
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    for (int n = 0; n < 5; ++n)
        ASSERT_TRUE(worker.post([&, n, released] {
            if (n == 0) released.wait();  // holds the thread while more are queued
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(n);
            threads.insert(std::this_thread::get_id());
        }));
    const auto ran = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return order.size();
    };
    EXPECT_EQ(ran(), 0u) << "all wait behind the first";
    release.set_value();
    ASSERT_TRUE(device_test::waitUntil([&] { return ran() == 5; }, 2000ms));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());

    // Stopped while a task runs: it is joined, the queued ones never run.
    std::promise<void> running, finish;
    std::shared_future<void> finished = finish.get_future().share();
    std::atomic<int> late{0};
    worker.post([&running, finished] {
        running.set_value();
        finished.wait();
    });
    worker.post([&late] { ++late; });
    running.get_future().wait();
    std::thread finisher([&finish] {
        std::this_thread::sleep_for(50ms);
        finish.set_value();
    });
    worker.stop();
    finisher.join();
    EXPECT_EQ(late.load(), 0);
    EXPECT_FALSE(worker.post([&late] { ++late; })) << "refused once stopped";
    worker.stop();  // again: nothing
}

TEST(PanelWorker, OutcomesAndExceptionsAreHandedOverAndReadsNoLongerWantedDeliverNothing) {
    jobs::Worker worker;
    Inbox inbox;
    std::optional<int> value;
    std::exception_ptr error;
    jobs::submit<int>(
        worker, jobs::Wanted(), [](const jobs::Wanted&) { return 7; }, inbox.handOver(),
        [&](jobs::Outcome<int> outcome) { value = outcome.value; });
    jobs::submit<int>(
        worker, jobs::Wanted(), [](const jobs::Wanted&) -> int { throw exception::Offline(); },
        inbox.handOver(), [&](jobs::Outcome<int> outcome) { error = outcome.error; });
    EXPECT_EQ(inbox.run(2), 2u);
    EXPECT_EQ(value, 7);
    ASSERT_TRUE(error);
    EXPECT_THROW(std::rethrow_exception(error), exception::Offline);

    // Left before its turn: not run at all; left between its steps: ends at
    // the next check. Neither hands anything over; both say so.
    std::atomic<bool> wanted{false};
    std::atomic<int> steps{0}, dropped{0};
    const jobs::Wanted stillWanted = [&wanted] { return wanted.load(); };
    jobs::submit<int>(
        worker, stillWanted, [&steps](const jobs::Wanted&) { return ++steps; }, inbox.handOver(),
        [](jobs::Outcome<int>) { ADD_FAILURE() << "delivered"; }, [&dropped] { ++dropped; });
    ASSERT_TRUE(device_test::waitUntil([&] { return dropped == 1; }, 2000ms));
    EXPECT_EQ(steps.load(), 0);
    wanted = true;
    jobs::submit<int>(
        worker, stillWanted,
        [&](const jobs::Wanted& check) {
            ++steps;
            wanted = false;  // the operator left the page meanwhile
            jobs::checkWanted(check);
            return ++steps;
        },
        inbox.handOver(), [](jobs::Outcome<int>) { ADD_FAILURE() << "delivered"; },
        [&dropped] { ++dropped; });
    ASSERT_TRUE(device_test::waitUntil([&] { return dropped == 2; }, 2000ms));
    EXPECT_EQ(steps.load(), 1);
    EXPECT_EQ(inbox.run(0), 0u);
}

// ---- the pages' reads ----------------------------------------------------------------------

enum Sim : unsigned { kOrvel510 = 1, kOrvel610, kConsole };

class PageReads : public LogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::DEBUG);
        base::ThreadDispatcher::create();
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        device::CollectionTiming timing;
        timing.startDelay = 50ms;
        timing.tick = 100ms;
        collection = device::DeviceCollection::create(transport, kBasePort, timing);
        collection->setNewDeviceHandler([this](const std::wstring&, const net::HardwareAddress&,
                                               const std::wstring&) { return nextId++; });
        transport->run();
        for (const auto& [n, index] : {std::pair{kOrvel510, 8}, std::pair{kOrvel610, 21}}) {
            auto model = std::make_unique<device::sim::OrvelConfigModel>(hardware(n), index);
            device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(index),
                                                 *model);
            add(n, std::move(model));
        }
        add(kConsole, std::make_unique<device::sim::TovikConfigModel>(hardware(kConsole)));
        memory610 = plant(kOrvel610, memory_test::plantedImage(device::memory::kLayout611, 3, 1000));
        consoleMemory = plant(kConsole, memory_test::plantedImage(device::memory::kLayout611, 2, 700));
        simulator.start();
        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"),
                                           transport->getPort());
        for (std::size_t n = 0; n < simulator.size(); ++n)
            simulator.device(n).startStatePackets(server, 100ms);
        ASSERT_TRUE(device_test::waitUntil(
            [&] {
                for (const Sim n : {kOrvel510, kOrvel610, kConsole})
                    if (!device(n) || !device(n)->isOnlineAndAnswered()) return false;
                return speaker(kOrvel510)->getVersionIndex() == 8 &&
                       speaker(kOrvel610)->getVersionIndex() == 21;
            },
            10000ms));
    }
    void TearDown() override {
        collection->stop();
        transport->stop();
        simulator.stop();
        base::ThreadDispatcher::destroy();
        LogFixture::TearDown();
    }

    static constexpr std::uint16_t kBasePort = 29990;
    static std::string hardware(Sim n) { return device::sim::Simulator::hardwareAddress(0x640 + n); }
    void add(Sim n, std::unique_ptr<device::sim::Model> model) {
        simulator.add("127.0.35." + std::to_string(n), kBasePort, std::move(model));
    }
    std::shared_ptr<device::sim::AudioMemoryStore> plant(Sim n, const std::string& image) {
        auto store = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
        store->plant(image);
        simulator.device(n - 1).withModel<device::sim::CommandModel>(
            [&store](device::sim::CommandModel& model) {
                device::sim::AudioMemoryStore::install(store, model);
                return 0;
            });
        return store;
    }
    boost::shared_ptr<device::DeviceBase> device(Sim n) {
        return collection->searchFor(net::HardwareAddress(hardware(n)));
    }
    boost::shared_ptr<device::OrvelInfo> speaker(Sim n) {
        return boost::dynamic_pointer_cast<device::OrvelInfo>(device(n));
    }
    boost::shared_ptr<device::TovikInfo> console() {
        return boost::dynamic_pointer_cast<device::TovikInfo>(device(kConsole));
    }
    std::vector<std::string> received(Sim n) {
        std::vector<std::string> texts;
        for (const auto& datagram : simulator.device(n - 1).received()) texts.push_back(datagram.text);
        simulator.device(n - 1).clearReceived();
        return texts;
    }

    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    device::sim::Simulator simulator{2};
    std::shared_ptr<device::sim::AudioMemoryStore> memory610, consoleMemory;
    std::uint32_t nextId = 1;
};

}  // namespace

TEST_F(PageReads, TheCommonPageHoldsWhatEachKindOfDeviceShows) {
    const reads::CommonPage packed = reads::readCommonPage(device(kOrvel510), {});
    EXPECT_EQ(packed.title, device(kOrvel510)->getTitle());
    EXPECT_TRUE(packed.loudspeaker);
    EXPECT_EQ(packed.versionIndex, 8);
    EXPECT_TRUE(boost::dynamic_pointer_cast<device::o510::Equalizer>(packed.equalizer));
    EXPECT_TRUE(packed.lineConfig) << "indexes 2 to 8 show their lines";
    EXPECT_FALSE(packed.consoleConfig);

    const reads::CommonPage bands = reads::readCommonPage(device(kOrvel610), {});
    EXPECT_TRUE(boost::dynamic_pointer_cast<device::o610::Equalizer>(bands.equalizer));
    EXPECT_FALSE(bands.lineConfig);

    const reads::CommonPage tovik = reads::readCommonPage(device(kConsole), {});
    EXPECT_FALSE(tovik.loudspeaker);
    ASSERT_TRUE(tovik.consoleConfig);
    EXPECT_EQ(tovik.gongs.size(), 2u) << "the fragments of its memory";
}

TEST_F(PageReads, AReadLeftBetweenItsExchangesAsksNoMore) {
    device(kOrvel610)->resetCache();
    received(kOrvel610);
    const reads::NetworkPage whole = reads::readNetworkPage(device(kOrvel610), {});
    const std::size_t all = received(kOrvel610).size();
    EXPECT_EQ(whole.config.multicastIp, "224.0.224.1");

    // The page is left once the first record has come: the fresh read of the
    // addresses is never sent.
    device(kOrvel610)->resetCache();
    EXPECT_THROW(reads::readNetworkPage(device(kOrvel610), [] { return false; }), jobs::Superseded);
    const std::size_t asked = received(kOrvel610).size();
    EXPECT_GT(asked, 0u);
    EXPECT_LT(asked, all);
}

TEST_F(PageReads, AnUnreadableMemoryMayBeReplacedOnlyOnALoudspeaker) {
    const reads::MemoryPage good = reads::readMemoryPage(device(kOrvel610), false, {});
    ASSERT_FALSE(good.failed);
    ASSERT_TRUE(good.control);
    EXPECT_EQ(good.fragments, 3u);
    EXPECT_FALSE(good.pending);

    memory610->plant(memory_test::bytesOf(300, 7));
    consoleMemory->plant(memory_test::bytesOf(300, 7));
    for (const Sim n : {kOrvel610, kConsole}) device(n)->releaseAudioControl();
    const reads::MemoryPage speakerRead = reads::readMemoryPage(device(kOrvel610), false, {});
    EXPECT_TRUE(speakerRead.failed);
    EXPECT_FALSE(speakerRead.failure.empty());
    EXPECT_TRUE(speakerRead.overwriteMends);
    const reads::MemoryPage consoleRead = reads::readMemoryPage(device(kConsole), false, {});
    EXPECT_TRUE(consoleRead.failed);
    EXPECT_FALSE(consoleRead.overwriteMends) << "a console's memory is never replaced";

    // Allowed, the loudspeaker's memory is read as an empty one to be written.
    const reads::MemoryPage replaced = reads::readMemoryPage(device(kOrvel610), true, {});
    ASSERT_FALSE(replaced.failed);
    EXPECT_EQ(replaced.fragments, 0u);
    EXPECT_TRUE(replaced.pending);
}

TEST_F(PageReads, AConsolesAccessControlWithoutKeysIsSwitchedOff) {
    simulator.device(kConsole - 1)
        .withModel<device::sim::TovikConfigModel>([](device::sim::TovikConfigModel& m) {
            m.passkeys = {"0A0B"};
            m.values["passkey"] = "on";
            return 0;
        });
    console()->resetCache();
    const reads::PasskeyPage keys = reads::readPasskeyPage(console(), {});
    EXPECT_EQ(keys.keys.size(), 1u);
    EXPECT_TRUE(keys.accessControl);
    EXPECT_FALSE(keys.listening);

    simulator.device(kConsole - 1)
        .withModel<device::sim::TovikConfigModel>([](device::sim::TovikConfigModel& m) {
            m.passkeys.clear();
            return 0;
        });
    console()->resetCache();
    received(kConsole);
    const reads::PasskeyPage none = reads::readPasskeyPage(console(), {});
    EXPECT_TRUE(none.keys.empty());
    EXPECT_FALSE(none.accessControl);
    EXPECT_EQ(simulator.device(kConsole - 1)
                  .withModel<device::sim::TovikConfigModel>(
                      [](device::sim::TovikConfigModel& m) { return m.values["passkey"]; }),
              "off");
}
