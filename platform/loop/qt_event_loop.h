// The Qt backend of the message loop, for a control living inside a Qt
// program. The targets, their messages, timers and socket readiness keep the
// meaning they have in the native loop, but every wait goes through Qt's own
// event loop: a wait step is one pass of Qt's event processing, so while a
// blocking call loops over wait steps the window repaints, its QTimers tick
// and user input is handled, and the host's handlers may call back into the
// control. When no wait step is running, the host's QApplication::exec()
// delivers the loop's messages on its own.
//
// Quit requests are this loop's own: QCoreApplication::quit() does not raise
// one, so a host that ends while a blocking call may be waiting also calls
// postQuit to unwind it.
//
// Create it on a thread that has a Qt event dispatcher (after the
// QCoreApplication on the main thread, or inside a QThread), and install it
// with installThreadLoop before anything that uses the thread's loop.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/loop/event_loop.h"
#include "platform/loop/socket_readiness.h"
#include "platform/loop/target_queue.h"

namespace platform::loop {

class QtEventLoop final : public EventLoop {
public:
    QtEventLoop();
    ~QtEventLoop() override;
    QtEventLoop(const QtEventLoop&) = delete;
    QtEventLoop& operator=(const QtEventLoop&) = delete;

    // False when the thread has no Qt event dispatcher or the kernel refused
    // the readiness descriptors; every wait step then fails.
    bool valid() const;

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
    class Pump;  // the QObject through which Qt hands this loop its events
    friend class Pump;

    using TimerKey = std::pair<TargetId, std::uintptr_t>;
    struct Timer {
        int qtTimer = 0;
        bool tickQueued = false;
    };
    // One running wait step; the innermost one decides which messages a round
    // may dispatch.
    struct Step {
        TargetId onlyTarget = kNoTarget;
        bool roundDone = false;
        bool sawClose = false;
    };

    TargetId currentFilter() const;
    void enqueue(const Message& message);
    void updateDrain();
    bool gatherSockets();
    void onDrain();
    void onQtTimer(int qtTimer);
    void runRound();
    bool dispatchOne(TargetId onlyTarget, bool& sawClose);

    // The readiness descriptors outlive the pump, whose notifier watches them.
    SocketReadiness readiness_;
    std::unique_ptr<Pump> pump_;
    std::vector<SocketReadiness::Notice> notices_;
    TargetQueue messages_;
    std::map<TimerKey, Timer> timers_;
    std::unordered_map<int, TimerKey> timerKeys_;  // Qt's timer id -> ours
    std::vector<Step> steps_;
    int drainTimer_ = 0;  // Qt's id of the zero-interval timer that asks for a round
    bool failed_ = false;
    bool quit_ = false;
    int quitCode_ = 0;
    std::atomic<bool> asyncQuit_{false};
    std::atomic<int> asyncQuitCode_{0};
};

}  // namespace platform::loop
