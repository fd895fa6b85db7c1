#include "audio/concurrent_walk.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace frm {

void forEachConcurrently(std::size_t count, std::size_t maxThreads, const std::function<void(std::size_t)>& visit) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorLock;
    std::exception_ptr error;
    const auto work = [&] {
        for (std::size_t i = next++; i < count && !failed.load(); i = next++) {
            try {
                visit(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorLock);
                if (!error) error = std::current_exception();
                failed = true;
            }
        }
    };
    const std::size_t helpers = std::min(count, std::max<std::size_t>(maxThreads, 1)) - (count > 0 ? 1 : 0);
    std::vector<std::thread> threads;
    threads.reserve(helpers);
    try {
        for (std::size_t i = 0; i < helpers; ++i) threads.emplace_back(work);
    } catch (const std::system_error&) {
        // Out of threads: the ones made and this one share the work.
    }
    work();  // the caller's thread takes its share
    for (auto& thread : threads) thread.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace frm
