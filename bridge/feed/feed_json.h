// The shot feed's JSON: shots keyed by the history's columns (numbers as
// numbers, delivered as true, false or null), the bridge's status, and the
// messages of /api/live. UTF-8; text that is not valid UTF-8 shows U+FFFD
// for each broken byte, so that every message is a valid WebSocket text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/history/shot_entry.h"

namespace taltrix::feed {

// What /api/status and the status messages tell.
struct FeedStatus {
    bool deviceConnected = false;
    std::string deviceName;  // the launch monitor the bridge connects to
    std::string simulatorName;
    bool simulatorConnected = false;
    std::string clubInPlay;  // empty: the simulator has named none yet
    std::int64_t sessionStartedMs = 0;
    std::uint64_t shotsThisSession = 0;
    friend bool operator==(const FeedStatus&, const FeedStatus&) = default;
};

void appendJsonString(std::string& out, std::string_view text);

std::string shotJson(const history::ShotEntry& entry);
// {"shots":[...]} in the order given.
std::string shotsJson(const std::vector<history::ShotEntry>& entries);
// {"type":"shot","shot":{...}}
std::string shotMessage(const history::ShotEntry& entry);

std::string statusJson(const FeedStatus& status);
// {"type":"status", and the fields of statusJson}
std::string statusMessage(const FeedStatus& status);

// {"error":"..."}
std::string errorJson(std::string_view message);

}  // namespace taltrix::feed
