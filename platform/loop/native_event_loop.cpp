#include "platform/loop/native_event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>

namespace platform::loop {
namespace {

// A wait step never sleeps longer than this in one epoll call, so that a
// clock jump or a missed wake-up costs at most this much.
constexpr auto kLongestSleep = std::chrono::milliseconds(60'000);

int pendingSocketError(int socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

NativeEventLoop::NativeEventLoop() {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epollFd_ >= 0 && wakeFd_ >= 0) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wakeFd_;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event) != 0) {
      ::close(wakeFd_);
      wakeFd_ = -1;
    }
  }
}

NativeEventLoop::~NativeEventLoop() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (epollFd_ >= 0) ::close(epollFd_);
}

TargetId NativeEventLoop::createTarget(MessageTarget& handler) {
  const TargetId id = nextTarget_++;
  targets_.emplace(id, &handler);
  return id;
}

void NativeEventLoop::destroyTarget(TargetId target) {
  if (targets_.erase(target) == 0) return;
  std::erase_if(queue_, [target](const Message& m) { return m.target == target; });
  std::erase_if(timers_, [target](const auto& entry) { return entry.first.first == target; });
  std::vector<int> owned;
  for (const auto& [socket, watch] : sockets_) {
    if (watch.target == target) owned.push_back(socket);
  }
  for (int socket : owned) forgetSocket(socket);
}

bool NativeEventLoop::targetExists(TargetId target) const { return targets_.contains(target); }

bool NativeEventLoop::post(const Message& message) {
  if (!targets_.contains(message.target)) return false;
  queue_.push_back(message);
  return true;
}

bool NativeEventLoop::setTimer(TargetId target, std::uintptr_t timerId, std::chrono::milliseconds interval) {
  if (!targets_.contains(target)) return false;
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
  std::erase_if(queue_, [&](const Message& m) {
    return m.target == target && m.id == kMsgTimer && m.wParam == timerId;
  });
  return true;
}

bool NativeEventLoop::watchSocket(int socket, TargetId target, std::uint32_t messageId, std::uint32_t events) {
  if (events == 0) {
    forgetSocket(socket);
    return true;
  }
  if (!targets_.contains(target) || socket < 0) return false;
  SocketWatch& watch = sockets_[socket];
  watch.target = target;
  watch.messageId = messageId;
  watch.armed = events;
  updateInterest(socket, watch);
  return true;
}

void NativeEventLoop::rearmSocket(int socket, std::uint32_t events) {
  auto found = sockets_.find(socket);
  if (found == sockets_.end()) return;
  found->second.armed |= events;
  updateInterest(socket, found->second);
}

void NativeEventLoop::forgetSocket(int socket) {
  auto found = sockets_.find(socket);
  if (found == sockets_.end()) return;
  if (found->second.inEpoll) ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, socket, nullptr);
  const TargetId target = found->second.target;
  const std::uint32_t messageId = found->second.messageId;
  sockets_.erase(found);
  std::erase_if(queue_, [&](const Message& m) {
    return m.target == target && m.id == messageId && m.wParam == static_cast<std::uintptr_t>(socket);
  });
}

void NativeEventLoop::updateInterest(int socket, SocketWatch& watch) {
  std::uint32_t wanted = 0;
  if (watch.armed & (kSocketRead | kSocketAccept)) wanted |= EPOLLIN;
  if (watch.armed & (kSocketWrite | kSocketConnect)) wanted |= EPOLLOUT;
  if (watch.armed & kSocketClose) wanted |= EPOLLRDHUP;
  if (wanted == 0) {
    // Hang-ups are reported whatever the interest; a socket with nothing
    // armed leaves the set so that a dead peer cannot make the loop spin.
    if (watch.inEpoll) ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, socket, nullptr);
    watch.inEpoll = false;
    watch.registered = 0;
    return;
  }
  if (watch.inEpoll && watch.registered == wanted) return;
  epoll_event event{};
  event.events = wanted;
  event.data.fd = socket;
  if (::epoll_ctl(epollFd_, watch.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &event) == 0) {
    watch.inEpoll = true;
    watch.registered = wanted;
  }
}

void NativeEventLoop::queueSocketEvent(int socket, const SocketWatch& watch, std::uint32_t event, int error) {
  queue_.push_back(Message{watch.target, watch.messageId, static_cast<std::uintptr_t>(socket),
                           makeSocketLParam(event, error)});
}

void NativeEventLoop::handleReadiness(int socket, std::uint32_t epollEvents) {
  auto found = sockets_.find(socket);
  if (found == sockets_.end()) return;
  SocketWatch& watch = found->second;
  const bool failed = (epollEvents & (EPOLLERR | EPOLLHUP)) != 0;
  bool reported = false;

  if (watch.armed & kSocketConnect) {
    if (epollEvents & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
      const int error = pendingSocketError(socket);
      watch.armed &= ~kSocketConnect;
      queueSocketEvent(socket, watch, kSocketConnect, error);
      reported = true;
      if (error != 0) {
        // A failed connect is reported once and nothing follows it.
        watch.armed = 0;
        updateInterest(socket, watch);
        return;
      }
    } else {
      // Readable before the connect completed cannot happen on a stream
      // socket; wait for the completion before anything else.
      return;
    }
  }
  if ((epollEvents & (EPOLLIN | EPOLLHUP | EPOLLERR)) && (watch.armed & (kSocketRead | kSocketAccept))) {
    const std::uint32_t event = (watch.armed & kSocketAccept) ? kSocketAccept : kSocketRead;
    watch.armed &= ~event;
    queueSocketEvent(socket, watch, event, 0);
    reported = true;
  }
  if ((epollEvents & (EPOLLOUT | EPOLLERR)) && (watch.armed & kSocketWrite)) {
    watch.armed &= ~kSocketWrite;
    queueSocketEvent(socket, watch, kSocketWrite, 0);
    reported = true;
  }
  if ((epollEvents & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && (watch.armed & kSocketClose)) {
    watch.armed &= ~kSocketClose;
    queueSocketEvent(socket, watch, kSocketClose, failed ? pendingSocketError(socket) : 0);
    reported = true;
  }
  if (!reported) {
    // Nothing the owner asked for; park the socket until it re-arms, rather
    // than be woken by the same level-triggered condition again and again.
    if (watch.inEpoll) ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, socket, nullptr);
    watch.inEpoll = false;
    watch.registered = 0;
    return;
  }
  updateInterest(socket, watch);
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
  const auto now = Clock::now();
  while (auto due = nearestTimer()) {
    if (*due > now) break;
    const HeapEntry entry = timerHeap_.top();
    timerHeap_.pop();
    Timer& timer = timers_[entry.key];
    if (!timer.tickQueued) {
      timer.tickQueued = true;
      queue_.push_back(Message{entry.key.first, kMsgTimer, entry.key.second, 0});
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
    const auto untilTimer =
        std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
    wait = std::clamp(untilTimer, std::chrono::milliseconds(0), wait);
  }
  std::array<epoll_event, 64> events{};
  int count;
  do {
    count = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()),
                         static_cast<int>(wait.count()));
  } while (count < 0 && errno == EINTR && (wait = std::chrono::milliseconds(0), true));
  if (count < 0) return false;
  for (int i = 0; i < count; ++i) {
    if (events[i].data.fd == wakeFd_) {
      std::uint64_t drained = 0;
      while (::read(wakeFd_, &drained, sizeof drained) > 0) {
      }
      continue;
    }
    handleReadiness(events[i].data.fd, events[i].events);
  }
  expireTimers();
  return true;
}

bool NativeEventLoop::hasDispatchable(TargetId onlyTarget) const {
  if (onlyTarget == kNoTarget) return !queue_.empty();
  return std::any_of(queue_.begin(), queue_.end(),
                     [onlyTarget](const Message& m) { return m.target == onlyTarget; });
}

bool NativeEventLoop::dispatchOne(TargetId onlyTarget, bool& sawClose) {
  auto next = queue_.begin();
  if (onlyTarget != kNoTarget) {
    next = std::find_if(queue_.begin(), queue_.end(),
                        [onlyTarget](const Message& m) { return m.target == onlyTarget; });
  }
  if (next == queue_.end()) return false;
  const Message message = *next;
  queue_.erase(next);
  if (message.id == kMsgTimer) {
    auto timer = timers_.find({message.target, message.wParam});
    if (timer != timers_.end()) timer->second.tickQueued = false;
  }
  auto target = targets_.find(message.target);
  if (target == targets_.end()) return true;
  ++dispatchDepth_;
  target->second->onMessage(message);
  --dispatchDepth_;
  if (message.id == kMsgClose) sawClose = true;
  return true;
}

WaitOutcome NativeEventLoop::waitStep(std::chrono::milliseconds timeout, WaitOptions options) {
  if (quitPending()) return WaitOutcome::kQuit;
  if (options.onlyTarget != kNoTarget && !targetExists(options.onlyTarget)) {
    return WaitOutcome::kTargetClosed;
  }
  const bool ready = hasDispatchable(options.onlyTarget);
  if (!gather(ready ? std::chrono::milliseconds(0) : timeout)) return WaitOutcome::kFailed;
  if (quitPending()) return WaitOutcome::kQuit;

  // One round: the messages present now. Messages that handlers post while
  // the round runs wait for the next one, so a handler that posts to itself
  // cannot keep a wait step from returning.
  bool sawClose = false;
  for (std::size_t round = queue_.size(); round > 0; --round) {
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
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
  }
}

bool NativeEventLoop::quitPending() const {
  return quit_ || asyncQuit_.load(std::memory_order_acquire);
}

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
