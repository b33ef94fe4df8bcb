// The History window's per-club table: for each club, how many shots and
// their mean values.
#pragma once

#include <string>
#include <vector>

#include "bridge/history/shot_entry.h"

namespace taltrix::history {

// The club a shot is shown under: the launch monitor's own club setting
// (what it measured the shot as), or the simulator's club when the device
// sent none.
std::string clubOf(const ShotEntry& entry);

struct ClubAverage {
    std::string club;
    std::size_t shots = 0;
    double ballSpeedMph = 0;
    double clubSpeedMph = 0;
    double smashFactor = 0;
    double launchAngle = 0;
    double backSpin = 0;
    double sideSpin = 0;
    double ballDirection = 0;
};

// One row per club, the longest-hitting club (fastest ball) first.
std::vector<ClubAverage> clubAverages(const std::vector<ShotEntry>& entries);

}  // namespace taltrix::history
