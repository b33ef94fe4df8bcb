// The per-thread message loop that the control and its host share.
//
// Everything in Morvane runs on its owner's thread. Socket readiness, timer
// ticks and messages posted to oneself all arrive as messages addressed to a
// target (the counterpart of a hidden window) and are dispatched from this
// loop, either by the host's own loop (run) or by the wait steps that the
// control's blocking operations run so that the host's events keep flowing.
//
// The interface is abstract so that a Qt backend can drive the same targets
// from a QEventLoop when the control lives inside the Taltrix window.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace platform::loop {

// A target is identified by a number that is never reused, so a message that
// outlives its target is dropped instead of reaching a dangling object.
using TargetId = std::uint64_t;
inline constexpr TargetId kNoTarget = 0;

// Message numbers follow the platform's conventions so that code written
// against window messages reads the same.
inline constexpr std::uint32_t kMsgClose = 0x0010;  // the target is asked to close
inline constexpr std::uint32_t kMsgTimer = 0x0113;  // wParam: the timer's id
inline constexpr std::uint32_t kMsgUser = 0x0400;   // first number free for owners

struct Message {
    TargetId target = kNoTarget;
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void onMessage(const Message& message) = 0;
};

// Socket notifications use the platform's event bits. A notification is a
// message whose wParam is the socket and whose lParam carries the event in
// its low 16 bits and an error number (errno, 0 for none) in the high 16.
enum SocketEvent : std::uint32_t {
    kSocketRead = 1,
    kSocketWrite = 2,
    kSocketAccept = 8,
    kSocketConnect = 16,
    kSocketClose = 32,
};

constexpr std::intptr_t makeSocketLParam(std::uint32_t event, int error) {
    return static_cast<std::intptr_t>((static_cast<std::uint32_t>(error) << 16) | (event & 0xFFFFu));
}
constexpr std::uint32_t socketEventOf(std::intptr_t lParam) { return static_cast<std::uint32_t>(lParam) & 0xFFFFu; }
constexpr int socketErrorOf(std::intptr_t lParam) {
    return static_cast<int>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFFu);
}

// What one wait step saw.
enum class WaitOutcome {
    kOk,            // work was done, or the step length passed quietly
    kQuit,          // a quit request is pending; it stays pending for the outer loop
    kTargetClosed,  // a close message was dispatched, or the filtered target is gone
    kFailed,        // the loop itself failed (the readiness facility reported an error)
};

struct WaitOptions {
    // When set, only messages for this target are dispatched; everything else
    // stays queued in order for a later step.
    TargetId onlyTarget = kNoTarget;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;

    // Targets ---------------------------------------------------------------
    virtual TargetId createTarget(MessageTarget& handler) = 0;
    // Drops the target's queued messages, timers and socket watches.
    virtual void destroyTarget(TargetId target) = 0;
    virtual bool targetExists(TargetId target) const = 0;

    // Posted messages, delivered in order. Returns false for an unknown target.
    virtual bool post(const Message& message) = 0;

    // Timers: a tick (kMsgTimer, wParam = timerId) every interval until killed.
    // Ticks do not pile up: while one is queued, the next is not added. Setting
    // an existing (target, timerId) pair restarts it with the new interval.
    virtual bool setTimer(TargetId target, std::uintptr_t timerId, std::chrono::milliseconds interval) = 0;
    virtual bool killTimer(TargetId target, std::uintptr_t timerId) = 0;

    // Socket readiness, in the manner of the platform's asynchronous select:
    // each event in `events` is reported once as message `messageId` to
    // `target`, and is then disarmed until the owner asks for it again with
    // rearmSocket (after a receive or send that would block). Connect is
    // reported once when a non-blocking connect completes, with its error; a
    // successful connect is followed by Write when Write is wanted. Close is
    // reported once when the peer ends the connection (error 0) or it fails
    // (the socket's error). events == 0 stops the watch, as does forgetSocket,
    // which also drops notifications still queued for the socket.
    virtual bool watchSocket(int socket, TargetId target, std::uint32_t messageId, std::uint32_t events) = 0;
    virtual void rearmSocket(int socket, std::uint32_t events) = 0;
    virtual void forgetSocket(int socket) = 0;

    // One round of pending work: dispatches the messages that are queued when
    // the step begins (readiness and timers gathered without waiting); when
    // there are none, waits up to `timeout` for readiness, a timer or a wake-up
    // and dispatches what that produced. Handlers may run wait steps themselves.
    virtual WaitOutcome waitStep(std::chrono::milliseconds timeout, WaitOptions options = {}) = 0;

    // Quit handling. A quit request stays pending (every wait step reports
    // kQuit) until run() consumes it, so that nested blocking operations unwind
    // and the outermost loop ends.
    virtual void postQuit(int exitCode) = 0;
    // Safe to call from a signal handler or another thread: asks the loop to
    // quit and wakes it. Everything else is owner-thread only.
    virtual void postQuitAsync(int exitCode) = 0;
    virtual bool quitPending() const = 0;
    // Runs wait steps until a quit request arrives, consumes it and returns
    // its exit code; returns -1 when the loop fails.
    virtual int run() = 0;

    // Whether a handler is running (the inside-dispatch marker).
    virtual bool insideDispatch() const = 0;
};

}  // namespace platform::loop
