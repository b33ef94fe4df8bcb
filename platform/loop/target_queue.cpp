#include "platform/loop/target_queue.h"

namespace platform::loop {

namespace {

auto addressedTo(TargetId onlyTarget) {
    return [onlyTarget](const Message& m) { return onlyTarget == kNoTarget || m.target == onlyTarget; };
}

}  // namespace

TargetId TargetQueue::create(MessageTarget& handler) {
    const TargetId id = nextTarget_++;
    targets_.emplace(id, &handler);
    return id;
}

bool TargetQueue::destroy(TargetId target) {
    if (targets_.erase(target) == 0) return false;
    std::erase_if(queue_, [target](const Message& m) { return m.target == target; });
    return true;
}

bool TargetQueue::hasDispatchable(TargetId onlyTarget) const {
    return std::any_of(queue_.begin(), queue_.end(), addressedTo(onlyTarget));
}

std::optional<Message> TargetQueue::take(TargetId onlyTarget) {
    const auto next = std::find_if(queue_.begin(), queue_.end(), addressedTo(onlyTarget));
    if (next == queue_.end()) return std::nullopt;
    const Message message = *next;
    // Nearly always the first: a deque takes that off the front for less.
    if (next == queue_.begin()) {
        queue_.pop_front();
    } else {
        queue_.erase(next);
    }
    return message;
}

bool TargetQueue::deliver(const Message& message) {
    const auto target = targets_.find(message.target);
    if (target == targets_.end()) return false;
    ++dispatchDepth_;
    target->second->onMessage(message);
    --dispatchDepth_;
    return true;
}

}  // namespace platform::loop
