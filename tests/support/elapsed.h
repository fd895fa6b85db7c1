#pragma once

#include <chrono>

namespace testing_support {

/// Whole milliseconds on the monotonic clock since `start`.
inline long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace testing_support
