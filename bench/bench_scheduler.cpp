// The scheduler core with 10,000 daily tasks beside a plain timer queue doing
// the same work: a thread that sleeps to each minute on the same hand-moved
// clock and pops the due entries of a std::multimap ordered by next run.
// Measured: the time to insert the tasks into a running scheduler, the length
// of one minute tick (from the clock's release of the sleeping thread until it
// sleeps again) and the lateness of each due callback behind that release,
// over a day of 1,440 minutes. Goal: every tick under 5 ms. The log is at INFO,
// as in the field. Prints one BENCH line per comparison.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>

#include "base/log.h"
#include "scheduler/core.h"
#include "scheduler/task.h"
#include "tests/scheduler/manual_clock.h"

namespace {

using Steady = std::chrono::steady_clock;
using scheduler::TimePoint;
using testing_support::ManualClock;

constexpr int kTasks = 10000;
constexpr int kMinutesPerDay = 1440;
constexpr double kGoalMs = 5.0;

double microsecondsBetween(Steady::time_point from, Steady::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * (values.size() - 1) + 0.5);
    return values[index];
}

/// The minute of the day of task i, spread evenly but not in id order.
int minuteOf(int i) { return static_cast<int>((i * 7919LL) % kMinutesPerDay); }

std::wstring timeText(int minute) {
    wchar_t text[8];
    std::swprintf(text, 8, L"%02d:%02d", minute / 60, minute % 60);
    return text;
}

/// What both sides share: the release time of the current tick and the
/// lateness of every callback behind it.
struct Probe {
    std::atomic<Steady::rep> release{0};
    std::mutex mutex;
    std::vector<double> lateness;

    void onCallback() {
        const auto now = Steady::now();
        const Steady::time_point released{Steady::duration(release.load())};
        std::lock_guard<std::mutex> lock(mutex);
        lateness.push_back(microsecondsBetween(released, now));
    }
};

struct Result {
    double insertMs = 0;
    std::vector<double> tickUs;
    std::vector<double> latenessUs;
};

/// Drives the clock through the day; the tick lengths.
std::vector<double> driveDay(ManualClock& clock, Probe& probe) {
    std::vector<double> ticks;
    ticks.reserve(kMinutesPerDay);
    for (int minute = 0; minute < kMinutesPerDay; ++minute) {
        const auto released = Steady::now();
        probe.release.store(released.time_since_epoch().count());
        clock.tick();
        ticks.push_back(microsecondsBetween(released, Steady::now()));
    }
    return ticks;
}

// The day starts at 2025-06-10 00:00 UTC; the clock starts half a minute before.
TimePoint dayStart() { return scheduler::fromTimeT(1749513600); }

Result runOurs() {
    auto clock = std::make_shared<ManualClock>(dayStart() - 30 * scheduler::kTicksPerSecond);
    Probe probe;
    const scheduler::task::Environment environment{
        clock, [](const std::wstring&, scheduler::task::Event job) { job(); }};

    const auto madeStart = Steady::now();
    std::vector<std::shared_ptr<scheduler::task::ITask>> tasks;
    tasks.reserve(kTasks);
    for (int i = 0; i < kTasks; ++i)
        tasks.push_back(std::make_shared<scheduler::task::Daily>(
            i, L"2025-06-10", timeText(minuteOf(i)), L"", [&probe] { probe.onCallback(); },
            environment));
    std::printf("scheduler: %d daily tasks made in %.1f ms\n", kTasks,
                microsecondsBetween(madeStart, Steady::now()) / 1000);

    Result result;
    scheduler::Core core(clock);
    clock->waitAsleep();
    const auto insertStart = Steady::now();
    for (auto& task : tasks) core.putTask(task);
    result.insertMs = microsecondsBetween(insertStart, Steady::now()) / 1000;
    clock->waitAsleep();

    result.tickUs = driveDay(*clock, probe);
    core.stop();
    result.latenessUs = probe.lateness;
    return result;
}

/// The peer: one thread, one multimap from next run to the entry, the same
/// minute sleep and the same daily step (same wall-clock minute next day).
class TimerQueue {
public:
    struct Entry {
        scheduler::LocalDateTime start;
        std::int64_t day = 0;
        std::function<void()> callback;
    };

    explicit TimerQueue(std::shared_ptr<ManualClock> clock) : m_clock(std::move(clock)) {
        m_thread = std::thread([this] { loop(); });
    }
    ~TimerQueue() {
        m_stopping = true;
        m_alarm.ring();
        m_thread.join();
    }

    void insert(const Entry& entry) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.emplace(scheduler::toTimePoint(entry.start, entry.day), entry);
    }

private:
    void loop() {
        TimePoint planned = scheduler::floorToMinute(m_clock->now());
        while (!m_stopping) {
            planned += scheduler::kTicksPerMinute;
            m_clock->sleep(planned + 500'000 - m_clock->now(), m_alarm);
            if (m_stopping) return;
            const TimePoint now = m_clock->now();
            std::lock_guard<std::mutex> lock(m_mutex);
            while (!m_queue.empty() && m_queue.begin()->first <= now) {
                auto node = m_queue.extract(m_queue.begin());
                if (now <= node.key() + 59 * scheduler::kTicksPerSecond) node.mapped().callback();
                ++node.mapped().day;
                node.key() = scheduler::toTimePoint(node.mapped().start, node.mapped().day);
                m_queue.insert(std::move(node));
            }
        }
    }

    std::shared_ptr<ManualClock> m_clock;
    scheduler::Alarm m_alarm;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::multimap<TimePoint, Entry> m_queue;
    std::thread m_thread;
};

Result runPeer() {
    auto clock = std::make_shared<ManualClock>(dayStart() - 30 * scheduler::kTicksPerSecond);
    Probe probe;
    std::vector<TimerQueue::Entry> entries;
    entries.reserve(kTasks);
    for (int i = 0; i < kTasks; ++i) {
        const int minute = minuteOf(i);
        entries.push_back({{2025, 6, 10, minute / 60, minute % 60}, 0, [&probe] { probe.onCallback(); }});
    }

    Result result;
    TimerQueue queue(clock);
    clock->waitAsleep();
    const auto insertStart = Steady::now();
    for (const auto& entry : entries) queue.insert(entry);
    result.insertMs = microsecondsBetween(insertStart, Steady::now()) / 1000;

    result.tickUs = driveDay(*clock, probe);
    result.latenessUs = probe.lateness;
    return result;
}

void printComparison(const char* name, double ours, double peer, const char* unit) {
    std::printf("BENCH %s ours=%.1f%s multimap=%.1f%s ratio=%.2f\n", name, ours, unit, peer, unit,
                peer > 0 ? ours / peer : 0.0);
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    setenv("TZ", "UTC", 1);
    tzset();
    const auto folder = boost::filesystem::temp_directory_path() /
                        boost::filesystem::unique_path("sonvar-bench-%%%%%%%%");
    boost::filesystem::create_directories(folder);
    base::Log::create(base::fromUtf8(folder.string()), base::Log::INFO, false);

    const Result ours = runOurs();
    const Result peer = runPeer();

    base::Log::destroy();
    boost::filesystem::remove_all(folder);

    const double oursMaxMs = *std::max_element(ours.tickUs.begin(), ours.tickUs.end()) / 1000;
    std::printf("scheduler: callbacks ours=%zu multimap=%zu (expected %d); longest tick %.2f ms, "
                "goal %.0f ms: %s\n",
                ours.latenessUs.size(), peer.latenessUs.size(), kTasks, oursMaxMs, kGoalMs,
                oursMaxMs < kGoalMs ? "met" : "MISSED");
    printComparison("scheduler_insert_10000", ours.insertMs, peer.insertMs, "ms");
    printComparison("scheduler_tick_10000_median", percentile(ours.tickUs, 0.5),
                    percentile(peer.tickUs, 0.5), "us");
    printComparison("scheduler_tick_10000_p99", percentile(ours.tickUs, 0.99),
                    percentile(peer.tickUs, 0.99), "us");
    printComparison("scheduler_lateness_median", percentile(ours.latenessUs, 0.5),
                    percentile(peer.latenessUs, 0.5), "us");
    printComparison("scheduler_lateness_p99", percentile(ours.latenessUs, 0.99),
                    percentile(peer.latenessUs, 0.99), "us");
    const bool complete = ours.latenessUs.size() == static_cast<std::size_t>(kTasks) &&
                          peer.latenessUs.size() == static_cast<std::size_t>(kTasks);
    return complete ? 0 : 1;
}
