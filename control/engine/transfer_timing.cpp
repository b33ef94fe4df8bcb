#include "control/engine/transfer_timing.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace morvane {

std::int64_t tickCountMillis() {
    // The scheduler's tick clock, as the system's tick count is: a few
    // milliseconds of resolution, a quarter of the cost of the precise clock,
    // and it is read around every blocking send.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

std::int64_t systemTimeMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool RateWindow::allows(std::int64_t maxBytesPerSecond, std::int64_t nowMillis) const {
    if (maxBytesPerSecond <= 0 || !started_ || windowExpired(nowMillis)) return true;
    const std::int64_t elapsed = std::max<std::int64_t>(nowMillis - windowStart_, 0);
    // bytes / (elapsed / 1000) <= max, in a type wide enough for any 64-bit count.
    return static_cast<long double>(windowBytes_) * 1000 <=
           static_cast<long double>(maxBytesPerSecond) * static_cast<long double>(elapsed);
}

std::size_t RateWindow::allowance(std::int64_t maxBytesPerSecond, std::size_t wanted) const {
    if (maxBytesPerSecond <= 0) return wanted;
    const auto perSecond = static_cast<std::uint64_t>(maxBytesPerSecond);
    return static_cast<std::size_t>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(wanted, perSecond)));
}

void RateWindow::recordSend(std::size_t bytes, std::int64_t nowMillis) {
    if (!started_ || windowExpired(nowMillis)) {
        started_ = true;
        windowBytes_ = 0;
        windowStart_ = nowMillis;
    }
    windowBytes_ += static_cast<std::int64_t>(bytes);
    lastSend_ = nowMillis;
}

}  // namespace morvane
