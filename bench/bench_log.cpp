// Log throughput beside spdlog's asynchronous file logger doing the same work:
// the caller-side cost of one INFO call with two arguments, and the sustained
// lines per second with 8 threads writing to a file (time until every line is
// on disk). Prints one BENCH line per comparison.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "base/log.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::size_t countLines(const boost::filesystem::path& folder) {
    std::size_t lines = 0;
    for (const auto& entry : boost::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path().string(), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) ++lines;
    }
    return lines;
}

struct Result {
    double callerNs;
    double linesPerSecond;
    std::size_t linesWritten;
};

constexpr int kCallerCalls = 200000;
constexpr int kThreads = 8;
constexpr int kLinesPerThread = 100000;

Result runOurs(const boost::filesystem::path& folder) {
    boost::filesystem::create_directories(folder);
    base::Log::create(base::fromUtf8(folder.string()), base::Log::INFO, false);
    const std::wstring device = L"Зал 1";
    auto start = Clock::now();
    for (int i = 0; i < kCallerCalls; ++i) LOG_INFO(L"device %1% volume %2%", device, i);
    const double callerNs = secondsSince(start) * 1e9 / kCallerCalls;
    base::Log::destroy();
    boost::filesystem::remove_all(folder);
    boost::filesystem::create_directories(folder);

    base::Log::create(base::fromUtf8(folder.string()), base::Log::INFO, false);
    start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &device] {
            for (int i = 0; i < kLinesPerThread; ++i) LOG_INFO(L"device %1% thread %2% line %3%", device, t, i);
        });
    for (auto& t : threads) t.join();
    base::Log::destroy();
    const double elapsed = secondsSince(start);
    return {callerNs, kThreads * kLinesPerThread / elapsed, countLines(folder)};
}

Result runSpdlog(const boost::filesystem::path& folder) {
    boost::filesystem::create_directories(folder);
    spdlog::init_thread_pool(1 << 20, 1);
    auto make = [&](const char* name) {
        auto logger = spdlog::create_async<spdlog::sinks::basic_file_sink_mt>(
            name, (folder / (std::string(name) + ".log")).string());
        logger->set_pattern("%H:%M:%S.%e %l\t[%n]      %v");
        return logger;
    };
    auto logger = make("caller");
    const std::string device = "Зал 1";
    auto start = Clock::now();
    for (int i = 0; i < kCallerCalls; ++i) logger->info("device {} volume {}", device, i);
    const double callerNs = secondsSince(start) * 1e9 / kCallerCalls;
    spdlog::drop_all();
    spdlog::shutdown();
    boost::filesystem::remove_all(folder);
    boost::filesystem::create_directories(folder);

    spdlog::init_thread_pool(1 << 20, 1);
    logger = make("threads");
    start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &logger, &device] {
            for (int i = 0; i < kLinesPerThread; ++i) logger->info("device {} thread {} line {}", device, t, i);
        });
    for (auto& t : threads) t.join();
    logger.reset();
    spdlog::drop_all();
    spdlog::shutdown();  // joins the pool after it has written every line
    const double elapsed = secondsSince(start);
    return {callerNs, kThreads * kLinesPerThread / elapsed, countLines(folder)};
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const auto root = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("sonvar-bench-%%%%");
    const Result ours = runOurs(root / "ours");
    const Result peer = runSpdlog(root / "spdlog");
    boost::filesystem::remove_all(root);

    const std::size_t expected = static_cast<std::size_t>(kThreads) * kLinesPerThread;
    std::printf("lines written: ours %zu of %zu, spdlog %zu of %zu\n", ours.linesWritten, expected,
                peer.linesWritten, expected);
    std::printf("BENCH log_info_caller_cost ours=%.0fns spdlog=%.0fns ratio=%.2f\n", ours.callerNs,
                peer.callerNs, ours.callerNs / peer.callerNs);
    std::printf("BENCH log_lines_8_threads ours=%.0flines/s spdlog=%.0flines/s ratio=%.2f\n",
                ours.linesPerSecond, peer.linesPerSecond, ours.linesPerSecond / peer.linesPerSecond);
    return ours.linesWritten == expected ? 0 : 1;
}
