// Shots as CSV (RFC 4180): a header row, then one row per shot, CR LF line
// ends, UTF-8, and "." as the decimal separator whatever the locale, so that
// a spreadsheet anywhere reads the same numbers.
//
// Columns: time (local, ISO 8601 with the UTC offset), session (the start
// of the bridge's run, the same form), simulator, club_in_play, device_club,
// the launch monitor's numbers under the names of shotNumbers, version,
// delivered (yes, no, or empty when the link could not tell), latency_us,
// message (as sent to the simulator).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/history/shot_entry.h"

namespace taltrix::history {

std::string csvHeader();
std::string csvRow(const ShotEntry& entry);
std::string shotsCsv(const std::vector<ShotEntry>& entries);

// Milliseconds since 1970 as local time, e.g. 2025-12-08T10:14:03.120+01:00.
std::string localTimeText(std::int64_t timeMs);

// A number with "." for the decimal point and no more digits than it needs.
std::string numberText(double value);

}  // namespace taltrix::history
