// Builds the launch message a simulator understands from the shot record.
//
// The simulators read these texts as they are, blanks included, so they are
// built exactly as the simulators have always received them: concatenated
// in a fixed order, then respaced by two fixed replacements.
#pragma once

#include <string>
#include <string_view>

#include "bridge/shot/shot_record.h"

namespace taltrix {

// OpenConnect's messages are built by its link (open_connect_message.h);
// this converter knows the other two.
enum class Simulator { TGC, HalvexPlay, OpenConnect };

// "HalvexPlay" selects the relay game, "OpenConnect" the Open Connect
// simulator; every other text selects TGC.
Simulator simulatorFromSetting(std::string_view setting);
std::string_view simulatorSettingText(Simulator simulator);
// The name the window gives the choice: "TGC", "Halvex Play", "Open Connect".
std::string_view simulatorDisplayName(Simulator simulator);

class ShotConverter {
public:
    // `currentClub` is the club the simulator last reported; only the Halvex
    // Play form carries it.
    static std::string convert(const ShotRecord& shot, Simulator simulator, std::string_view currentClub);
};

}  // namespace taltrix
