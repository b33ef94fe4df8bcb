// Shots as CSV (RFC 4180): a header row, then one row per shot, CR LF line
// ends, UTF-8, and "." as the decimal separator whatever the locale, so that
// a spreadsheet anywhere reads the same numbers.
//
// The columns are those of shotColumns(), in its order; newer columns come
// last, so that a reader that goes by position keeps finding the old ones.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/history/shot_entry.h"

namespace taltrix::history {

// One column of a shot as the history hands it out: its name, what kind of
// value it holds and the value's text. An empty text is a value nobody knows
// (delivered when the link could not tell, shot_number of a shot without).
struct ShotColumn {
    enum class Kind { text, number, flag };  // flag: "yes" or "no"
    std::string_view name;
    Kind kind;
    std::string (*text)(const ShotEntry& entry);
};

// time (local, ISO 8601 with the UTC offset), session (the start of the
// bridge's run, the same form), simulator, club_in_play, device_club, the
// launch monitor's numbers under the names of shotNumbers, version,
// delivered (yes, no, or empty when the link could not tell), latency_us,
// message (as sent to the simulator, or as it would have been), outcome
// (sent, simulator not connected, simulator not ready, in the lobby, send
// failed; empty for a shot an older Taltrix kept without saying),
// shot_number (Open Connect's, else empty).
std::span<const ShotColumn> shotColumns();

std::string csvHeader();
std::string csvRow(const ShotEntry& entry);
std::string shotsCsv(const std::vector<ShotEntry>& entries);

// Milliseconds since 1970 as local time, e.g. 2025-12-08T10:14:03.120+01:00.
std::string localTimeText(std::int64_t timeMs);

// A number with "." for the decimal point and no more digits than it needs.
std::string numberText(double value);

}  // namespace taltrix::history
