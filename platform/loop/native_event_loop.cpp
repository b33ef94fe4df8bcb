#include "platform/loop/native_event_loop.h"

#include <algorithm>
#include <cstdint>

namespace platform::loop {
namespace {

// The longest sleep of one epoll call. An idle loop sleeps until something
// arrives: readiness, a timer (on the steady clock, which does not jump), a
// post or a quit request (through the eventfd) each wake it, so the bound
// only keeps the wait within epoll's range; a shorter one would wake an idle
// host for nothing.
constexpr auto kLongestSleep = std::chrono::milliseconds(std::chrono::hours(24));

}  // namespace

NativeEventLoop::NativeEventLoop() = default;

NativeEventLoop::~NativeEventLoop() = default;

TargetId NativeEventLoop::createTarget(MessageTarget& handler) { return messages_.create(handler); }

void NativeEventLoop::destroyTarget(TargetId target) {
    if (!messages_.destroy(target)) return;
    std::erase_if(timers_, [target](const auto& entry) { return entry.first.first == target; });
    for (int socket : readiness_.socketsOf(target)) forgetSocket(socket);
}

bool NativeEventLoop::targetExists(TargetId target) const { return messages_.exists(target); }

bool NativeEventLoop::post(const Message& message) {
    if (!messages_.exists(message.target)) return false;
    messages_.push(message);
    return true;
}

bool NativeEventLoop::setTimer(TargetId target, std::uintptr_t timerId, std::chrono::milliseconds interval) {
    if (!messages_.exists(target)) return false;
    interval = std::max(interval, std::chrono::milliseconds(1));
    Timer& timer = timers_[{target, timerId}];
    timer.interval = interval;
    timer.due = Clock::now() + interval;
    timer.generation = ++timerGeneration_;
    timerHeap_.push({timer.due, {target, timerId}, timer.generation});
    return true;
}

bool NativeEventLoop::killTimer(TargetId target, std::uintptr_t timerId) {
    // The heap entry stays behind and is skipped by its stale generation; a
    // tick already queued is dropped so that no tick arrives after the kill.
    if (timers_.erase({target, timerId}) == 0) return false;
    messages_.dropIf([&](const Message& m) { return m.target == target && m.id == kMsgTimer && m.wParam == timerId; });
    return true;
}

bool NativeEventLoop::watchSocket(int socket, TargetId target, std::uint32_t messageId, std::uint32_t events) {
    if (events == 0) {
        forgetSocket(socket);
        return true;
    }
    if (!messages_.exists(target) || socket < 0) return false;
    readiness_.watch(socket, target, messageId, events);
    return true;
}

void NativeEventLoop::rearmSocket(int socket, std::uint32_t events) { readiness_.rearm(socket, events); }

void NativeEventLoop::forgetSocket(int socket) {
    const auto owner = readiness_.forget(socket);
    if (!owner) return;
    messages_.dropIf([&](const Message& m) {
        return m.target == owner->target && m.id == owner->messageId && m.wParam == static_cast<std::uintptr_t>(socket);
    });
}

std::optional<NativeEventLoop::Clock::time_point> NativeEventLoop::nearestTimer() {
    while (!timerHeap_.empty()) {
        const HeapEntry& top = timerHeap_.top();
        auto found = timers_.find(top.key);
        if (found == timers_.end() || found->second.generation != top.generation) {
            timerHeap_.pop();
            continue;
        }
        return top.due;
    }
    return std::nullopt;
}

void NativeEventLoop::expireTimers() {
    // No timer, no need to read the clock: a loop pumped for every message
    // of a busy socket would read it each time.
    if (!nearestTimer()) return;
    const auto now = Clock::now();
    while (auto due = nearestTimer()) {
        if (*due > now) break;
        const HeapEntry entry = timerHeap_.top();
        timerHeap_.pop();
        Timer& timer = timers_[entry.key];
        if (!timer.tickQueued) {
            timer.tickQueued = true;
            messages_.push(Message{entry.key.first, kMsgTimer, entry.key.second, 0});
        }
        // Missed periods are skipped rather than delivered in a burst.
        timer.due += timer.interval;
        if (timer.due <= now) timer.due = now + timer.interval;
        timer.generation = ++timerGeneration_;
        timerHeap_.push({timer.due, entry.key, timer.generation});
    }
}

bool NativeEventLoop::gather(std::chrono::milliseconds timeout) {
    if (!valid()) return false;
    auto wait = std::clamp(timeout, std::chrono::milliseconds(0), kLongestSleep);
    if (auto due = nearestTimer()) {
        const auto untilTimer = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
        wait = std::clamp(untilTimer, std::chrono::milliseconds(0), wait);
    }
    notices_.clear();
    if (!readiness_.gather(wait, notices_)) return false;
    for (const SocketReadiness::Notice& notice : notices_) {
        messages_.push(Message{notice.target, notice.messageId, static_cast<std::uintptr_t>(notice.socket),
                               makeSocketLParam(notice.event, notice.error)});
    }
    expireTimers();
    return true;
}

bool NativeEventLoop::dispatchOne(TargetId onlyTarget, bool& sawClose) {
    const auto message = messages_.take(onlyTarget);
    if (!message) return false;
    if (message->id == kMsgTimer) {
        auto timer = timers_.find({message->target, message->wParam});
        if (timer != timers_.end()) timer->second.tickQueued = false;
    }
    if (messages_.deliver(*message) && message->id == kMsgClose) sawClose = true;
    return true;
}

WaitOutcome NativeEventLoop::waitStep(std::chrono::milliseconds timeout, WaitOptions options) {
    if (quitPending()) return WaitOutcome::kQuit;
    if (options.onlyTarget != kNoTarget && !targetExists(options.onlyTarget)) {
        return WaitOutcome::kTargetClosed;
    }
    const bool ready = messages_.hasDispatchable(options.onlyTarget);
    if (!gather(ready ? std::chrono::milliseconds(0) : timeout)) return WaitOutcome::kFailed;
    if (quitPending()) return WaitOutcome::kQuit;

    // One round: the messages present now. Messages that handlers post while
    // the round runs wait for the next one, so a handler that posts to itself
    // cannot keep a wait step from returning.
    bool sawClose = false;
    for (std::size_t round = messages_.size(); round > 0; --round) {
        if (!dispatchOne(options.onlyTarget, sawClose)) break;
        if (quitPending()) return WaitOutcome::kQuit;
    }
    if (sawClose) return WaitOutcome::kTargetClosed;
    if (options.onlyTarget != kNoTarget && !targetExists(options.onlyTarget)) {
        return WaitOutcome::kTargetClosed;
    }
    return WaitOutcome::kOk;
}

void NativeEventLoop::postQuit(int exitCode) {
    quit_ = true;
    quitCode_ = exitCode;
}

void NativeEventLoop::postQuitAsync(int exitCode) {
    asyncQuitCode_.store(exitCode, std::memory_order_relaxed);
    asyncQuit_.store(true, std::memory_order_release);
    readiness_.wake();
}

bool NativeEventLoop::quitPending() const { return quit_ || asyncQuit_.load(std::memory_order_acquire); }

int NativeEventLoop::run() {
    for (;;) {
        if (quit_) {
            quit_ = false;
            return quitCode_;
        }
        if (asyncQuit_.exchange(false, std::memory_order_acq_rel)) {
            return asyncQuitCode_.load(std::memory_order_relaxed);
        }
        if (waitStep(kLongestSleep) == WaitOutcome::kFailed) return -1;
    }
}

}  // namespace platform::loop
