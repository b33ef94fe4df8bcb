#include "bridge/shot/observed_outlet.h"

#include <string>

namespace taltrix {

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
    observer_->shotRouted({shot, simulator_, club, message, inner_->lastSendDelivered(), writeBegan - lastByte});
}

std::optional<bool> ObservedOutlet::lastSendDelivered() const {
    return inner_ != nullptr ? inner_->lastSendDelivered() : std::nullopt;
}

ShotOutlet* ObservedShotOutlet::observe(ShotOutlet* inner, ShotObserver* observer) {
    inner_ = inner;
    observer_ = observer;
    return this;
}

void ObservedShotOutlet::sendShot(const ShotRecord& shot) {
    if (observer_ == nullptr) {
        inner_->sendShot(shot);
        return;
    }
    // As above: what the shot depends on is taken before the send.
    const Clock::time_point lastByte = lastByte_;
    const ShotRecord sent = shot;
    const std::string club = state_.currentClub;
    const Clock::time_point writeBegan = Clock::now();
    inner_->sendShot(sent);
    observer_->shotRouted(
        {sent, simulator_, club, inner_->lastMessage(), inner_->lastSendDelivered(), writeBegan - lastByte});
}

std::optional<bool> ObservedShotOutlet::lastSendDelivered() const {
    return inner_ != nullptr ? inner_->lastSendDelivered() : std::nullopt;
}

}  // namespace taltrix
