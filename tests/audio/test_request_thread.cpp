#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/request_thread.h"
#include "tests/support/elapsed.h"

// The window's launches and stops run here: one after the other, in the
// order given, never on the thread that gave them, and a request that throws
// does not keep the next one from running.
TEST(RequestThread, RequestsRunInTheirOrderOnAThreadOfTheirOwnPastOneThatThrows) {
    frm::RequestThread requests;
    std::mutex mutex;
    std::vector<int> ran;
    std::vector<std::thread::id> threads;
    const auto request = [&](int n) {
        return [&, n] {
            std::lock_guard<std::mutex> lock(mutex);
            ran.push_back(n);
            threads.push_back(std::this_thread::get_id());
        };
    };
    requests.add(request(1));
    requests.add([] { throw std::runtime_error("a request that fails"); });
    for (int n = 2; n <= 5; ++n) requests.add(request(n));
    ASSERT_TRUE(testing_support::waitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return ran.size() == 5;
    }));
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4, 5}));
    for (const auto& id : threads) {
        EXPECT_EQ(id, threads.front()) << "one thread";
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

// The quit: the requests not begun are dropped and later ones refused at
// once, while the one that runs goes on (it may wait for the GUI thread,
// which quits) and drain waits for it afterwards.
TEST(RequestThread, CloseDropsWhatWaitsAndRefusesLaterRequestsWithoutWaitingForTheRunningOne) {
    frm::RequestThread requests;
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    std::atomic<int> others{0};
    requests.add([&] {
        started = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    requests.add([&] { ++others; });
    ASSERT_TRUE(testing_support::waitUntil([&] { return started.load(); }));
    requests.close();  // returns while the first still runs
    requests.add([&] { ++others; });
    release = true;
    requests.drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(others.load(), 0);
}
