// morvane --echo: a peer for conformance suites, which sends every whole
// message it receives straight back.
#pragma once

#include <string>

#include "tools/morvane/event_printer.h"
#include "tools/morvane/late_bound.h"

namespace morvane::cli {

// Connects to `url` and echoes each message once it is whole: text as text,
// in the UTF-8 bytes it came in (whatever the code page), binary as binary.
// Pings are answered by the control; the tool never closes by itself and
// has no time limit. Returns 0 when the connection ended with the close
// handshake (whichever side began it), 1 when it could not be opened,
// failed or dropped.
int runEcho(LateBound& control, EventPrinter& events, const std::string& url);

}  // namespace morvane::cli
