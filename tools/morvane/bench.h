// morvane --bench: the three benchmark workloads, timed through the
// control's dispatch interface and events like any host's traffic.
#pragma once

#include "tools/morvane/event_printer.h"
#include "tools/morvane/late_bound.h"
#include "tools/morvane/options.h"

namespace morvane::cli {

// Prints exactly one JSON line; returns 0 only when the run was ok. Send
// coalescing is turned off first unless `configuredNoDelay` says the caller
// has set TcpNoDelay itself.
int runBench(LateBound& control, EventPrinter& events, const Bench& bench, bool configuredNoDelay);

}  // namespace morvane::cli
