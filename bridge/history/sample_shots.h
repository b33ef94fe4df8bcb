// Made-up but plausible shots, for pictures of the History window and for
// its tests: a range session moving through the bag, the same every time.
#pragma once

#include <cstdint>
#include <vector>

#include "bridge/history/shot_entry.h"

namespace taltrix::history {

// `count` shots of session `session`, one every 40 s from `startMs`; every
// fifth found its simulator not connected.
std::vector<ShotEntry> sampleShots(std::int64_t session, std::int64_t startMs, std::size_t count);

}  // namespace taltrix::history
