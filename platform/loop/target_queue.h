// The part every backend of the message loop shares: the targets, the queue
// of messages addressed to them, and delivery. The backends differ only in
// how readiness, timers and waiting reach this queue.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <optional>
#include <unordered_map>

#include "platform/loop/event_loop.h"

namespace platform::loop {

class TargetQueue {
public:
    TargetId create(MessageTarget& handler);
    // Forgets the target and drops its queued messages; false when unknown.
    bool destroy(TargetId target);
    bool exists(TargetId target) const { return targets_.contains(target); }

    void push(const Message& message) { queue_.push_back(message); }
    template <typename Predicate>
    void dropIf(Predicate predicate) {
        std::erase_if(queue_, predicate);
    }
    std::size_t size() const { return queue_.size(); }
    // Whether a message for `onlyTarget` (any target for kNoTarget) waits.
    bool hasDispatchable(TargetId onlyTarget) const;
    // Takes the first such message out of the queue.
    std::optional<Message> take(TargetId onlyTarget);

    // Hands the message to its target; false when the target is gone.
    bool deliver(const Message& message);
    bool insideDispatch() const { return dispatchDepth_ > 0; }

private:
    TargetId nextTarget_ = 1;
    std::unordered_map<TargetId, MessageTarget*> targets_;
    std::deque<Message> queue_;
    int dispatchDepth_ = 0;
};

}  // namespace platform::loop
