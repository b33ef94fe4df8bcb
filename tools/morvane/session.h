// A connection driven by the tool: Connect, standard input (or a file) out
// as messages, events printed, Disconnect at the end.
#pragma once

#include "tools/morvane/event_printer.h"
#include "tools/morvane/late_bound.h"
#include "tools/morvane/options.h"

namespace morvane::cli {

// Returns 0 when every call succeeded, 1 otherwise.
int runSession(LateBound& control, EventPrinter& events, const Options& options);

}  // namespace morvane::cli
