// A simulator's link with someone listening: every shot routing gives the
// link, or lets go without it, is also told to a ShotObserver (the shot
// history), with the message, what became of it and how long it took from
// the device's last byte. The observer hears of it after the send, so the
// shot never waits.
#pragma once

#include <chrono>

#include "bridge/shot/ports.h"
#include "bridge/shot/shot_observer.h"
#include "bridge/shot/shot_record.h"
#include "bridge/shot/simulator_state.h"

namespace taltrix {

class ObservedOutlet final : public SimulatorOutlet {
public:
    using Clock = std::chrono::steady_clock;

    // `shot` is the record the message was built from, `lastByte` when the
    // chunk that completed it arrived; both are read at each send.
    ObservedOutlet(Simulator simulator, const ShotRecord& shot, const SimulatorState& state,
                   const Clock::time_point& lastByte)
        : simulator_(simulator), shot_(shot), state_(state), lastByte_(lastByte) {}

    // Puts this in front of `inner`; returns this, for the router.
    SimulatorOutlet* observe(SimulatorOutlet* inner, ShotObserver* observer);

    bool isUp() const override { return inner_ != nullptr && inner_->isUp(); }
    bool isReady() const override { return inner_ != nullptr && inner_->isReady(); }
    void send(std::string_view message) override;
    std::optional<bool> lastSendDelivered() const override;
    void notSent(std::string_view message, ShotOutcome why) override;

private:
    Simulator simulator_;
    const ShotRecord& shot_;
    const SimulatorState& state_;
    const Clock::time_point& lastByte_;
    SimulatorOutlet* inner_ = nullptr;
    ShotObserver* observer_ = nullptr;
};

// The same for a simulator whose link builds the message itself.
class ObservedShotOutlet final : public ShotOutlet {
public:
    using Clock = ObservedOutlet::Clock;

    ObservedShotOutlet(Simulator simulator, const SimulatorState& state, const Clock::time_point& lastByte)
        : simulator_(simulator), state_(state), lastByte_(lastByte) {}

    ShotOutlet* observe(ShotOutlet* inner, ShotObserver* observer);

    bool isUp() const override { return inner_ != nullptr && inner_->isUp(); }
    void sendShot(const ShotRecord& shot, const PreciseShot& precise) override;
    std::string_view lastMessage() const override { return inner_ != nullptr ? inner_->lastMessage() : ""; }
    std::optional<std::int32_t> lastShotNumber() const override;
    std::optional<bool> lastSendDelivered() const override;
    void notSent(const ShotRecord& shot, ShotOutcome why) override;

private:
    Simulator simulator_;
    const SimulatorState& state_;
    const Clock::time_point& lastByte_;
    ShotOutlet* inner_ = nullptr;
    ShotObserver* observer_ = nullptr;
};

}  // namespace taltrix
