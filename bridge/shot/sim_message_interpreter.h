// Applies one flattened simulator message to the simulator state.
#pragma once

#include "bridge/shot/pair_splitter.h"
#include "bridge/shot/ports.h"
#include "bridge/shot/simulator_state.h"

namespace taltrix {

class SimMessageInterpreter {
public:
    // Returns true when the message is accepted. A rejection stops reading
    // at the offending row; rows read before it keep their effect.
    // `status` shows the free-text messages the simulators send.
    static bool interpret(const PairTable& table, SimulatorState& state, StatusDisplay& status);
};

}  // namespace taltrix
