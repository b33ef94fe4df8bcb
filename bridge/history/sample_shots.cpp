#include "bridge/history/sample_shots.h"

#include <cmath>
#include <random>

#include "bridge/shot/launch_code.h"
#include "bridge/shot/shot_converter.h"

namespace taltrix::history {

namespace {

struct ClubRange {
    const char* device;  // the launch monitor's club
    const char* game;    // the simulator's
    double clubSpeed, smash, launch, spin;
};

constexpr ClubRange bag[] = {
    {"Drv", "DR", 104, 1.46, 12, 2600}, {"3Wd", "W3", 97, 1.43, 12.5, 3600}, {"5Ir", "I5", 84, 1.33, 15, 5200},
    {"7Ir", "I7", 78, 1.31, 18, 6500},  {"9Ir", "I9", 74, 1.26, 22, 8100},   {"Sdw", "SW", 64, 1.16, 30, 9800},
};

double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::nearbyint(value * scale) / scale;
}

}  // namespace

constexpr std::size_t awayEvery = 5;

std::vector<ShotEntry> sampleShots(std::int64_t session, std::int64_t startMs, std::size_t count) {
    std::mt19937 random(20240611);
    std::normal_distribution<double> spread(0.0, 1.0);
    std::vector<ShotEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const ClubRange& club = bag[(i * std::size(bag)) / std::max<std::size_t>(count, 1)];
        ShotEntry e;
        e.timeMs = startMs + static_cast<std::int64_t>(i) * 40000;
        e.session = session;
        e.simulator = std::string(simulatorSettingText(Simulator::TGC));
        e.clubInPlay = club.game;
        ShotRecord& s = e.shot;
        s.club = club.device;
        s.version = "109";
        s.clubSpeedMPH = rounded(club.clubSpeed + 3.0 * spread(random), 1);
        s.smashFactor = rounded(club.smash + 0.02 * spread(random), 2);
        s.ballSpeedMPH = rounded(s.clubSpeedMPH * s.smashFactor, 1);
        s.ballSpeedKMH = rounded(s.ballSpeedMPH * 1.609, 1);
        s.clubSpeedKMH = rounded(s.clubSpeedMPH * 1.609, 1);
        s.ballAngle = static_cast<std::int32_t>(std::nearbyint(club.launch + 1.5 * spread(random)));
        s.backSpin = static_cast<std::int32_t>(std::nearbyint(club.spin + 350 * spread(random)));
        s.spinAxis = std::nearbyint(4.0 * spread(random));
        s.sideSpin = static_cast<std::int32_t>(std::nearbyint(s.spinAxis * s.backSpin / 45.0));
        s.swingPath = rounded(2.0 * spread(random), 1);
        s.clubFace = rounded(s.swingPath + 1.5 * spread(random), 1);
        s.ballDirection = rounded(0.75 * s.clubFace + 0.25 * s.swingPath, 1);
        s.launchCode = computeLaunchCode(s.backSpin, s.ballAngle);
        e.message = ShotConverter::convert(s, Simulator::TGC, e.clubInPlay);
        // Now and then the simulator was away: the shot is kept, not sent.
        const bool away = i % awayEvery == awayEvery - 1;
        e.delivered = !away;
        e.outcome = away ? ShotOutcome::simulatorNotConnected : ShotOutcome::sent;
        e.latencyUs = 40 + 8 * std::abs(spread(random));
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace taltrix::history
