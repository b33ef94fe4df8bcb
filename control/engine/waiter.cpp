#include "control/engine/waiter.h"

#include <algorithm>
#include <string>

#include "control/engine/engine_context.h"
#include "control/engine/engine_errors.h"

namespace morvane {

std::span<const Setting<Waiter>> Waiter::settings() {
    using W = Waiter;
    static const Setting<W> table[] = {
        {.name = "SelectWaitMillis", .integer = &W::selectWaitMillis_},
        {.name = "AbsoluteTimeout", .boolean = &W::absoluteTimeout_},
        // Keeping the number and changing only its unit is what callers rely on:
        // Timeout 60 becomes 60 ms.
        {.name = "TimeoutInMilliseconds", .boolean = &W::timeoutInMilliseconds_},
        {.name = "MaxTransferRate", .integer64 = &W::maxTransferRate_},
        {.name = "ConnectionTimeout", .integer = &W::connectionTimeout_},
    };
    return table;
}

Waiter::BlockingOperation::BlockingOperation(Waiter& waiter) : waiter_(waiter) {
    if (waiter_.blockingDepth_++ == 0) waiter_.armDeadline();
}

Waiter::BlockingOperation::~BlockingOperation() {
    // An Interrupt meant for this operation does not outlive it.
    if (--waiter_.blockingDepth_ == 0) waiter_.interruptRequested_ = false;
}

Waiter::ConnectionPhase::ConnectionPhase(Waiter& waiter)
    : waiter_(waiter), previousTimeout_(waiter.timeout_), previousDeadline_(waiter.deadline_.at()) {
    if (waiter_.connectionTimeout_ > 0) {
        waiter_.timeout_ = waiter_.connectionTimeout_;
        waiter_.armDeadline();
    }
}

Waiter::ConnectionPhase::~ConnectionPhase() {
    waiter_.timeout_ = previousTimeout_;
    if (waiter_.connectionTimeout_ > 0 && waiter_.absoluteTimeout_) waiter_.deadline_.restore(previousDeadline_);
}

void Waiter::armDeadline() { deadline_.arm(tickCountMillis(), timeoutMillis()); }

void Waiter::recordSend(std::size_t bytes) {
    // The window is kept only while a rate is set; one set later starts a
    // new window with its first send.
    if (maxTransferRate_ > 0) rateWindow_.recordSend(bytes, systemTimeMillis());
    if (!absoluteTimeout_) armDeadline();
}

std::size_t Waiter::sendAllowance(std::size_t wanted) const {
    if (maxTransferRate_ <= 0) return wanted;
    if (!rateWindow_.allows(maxTransferRate_, systemTimeMillis())) return 0;
    return rateWindow_.allowance(maxTransferRate_, wanted);
}

void Waiter::interrupt() {
    if (blockingDepth_ > 0) interruptRequested_ = true;
}

bool Waiter::interruptStep() {
    interruptRequested_ = false;
    interrupted_ = true;
    context_.fail(errc::interrupted, errtext::interrupted);
    return false;
}

bool Waiter::waitStep() {
    if (interruptRequested_) return interruptStep();
    const auto step = std::chrono::milliseconds(std::max(selectWaitMillis_, 0));
    if (pump_ == nullptr || !pump_->pumpEvents(step)) {
        // The thread's loop is quitting or failing: blocking operations give
        // way so that the outer loop can end.
        context_.fail(errc::interrupted, errtext::interrupted);
        return false;
    }
    if (interruptRequested_) return interruptStep();
    if (deadline_.passed(tickCountMillis())) {
        context_.fail(errc::interrupted, errtext::timeout);
        return false;
    }
    return true;
}

void Waiter::doEvents() {
    // DoEvents reports nothing, so it leaves the last error as it was.
    const int code = context_.lastErrorCode();
    const std::string text = context_.lastErrorText();
    waitStep();
    context_.fail(code, text);
}

}  // namespace morvane
