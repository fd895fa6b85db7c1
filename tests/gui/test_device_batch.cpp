// The batch of changed devices between the collection's workers and the
// GUI thread: each device once per batch, in the order of its first change,
// and one hand-over asked for per batch however many workers report.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "device/device_base.h"
#include "gui/device_batch.h"
#include "tests/gui/store_support.h"

namespace {

using frm::DeviceBatch;

TEST(DeviceBatch, HoldsEachDeviceOnceInTheOrderOfItsFirstChangeAndAsksOneHandOverPerBatch) {
    gui_testing::DeviceSite site;
    const auto a = site.add("01"), b = site.add("02"), c = site.add("03");
    DeviceBatch batch;
    EXPECT_TRUE(batch.add(b));  // the first change asks for a hand-over
    EXPECT_FALSE(batch.add(a));
    EXPECT_FALSE(batch.add(b));
    EXPECT_FALSE(batch.add(c));
    EXPECT_FALSE(batch.add(a));
    EXPECT_EQ(batch.take(), (std::vector<DeviceBatch::DevicePtr>{b, a, c}));
    EXPECT_TRUE(batch.take().empty());

    // Taken: a device noted before is noted again, with a new hand-over.
    EXPECT_TRUE(batch.add(a));
    EXPECT_FALSE(batch.add(a));
    EXPECT_EQ(batch.take(), (std::vector<DeviceBatch::DevicePtr>{a}));
}

TEST(DeviceBatch, ManyWorkersLoseNoDeviceAndAskOnlyWhileNoHandOverIsPending) {
    gui_testing::DeviceSite site;
    std::vector<DeviceBatch::DevicePtr> devices;
    for (int n = 0; n < 200; ++n) {
        char low[3];
        std::snprintf(low, sizeof low, "%02x", n);
        devices.push_back(site.add(low));
    }
    DeviceBatch batch;
    std::atomic<int> handOvers{0};
    std::atomic<bool> done{false};
    std::size_t taken = 0, batches = 0;
    std::thread gui([&] {
        // The GUI thread: takes a batch whenever one was asked for.
        int seen = 0;
        while (!done || handOvers > seen) {
            if (handOvers > seen) {
                ++seen;
                const auto devices = batch.take();
                taken += devices.size();
                ++batches;
            }
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (std::size_t i = w; i < devices.size(); i += 4)
                for (int repeat = 0; repeat < 3; ++repeat)
                    if (batch.add(devices[i])) ++handOvers;
        });
    for (auto& worker : workers) worker.join();
    done = true;
    gui.join();
    // A device noted while a hand-over was pending went with that one:
    // nothing stays behind without a hand-over to take it.
    EXPECT_TRUE(batch.take().empty());
    EXPECT_GE(taken, devices.size());
    EXPECT_LE(taken, devices.size() * 3);
    EXPECT_EQ(batches, static_cast<std::size_t>(handOvers.load()));
}

}  // namespace
