#include "base/clock.h"

#include <chrono>

namespace {

/// Microseconds from 1601-01-01 to 1970-01-01 (369 years, 89 of them leap).
constexpr std::int64_t kUnixEpochFrom1601 = 11644473600LL * 1000000;

}  // namespace

std::int64_t nowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() +
           kUnixEpochFrom1601;
}
