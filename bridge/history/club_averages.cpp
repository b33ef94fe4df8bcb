#include "bridge/history/club_averages.h"

#include <algorithm>
#include <map>

namespace taltrix::history {

std::string clubOf(const ShotEntry& entry) {
    if (!entry.shot.club.empty()) return entry.shot.club;
    if (!entry.clubInPlay.empty()) return entry.clubInPlay;
    return "?";
}

std::vector<ClubAverage> clubAverages(const std::vector<ShotEntry>& entries) {
    std::map<std::string, ClubAverage> sums;
    for (const ShotEntry& entry : entries) {
        ClubAverage& sum = sums[clubOf(entry)];
        const ShotRecord& s = entry.shot;
        ++sum.shots;
        sum.ballSpeedMph += s.ballSpeedMPH;
        sum.clubSpeedMph += s.clubSpeedMPH;
        sum.smashFactor += s.smashFactor;
        sum.launchAngle += s.ballAngle;
        sum.backSpin += s.backSpin;
        sum.sideSpin += s.sideSpin;
        sum.ballDirection += s.ballDirection;
    }
    std::vector<ClubAverage> averages;
    for (auto& [club, sum] : sums) {
        const double n = static_cast<double>(sum.shots);
        ClubAverage& a = averages.emplace_back(sum);
        a.club = club;
        for (double* value : {&a.ballSpeedMph, &a.clubSpeedMph, &a.smashFactor, &a.launchAngle, &a.backSpin,
                              &a.sideSpin, &a.ballDirection}) {
            *value /= n;
        }
    }
    std::stable_sort(averages.begin(), averages.end(),
                     [](const ClubAverage& a, const ClubAverage& b) { return a.ballSpeedMph > b.ballSpeedMph; });
    return averages;
}

}  // namespace taltrix::history
