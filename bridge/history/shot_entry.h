// One shot as the history keeps it: when it was, the launch monitor's
// values as parsed, where it went, the message as sent, whether it went out
// (or why not) and how long the bridge took with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/shot/shot_observer.h"
#include "bridge/shot/shot_record.h"

namespace taltrix::history {

struct ShotEntry {
    std::int64_t id = 0;       // given by the history when stored
    std::int64_t timeMs = 0;   // UTC, milliseconds since 1970
    std::int64_t session = 0;  // the run of the bridge it came in (its start time)
    std::string simulator;     // "TGC", "HalvexPlay", "OpenConnect"
    std::string clubInPlay;    // the club the simulator last reported
    ShotRecord shot;
    std::string message;            // as handed to the simulator's link, or as it would have been
    std::optional<bool> delivered;  // nothing when the link could not tell
    double latencyUs = 0;           // device's last byte to the simulator write
    // What became of the shot; nothing for a shot an older Taltrix stored
    // that did not go out, which it did not say why.
    std::optional<ShotOutcome> outcome;
    // The number the message carried (Open Connect), nothing for the others.
    std::optional<std::int32_t> shotNumber;

    // Not on its way to the simulator: shown apart in the History window.
    bool undelivered() const { return delivered == false; }
};

// The launch monitor's numbers, each under the column name the history and
// the CSV export give it; one list, so that the two never disagree.
struct NumberField {
    std::string_view column;
    double ShotRecord::*real = nullptr;
    std::int32_t ShotRecord::*whole = nullptr;

    double get(const ShotRecord& shot) const { return real != nullptr ? shot.*real : shot.*whole; }
    void set(ShotRecord& shot, double value) const {
        if (real != nullptr) {
            shot.*real = value;
        } else {
            shot.*whole = static_cast<std::int32_t>(value);
        }
    }
};

inline constexpr NumberField shotNumbers[] = {
    {"ball_speed_mph", &ShotRecord::ballSpeedMPH},
    {"ball_speed_kmh", &ShotRecord::ballSpeedKMH},
    {"club_speed_mph", &ShotRecord::clubSpeedMPH},
    {"club_speed_kmh", &ShotRecord::clubSpeedKMH},
    {"launch_angle", nullptr, &ShotRecord::ballAngle},
    {"back_spin", nullptr, &ShotRecord::backSpin},
    {"side_spin", nullptr, &ShotRecord::sideSpin},
    {"spin_axis", &ShotRecord::spinAxis},
    {"ball_direction", &ShotRecord::ballDirection},
    {"club_path", &ShotRecord::swingPath},
    {"club_face", &ShotRecord::clubFace},
    {"smash_factor", &ShotRecord::smashFactor},
    {"value_cd", &ShotRecord::valueCD},
    {"value_td", &ShotRecord::valueTD},
    {"value_lda", &ShotRecord::valueLDA},
    {"value_aa", &ShotRecord::valueAA},
    {"value_dl", &ShotRecord::valueDL},
    {"value_mh", &ShotRecord::valueMH},
    {"value_sc", &ShotRecord::valueSC},
    {"value_st", &ShotRecord::valueST},
    {"value_spl", &ShotRecord::valueSPL},
    {"value_ht", &ShotRecord::valueHT},
    {"value_bv", &ShotRecord::valueBV},
    {"launch_code", nullptr, &ShotRecord::launchCode},
};

}  // namespace taltrix::history
