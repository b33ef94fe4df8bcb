// The clocks of the socket engine: the deadline of a blocking operation and
// the window of the send-rate limit. Both take the time as an argument, so
// their arithmetic is tested without waiting.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// Milliseconds on a clock that never goes back, for deadlines.
std::int64_t tickCountMillis();
// Milliseconds of the wall clock, for the rate window (which is kept in the
// system's own time, as the last send is).
std::int64_t systemTimeMillis();

// The point at which a blocking operation gives up. 0 is "none".
class Deadline {
public:
    // Now + timeout; a timeout of 0 clears the deadline, so the operation
    // runs until it ends or is interrupted.
    void arm(std::int64_t nowMillis, std::int64_t timeoutMillis) {
        at_ = timeoutMillis > 0 ? nowMillis + timeoutMillis : 0;
        // A deadline that lands on 0 would read as "none".
        if (timeoutMillis > 0 && at_ == 0) at_ = 1;
    }
    void clear() { at_ = 0; }
    bool set() const { return at_ != 0; }
    bool passed(std::int64_t nowMillis) const { return at_ != 0 && nowMillis >= at_; }
    std::int64_t at() const { return at_; }
    void restore(std::int64_t at) { at_ = at; }

private:
    std::int64_t at_ = 0;
};

// MaxTransferRate: bytes sent in the current window divided by the seconds
// the window has lasted. A pause of more than a minute starts a new window,
// so an idle connection does not build up credit or debt.
class RateWindow {
public:
    static constexpr std::int64_t restartAfterMillis = 60000;

    // Whether the rate is at or below `maxBytesPerSecond` (0 = no limit).
    bool allows(std::int64_t maxBytesPerSecond, std::int64_t nowMillis) const;
    // How many of `wanted` bytes the next send may take without running far
    // ahead of the limit: a second's worth at most, and always at least one.
    std::size_t allowance(std::int64_t maxBytesPerSecond, std::size_t wanted) const;
    void recordSend(std::size_t bytes, std::int64_t nowMillis);

    std::int64_t windowBytes() const { return windowBytes_; }

private:
    bool windowExpired(std::int64_t nowMillis) const { return nowMillis - lastSend_ > restartAfterMillis; }

    bool started_ = false;
    std::int64_t windowBytes_ = 0;
    std::int64_t windowStart_ = 0;
    std::int64_t lastSend_ = 0;
};

}  // namespace morvane
