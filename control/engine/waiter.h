// Waiting, as the engine's blocking operations do it: the wait step that
// lets the caller's other events run, the deadline (Timeout), Interrupt, the
// connection phase's own limit (ConnectionTimeout) and the send-rate limit
// (MaxTransferRate).
//
// The turn of event processing itself belongs to whatever sits at the bottom
// of the stack: the socket runs the thread's loop (or its select emulation),
// a test stream hands over its next scripted bytes. It plugs in as the pump.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "control/engine/setting.h"
#include "control/engine/transfer_timing.h"

namespace morvane {

class EngineContext;

class EventPump {
public:
    // One turn of event processing, at most `step` long. False when events
    // can no longer arrive (the thread's loop is ending, the engine's
    // notifications are gone); the wait step then fails with "Interrupted.".
    virtual bool pumpEvents(std::chrono::milliseconds step) = 0;

protected:
    ~EventPump() = default;
};

class Waiter {
public:
    explicit Waiter(EngineContext& context) : context_(context) {}
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    void setPump(EventPump* pump) { pump_ = pump; }
    EventPump* pump() const { return pump_; }

    // One turn of event processing (at most SelectWaitMillis long). False on
    // timeout ("Timeout."), interruption ("Interrupted."), or when events can
    // no longer arrive; the description is left in the last error (301).
    bool waitStep();
    // The control's DoEvents: one wait step whose outcome is not reported.
    void doEvents();

    // Ends the blocking operation in progress at its next wait step; does
    // nothing when none is running.
    void interrupt();
    bool interruptRequested() const { return interruptRequested_; }
    // Whether the last blocking operation ended by Interrupt; cleared when a
    // connect starts.
    bool interrupted() const { return interrupted_; }
    void clearInterrupted() { interrupted_ = false; }

    // The deadline of the blocking operation in progress: now + Timeout, or
    // none with Timeout 0.
    void armDeadline();
    // Bytes went out: the rate window counts them, and progress keeps a
    // blocking operation alive unless AbsoluteTimeout holds it to its start.
    void recordSend(std::size_t bytes);
    // What the send-rate limit lets through now (0 while it holds sends
    // back), of `wanted` bytes.
    std::size_t sendAllowance(std::size_t wanted) const;

    // Marks a blocking operation for its lifetime: Interrupt applies while
    // one runs, and the outermost one arms the deadline when it starts.
    class BlockingOperation {
    public:
        explicit BlockingOperation(Waiter& waiter);
        ~BlockingOperation();
        BlockingOperation(const BlockingOperation&) = delete;
        BlockingOperation& operator=(const BlockingOperation&) = delete;

    private:
        Waiter& waiter_;
    };

    // The connection phase of a blocking connect: ConnectionTimeout, when
    // set, is its limit instead of Timeout. Timeout (and, with
    // AbsoluteTimeout, the deadline before it) is back afterwards.
    class ConnectionPhase {
    public:
        explicit ConnectionPhase(Waiter& waiter);
        ~ConnectionPhase();
        ConnectionPhase(const ConnectionPhase&) = delete;
        ConnectionPhase& operator=(const ConnectionPhase&) = delete;

    private:
        Waiter& waiter_;
        int previousTimeout_;
        std::int64_t previousDeadline_;
    };

    // Timeouts. `timeout` is in seconds, or in milliseconds when
    // TimeoutInMilliseconds is set; 0 selects non-blocking operation.
    int timeout() const { return timeout_; }
    void setTimeout(int timeout) { timeout_ = timeout; }
    bool timeoutInMilliseconds() const { return timeoutInMilliseconds_; }
    std::int64_t timeoutMillis() const { return unitMillis(timeout_); }
    std::int64_t connectionTimeoutMillis() const { return unitMillis(connectionTimeout_); }
    bool absoluteTimeout() const { return absoluteTimeout_; }
    int selectWaitMillis() const { return selectWaitMillis_; }
    std::int64_t maxTransferRate() const { return maxTransferRate_; }

    static std::span<const Setting<Waiter>> settings();

private:
    std::int64_t unitMillis(std::int64_t value) const { return timeoutInMilliseconds_ ? value : value * 1000; }
    bool interruptStep();

    EngineContext& context_;
    EventPump* pump_ = nullptr;

    std::int32_t timeout_ = 60;
    bool timeoutInMilliseconds_ = false;
    bool absoluteTimeout_ = false;
    std::int32_t connectionTimeout_ = 0;
    std::int32_t selectWaitMillis_ = 20;
    std::int64_t maxTransferRate_ = 0;

    Deadline deadline_;
    RateWindow rateWindow_;
    int blockingDepth_ = 0;
    bool interruptRequested_ = false;
    bool interrupted_ = false;
};

}  // namespace morvane
