#include "platform/loop/qt_event_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <climits>

namespace platform::loop {
namespace {

// The longest single wait; run() loops, so this only bounds how long a
// missed wake-up could cost.
constexpr auto kLongestSleep = std::chrono::milliseconds(60'000);

int qtInterval(std::chrono::milliseconds interval) {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(interval.count(), 1, INT_MAX));
}

}  // namespace

// Receives what Qt tells this loop: that a timer fired (one of the owners'
// timers, a wait step's wake-up or the drain timer that asks for a round of
// messages), and, through its notifier on the readiness descriptor, that a
// socket may have something to report.
class QtEventLoop::Pump final : public QObject {
public:
    explicit Pump(QtEventLoop& loop) : loop_(loop) {
        if (QAbstractEventDispatcher::instance() == nullptr || !loop.readiness_.valid()) return;
        notifier_ = new QSocketNotifier(loop.readiness_.descriptor(), QSocketNotifier::Read, this);
        QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { loop_.gatherSockets(); });
    }

    bool ready() const { return notifier_ != nullptr; }

protected:
    void timerEvent(QTimerEvent* event) override { loop_.onQtTimer(event->timerId()); }

private:
    QtEventLoop& loop_;
    QSocketNotifier* notifier_ = nullptr;  // owned by this object as its child
};

QtEventLoop::QtEventLoop() : pump_(std::make_unique<Pump>(*this)) {}

QtEventLoop::~QtEventLoop() = default;

bool QtEventLoop::valid() const { return pump_->ready() && !failed_; }

// --- targets and messages ---------------------------------------------------

TargetId QtEventLoop::createTarget(MessageTarget& handler) { return messages_.create(handler); }

void QtEventLoop::destroyTarget(TargetId target) {
    if (!messages_.destroy(target)) return;
    for (auto timer = timers_.begin(); timer != timers_.end();) {
        if (timer->first.first != target) {
            ++timer;
            continue;
        }
        timerKeys_.erase(timer->second.qtTimer);
        pump_->killTimer(timer->second.qtTimer);
        timer = timers_.erase(timer);
    }
    for (int socket : readiness_.socketsOf(target)) forgetSocket(socket);
    updateDrain();
}

bool QtEventLoop::targetExists(TargetId target) const { return messages_.exists(target); }

bool QtEventLoop::post(const Message& message) {
    if (!messages_.exists(message.target)) return false;
    enqueue(message);
    return true;
}

TargetId QtEventLoop::currentFilter() const { return steps_.empty() ? kNoTarget : steps_.back().onlyTarget; }

void QtEventLoop::enqueue(const Message& message) {
    messages_.push(message);
    const TargetId filter = currentFilter();
    if (drainTimer_ == 0 && !quitPending() && (filter == kNoTarget || filter == message.target)) {
        drainTimer_ = pump_->startTimer(0);
    }
}

// Keeps the drain timer running while the innermost wait step (or the host's
// own loop, outside any step) has something it may dispatch, and stopped
// otherwise. It is a zero-interval timer rather than a posted event because
// posting wakes Qt's dispatcher even when the event is withdrawn again: a
// blocking call whose steps may not touch the pending messages would then
// never sleep. Starting and stopping a timer wakes nothing.
void QtEventLoop::updateDrain() {
    const bool wanted = !quitPending() && messages_.hasDispatchable(currentFilter());
    if (wanted && drainTimer_ == 0) {
        drainTimer_ = pump_->startTimer(0);
    } else if (!wanted && drainTimer_ != 0) {
        pump_->killTimer(drainTimer_);
        drainTimer_ = 0;
    }
}

void QtEventLoop::onDrain() {
    // Qt does not fire a timer again while its event is being handled, and a
    // handler in this round may run a loop of its own (a wait step, a message
    // box) that must still get rounds: the next round gets a fresh timer.
    pump_->killTimer(drainTimer_);
    drainTimer_ = 0;
    if (!quitPending()) runRound();
    updateDrain();
}

// One round: the messages present now, in order, for the innermost step's
// target. Messages that handlers post meanwhile wait for the next round, so a
// handler that posts to itself cannot hold Qt's loop.
void QtEventLoop::runRound() {
    const std::size_t depth = steps_.size();
    const TargetId filter = currentFilter();
    if (depth > 0) steps_[depth - 1].roundDone = true;
    bool sawClose = false;
    for (std::size_t round = messages_.size(); round > 0 && !quitPending(); --round) {
        if (!dispatchOne(filter, sawClose)) break;
    }
    // Nested steps have come and gone by now; the index is this round's step.
    if (sawClose && depth > 0) steps_[depth - 1].sawClose = true;
}

bool QtEventLoop::dispatchOne(TargetId onlyTarget, bool& sawClose) {
    const auto message = messages_.take(onlyTarget);
    if (!message) return false;
    if (message->id == kMsgTimer) {
        auto timer = timers_.find({message->target, message->wParam});
        if (timer != timers_.end()) timer->second.tickQueued = false;
    }
    if (messages_.deliver(*message) && message->id == kMsgClose) sawClose = true;
    return true;
}

// --- timers -----------------------------------------------------------------

bool QtEventLoop::setTimer(TargetId target, std::uintptr_t timerId, std::chrono::milliseconds interval) {
    if (!messages_.exists(target)) return false;
    Timer& timer = timers_[{target, timerId}];
    if (timer.qtTimer != 0) {
        timerKeys_.erase(timer.qtTimer);
        pump_->killTimer(timer.qtTimer);
    }
    // Qt's timers skip missed periods instead of firing in a burst, and the
    // queued-tick flag keeps a slow owner from finding a pile of ticks.
    timer.qtTimer = pump_->startTimer(qtInterval(interval), Qt::PreciseTimer);
    if (timer.qtTimer == 0) {
        timers_.erase({target, timerId});
        return false;
    }
    timerKeys_[timer.qtTimer] = {target, timerId};
    return true;
}

bool QtEventLoop::killTimer(TargetId target, std::uintptr_t timerId) {
    auto found = timers_.find({target, timerId});
    if (found == timers_.end()) return false;
    timerKeys_.erase(found->second.qtTimer);
    pump_->killTimer(found->second.qtTimer);
    timers_.erase(found);
    // No tick may arrive after the kill, not even one already queued.
    messages_.dropIf([&](const Message& m) { return m.target == target && m.id == kMsgTimer && m.wParam == timerId; });
    updateDrain();
    return true;
}

void QtEventLoop::onQtTimer(int qtTimer) {
    if (qtTimer == drainTimer_) {
        onDrain();
        return;
    }
    auto key = timerKeys_.find(qtTimer);
    if (key == timerKeys_.end()) return;  // a wait step's wake-up: waking was the point
    Timer& timer = timers_[key->second];
    if (timer.tickQueued) return;
    timer.tickQueued = true;
    enqueue(Message{key->second.first, kMsgTimer, key->second.second, 0});
}

// --- sockets ----------------------------------------------------------------

bool QtEventLoop::watchSocket(int socket, TargetId target, std::uint32_t messageId, std::uint32_t events) {
    if (events == 0) {
        forgetSocket(socket);
        return true;
    }
    if (!messages_.exists(target) || socket < 0) return false;
    readiness_.watch(socket, target, messageId, events);
    return true;
}

void QtEventLoop::rearmSocket(int socket, std::uint32_t events) { readiness_.rearm(socket, events); }

void QtEventLoop::forgetSocket(int socket) {
    const auto owner = readiness_.forget(socket);
    if (!owner) return;
    messages_.dropIf([&](const Message& m) {
        return m.target == owner->target && m.id == owner->messageId && m.wParam == static_cast<std::uintptr_t>(socket);
    });
    updateDrain();
}

bool QtEventLoop::gatherSockets() {
    notices_.clear();
    if (!readiness_.gather(std::chrono::milliseconds(0), notices_)) {
        failed_ = true;
        return false;
    }
    for (const auto& notice : notices_) {
        enqueue(Message{notice.target, notice.messageId, static_cast<std::uintptr_t>(notice.socket),
                        makeSocketLParam(notice.event, notice.error)});
    }
    return true;
}

// --- wait steps and quitting ------------------------------------------------

WaitOutcome QtEventLoop::waitStep(std::chrono::milliseconds timeout, WaitOptions options) {
    if (quitPending()) return WaitOutcome::kQuit;
    if (options.onlyTarget != kNoTarget && !targetExists(options.onlyTarget)) {
        return WaitOutcome::kTargetClosed;
    }
    if (!valid() || !gatherSockets()) return WaitOutcome::kFailed;

    steps_.push_back(Step{options.onlyTarget});
    updateDrain();
    // One pass of Qt's event processing. When this step has messages to
    // dispatch, the pass delivers the drain among the host's own events;
    // otherwise it sleeps until something happens (a socket, a Qt timer of
    // ours or the host's, user input) or the wake-up timer ends the wait.
    if (drainTimer_ != 0 || timeout <= std::chrono::milliseconds(0)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        const int wake = pump_->startTimer(qtInterval(std::min(timeout, kLongestSleep)), Qt::PreciseTimer);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        pump_->killTimer(wake);
    }
    // What the pass produced (readiness, ticks) but did not get to deliver is
    // this step's round, as it would be after a native wait.
    if (!steps_.back().roundDone && !quitPending() && messages_.hasDispatchable(options.onlyTarget)) runRound();
    const Step step = steps_.back();
    steps_.pop_back();
    updateDrain();

    if (failed_) return WaitOutcome::kFailed;
    if (quitPending()) return WaitOutcome::kQuit;
    if (step.sawClose) return WaitOutcome::kTargetClosed;
    if (options.onlyTarget != kNoTarget && !targetExists(options.onlyTarget)) {
        return WaitOutcome::kTargetClosed;
    }
    return WaitOutcome::kOk;
}

void QtEventLoop::postQuit(int exitCode) {
    quit_ = true;
    quitCode_ = exitCode;
    updateDrain();
}

void QtEventLoop::postQuitAsync(int exitCode) {
    asyncQuitCode_.store(exitCode, std::memory_order_relaxed);
    asyncQuit_.store(true, std::memory_order_release);
    // Qt's own wake-up is not safe in a signal handler; the readiness
    // descriptor is, and Qt watches it.
    readiness_.wake();
}

bool QtEventLoop::quitPending() const { return quit_ || asyncQuit_.load(std::memory_order_acquire); }

int QtEventLoop::run() {
    for (;;) {
        if (quit_) {
            quit_ = false;
            updateDrain();
            return quitCode_;
        }
        if (asyncQuit_.exchange(false, std::memory_order_acq_rel)) {
            updateDrain();
            return asyncQuitCode_.load(std::memory_order_relaxed);
        }
        if (waitStep(kLongestSleep) == WaitOutcome::kFailed) return -1;
    }
}

}  // namespace platform::loop
