#include <dirent.h>

#include <algorithm>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "os/thread_list.h"

// The list names exactly the entries of /proc/self/task, in their order, in
// upper-case hexadecimal, with no trailing comma.
TEST(ThreadList, EqualsTheTasksOfThisProcess) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<std::thread> threads;  // a few more threads, held still meanwhile
    for (int i = 0; i < 3; ++i) threads.emplace_back([released] { released.wait(); });

    const std::wstring list = os::getThreadIdList();
    std::wostringstream expected;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.') expected << (expected.tellp() > 0 ? L"," : L"") << std::hex
                                              << std::uppercase << std::stoul(e->d_name);
        ::closedir(dir);
    }
    EXPECT_EQ(list, expected.str());
    EXPECT_GE(std::count(list.begin(), list.end(), L','), 3);
    release.set_value();
    for (auto& t : threads) t.join();
}
