// The bridge's record of the last shot the launch monitor reported.
#pragma once

#include <cstdint>
#include <string>

namespace taltrix {

struct ShotRecord {
    double clubSpeedMPH = 0;
    double clubSpeedKMH = 0;
    double ballSpeedMPH = 0;
    double ballSpeedKMH = 0;
    std::int32_t backSpin = 0;
    std::int32_t sideSpin = 0;  // derived from spin axis and back spin
    std::int32_t ballAngle = 0;
    double valueCD = 0;
    double valueTD = 0;
    double spinAxis = 0;
    double smashFactor = 0;
    std::string club;
    double ballDirection = 0;
    double valueLDA = 0;
    double valueAA = 0;
    double valueDL = 0;
    double valueMH = 0;
    double valueSC = 0;
    double valueST = 0;
    double swingPath = 0;
    double clubFace = 0;
    double valueSPL = 0;
    double valueHT = 0;
    double valueBV = 0;
    std::string version;
    std::int32_t launchCode = 0;  // check value the simulators verify

    void clear() { *this = ShotRecord{}; }
};

// The angles the record keeps coarser than the device writes them (whole
// degrees, for the launch code the simulators check), as the device wrote
// them: one decimal. Filled by the same parse, for a simulator that flies
// the ball from these numbers.
struct PreciseShot {
    double launchAngle = 0;  // LA
    double spinAxis = 0;     // SPA, sign and fraction kept
};

}  // namespace taltrix
