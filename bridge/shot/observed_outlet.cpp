#include "bridge/shot/observed_outlet.h"

#include <string>

namespace taltrix {

namespace {

// What became of a shot the link was given; why a shot was not given is the
// router's to say (notSent). A link that cannot tell took the shot: that is
// all anyone can know.
ShotOutcome sendOutcome(std::optional<bool> delivered) {
    return delivered.value_or(true) ? ShotOutcome::sent : ShotOutcome::sendFailed;
}

}  // namespace

SimulatorOutlet* ObservedOutlet::observe(SimulatorOutlet* inner, ShotObserver* observer) {
    inner_ = inner;
    observer_ = observer;
    return this;
}

void ObservedOutlet::send(std::string_view message) {
    if (observer_ == nullptr) {
        inner_->send(message);
        return;
    }
    // Taken before the send: a link may let events run while it sends, and
    // a chunk arriving then can bring the next shot and the next club.
    const Clock::time_point lastByte = lastByte_;
    const ShotRecord shot = shot_;
    const std::string club = state_.currentClub;
    const Clock::time_point writeBegan = Clock::now();
    inner_->send(message);
    const std::optional<bool> delivered = inner_->lastSendDelivered();
    observer_->shotRouted(
        {shot, simulator_, club, message, delivered, writeBegan - lastByte, sendOutcome(delivered), {}});
}

std::optional<bool> ObservedOutlet::lastSendDelivered() const {
    return inner_ != nullptr ? inner_->lastSendDelivered() : std::nullopt;
}

void ObservedOutlet::notSent(std::string_view message, ShotOutcome why) {
    if (inner_ != nullptr) inner_->notSent(message, why);
    if (observer_ == nullptr) return;
    observer_->shotRouted({shot_, simulator_, state_.currentClub, message, false, Clock::now() - lastByte_, why, {}});
}

ShotOutlet* ObservedShotOutlet::observe(ShotOutlet* inner, ShotObserver* observer) {
    inner_ = inner;
    observer_ = observer;
    return this;
}

void ObservedShotOutlet::sendShot(const ShotRecord& shot, const PreciseShot& precise) {
    if (observer_ == nullptr) {
        inner_->sendShot(shot, precise);
        return;
    }
    // As above: what the shot depends on is taken before the send.
    const Clock::time_point lastByte = lastByte_;
    const ShotRecord sent = shot;
    const PreciseShot sentPrecise = precise;
    const std::string club = state_.currentClub;
    const Clock::time_point writeBegan = Clock::now();
    inner_->sendShot(sent, sentPrecise);
    const std::optional<bool> delivered = inner_->lastSendDelivered();
    observer_->shotRouted({sent, simulator_, club, inner_->lastMessage(), delivered, writeBegan - lastByte,
                           sendOutcome(delivered), inner_->lastShotNumber()});
}

std::optional<std::int32_t> ObservedShotOutlet::lastShotNumber() const {
    return inner_ != nullptr ? inner_->lastShotNumber() : std::nullopt;
}

std::optional<bool> ObservedShotOutlet::lastSendDelivered() const {
    return inner_ != nullptr ? inner_->lastSendDelivered() : std::nullopt;
}

void ObservedShotOutlet::notSent(const ShotRecord& shot, ShotOutcome why) {
    if (inner_ != nullptr) inner_->notSent(shot, why);
    if (observer_ == nullptr) return;
    observer_->shotRouted({shot, simulator_, state_.currentClub, {}, false, Clock::now() - lastByte_, why, {}});
}

}  // namespace taltrix
