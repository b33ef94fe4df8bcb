// The native backend of the message loop: epoll for socket readiness and
// wake-ups, a timer heap whose nearest deadline bounds each wait, and an
// eventfd through which a signal handler can ask the loop to quit.
#pragma once

#include <atomic>
#include <map>
#include <queue>
#include <utility>
#include <vector>

#include "platform/loop/event_loop.h"
#include "platform/loop/socket_readiness.h"
#include "platform/loop/target_queue.h"

namespace platform::loop {

class NativeEventLoop final : public EventLoop {
public:
    NativeEventLoop();
    ~NativeEventLoop() override;
    NativeEventLoop(const NativeEventLoop&) = delete;
    NativeEventLoop& operator=(const NativeEventLoop&) = delete;

    // False when the kernel refused the epoll or eventfd descriptor; every
    // wait step then fails.
    bool valid() const { return readiness_.valid(); }

    TargetId createTarget(MessageTarget& handler) override;
    void destroyTarget(TargetId target) override;
    bool targetExists(TargetId target) const override;
    bool post(const Message& message) override;
    bool setTimer(TargetId target, std::uintptr_t timerId, std::chrono::milliseconds interval) override;
    bool killTimer(TargetId target, std::uintptr_t timerId) override;
    bool watchSocket(int socket, TargetId target, std::uint32_t messageId, std::uint32_t events) override;
    void rearmSocket(int socket, std::uint32_t events) override;
    void forgetSocket(int socket) override;
    WaitOutcome waitStep(std::chrono::milliseconds timeout, WaitOptions options = {}) override;
    void postQuit(int exitCode) override;
    void postQuitAsync(int exitCode) override;
    bool quitPending() const override;
    int run() override;
    bool insideDispatch() const override { return messages_.insideDispatch(); }

private:
    using Clock = std::chrono::steady_clock;
    using TimerKey = std::pair<TargetId, std::uintptr_t>;

    struct Timer {
        std::chrono::milliseconds interval{0};
        Clock::time_point due;
        std::uint64_t generation = 0;
        bool tickQueued = false;
    };
    struct HeapEntry {
        Clock::time_point due;
        TimerKey key;
        std::uint64_t generation;
        bool operator>(const HeapEntry& other) const { return due > other.due; }
    };

    bool gather(std::chrono::milliseconds timeout);
    void expireTimers();
    std::optional<Clock::time_point> nearestTimer();
    bool dispatchOne(TargetId onlyTarget, bool& sawClose);

    SocketReadiness readiness_;
    std::vector<SocketReadiness::Notice> notices_;
    TargetQueue messages_;
    std::map<TimerKey, Timer> timers_;
    std::priority_queue<HeapEntry, std::vector<HeapEntry>, std::greater<>> timerHeap_;
    std::uint64_t timerGeneration_ = 0;
    bool quit_ = false;
    int quitCode_ = 0;
    std::atomic<bool> asyncQuit_{false};
    std::atomic<int> asyncQuitCode_{0};
};

}  // namespace platform::loop
