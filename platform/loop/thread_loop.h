// The calling thread's message loop. The control and its tools use the
// native backend unless the host installs another one (the Qt backend does,
// so that blocking calls keep the window alive).
#pragma once

#include <memory>

#include "platform/loop/event_loop.h"

namespace platform::loop {

// The loop of the calling thread, created on first use with the native backend.
EventLoop& threadLoop();

// Replaces the calling thread's loop. Targets of the previous loop are gone
// with it; install before creating anything that uses the loop.
void installThreadLoop(std::unique_ptr<EventLoop> loop);

}  // namespace platform::loop
