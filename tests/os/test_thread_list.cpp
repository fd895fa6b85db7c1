#include <dirent.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "os/thread_list.h"

namespace {

std::vector<unsigned long> readTasks() {
    std::vector<unsigned long> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.') ids.push_back(std::strtoul(e->d_name, nullptr, 10));
        ::closedir(dir);
    }
    return ids;
}

std::vector<unsigned long> parseList(const std::wstring& text) {
    std::vector<unsigned long> ids;
    std::size_t start = 0;
    while (!text.empty()) {
        const std::size_t comma = text.find(L',', start);
        const std::wstring part = text.substr(start, comma - start);
        EXPECT_FALSE(part.empty()) << "no empty entries, no trailing comma";
        if (part.empty()) break;
        EXPECT_EQ(part.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos) << "upper-case hex";
        EXPECT_NE(part.front(), L'0') << "no leading zeros";
        ids.push_back(std::wcstoul(part.c_str(), nullptr, 16));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return ids;
}

}  // namespace

TEST(ThreadList, EqualsTheTasksOfThisProcess) {
    // A few extra threads, held still while both lists are taken.
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] {
            std::unique_lock<std::mutex> lock(mutex);
            cv.wait(lock, [&] { return release; });
        });

    const std::wstring text = os::getThreadIdList();
    const std::vector<unsigned long> listed = parseList(text);
    const std::vector<unsigned long> tasks = readTasks();
    EXPECT_EQ(listed, tasks) << "same ids in the same order";
    EXPECT_GE(listed.size(), 4u);
    EXPECT_EQ(std::set<unsigned long>(listed.begin(), listed.end()).size(), listed.size());

    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    cv.notify_all();
    for (auto& t : threads) t.join();
}
