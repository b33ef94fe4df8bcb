#include "platform/loop/thread_loop.h"

#include "platform/loop/native_event_loop.h"

namespace platform::loop {
namespace {
thread_local std::unique_ptr<EventLoop> tLoop;
}

EventLoop& threadLoop() {
    if (!tLoop) tLoop = std::make_unique<NativeEventLoop>();
    return *tLoop;
}

void installThreadLoop(std::unique_ptr<EventLoop> loop) { tLoop = std::move(loop); }

}  // namespace platform::loop
