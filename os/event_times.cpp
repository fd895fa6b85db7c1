#include "os/event_times.h"

#include <chrono>

#include "base/log.h"

namespace os {

namespace {

constexpr std::uint32_t kEventCount = 4;
constexpr std::int64_t kSecond = 10000000;  // 100-ns ticks

// Nothing records an event or turns the switch on yet, so both stay at their
// start values for the whole run.
constexpr std::int64_t kEventTimes[kEventCount] = {0, 0, 0, 0};
constexpr bool kEventSwitch = false;

std::int64_t systemTicks() {
    using namespace std::chrono;
    return duration_cast<duration<std::int64_t, std::ratio<1, 10000000>>>(
               system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::int64_t getEventTime(const std::uint32_t& index) {
    if (index < kEventCount) return kEventTimes[index];
    LOG_ERROR(L"Получено неизвестное событие=%1%", index);
    return 0;
}

bool isWithinEventWindow() { return isWithinEventWindow(systemTicks()); }

bool isWithinEventWindow(std::int64_t now) {
    if (kEventSwitch && kEventTimes[2] + 120 * kSecond < now) return true;
    return kEventTimes[3] + 180 * kSecond >= now;
}

}  // namespace os
