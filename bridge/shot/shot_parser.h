// Reads one framed launch-monitor message ("ES16Prt001CS093.0BS...VER109End")
// into the shot record.
#pragma once

#include <string_view>

#include "bridge/shot/shot_record.h"

namespace taltrix {

class ShotParser {
public:
    // Clears `record` and fills every field that can be located. Never
    // rejects a message: a field that cannot be found keeps its cleared
    // value, and the result is always true.
    static bool parse(std::string_view message, ShotRecord& record);
    // The same, with the angles as the device wrote them beside the record.
    static bool parse(std::string_view message, ShotRecord& record, PreciseShot& precise);
};

}  // namespace taltrix
