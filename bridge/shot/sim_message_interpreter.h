// Applies one flattened simulator message to the simulator state.
#pragma once

#include <string>
#include <string_view>

#include "bridge/shot/pair_splitter.h"
#include "bridge/shot/ports.h"
#include "bridge/shot/simulator_state.h"

namespace taltrix {

// The lie a simulator's surface text stands for, by its first letter after
// the charset filter: S Bunker, L and R Rough, H High Rough, F Fairway,
// G Green, anything else (nothing too) Tee.
std::string surfaceFromLetter(std::string_view value);

class SimMessageInterpreter {
public:
    // Returns true when the message is accepted. A rejection stops reading
    // at the offending row; rows read before it keep their effect.
    // `status` shows the free-text messages the simulators send.
    static bool interpret(const PairTable& table, SimulatorState& state, StatusDisplay& status);
};

}  // namespace taltrix
