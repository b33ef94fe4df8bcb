// SIGINT and SIGTERM turned into an event of the Qt loop, so that a stop
// from outside runs the terminate path like any other event.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace taltrix::app {

class StopSignals {
public:
    // Installs the handlers; onStop runs on the loop's thread, once per signal.
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::function<void()> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace taltrix::app
