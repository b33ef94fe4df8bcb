// Hands a converted shot to the link of the selected simulator.
#pragma once

#include <string_view>

#include "bridge/shot/ports.h"
#include "bridge/shot/shot_converter.h"
#include "bridge/shot/simulator_state.h"

namespace taltrix {

struct SimulatorOutlets {
    SimulatorOutlet* tgc = nullptr;
    SimulatorOutlet* relay = nullptr;
    Indicator* transmitIndicator = nullptr;
    ShotOutlet* openConnect = nullptr;
};

class ShotRouter {
public:
    static constexpr std::string_view lobbyGameName = "Lobby";

    ShotRouter(SimulatorOutlets outlets, const SimulatorState& state) : outlets_(outlets), state_(state) {}

    // Sends the message when the selected simulator's link is up; a shot
    // that finds its link down is skipped, not queued: it would reach the
    // simulator out of turn.
    void route(Simulator simulator, std::string_view message);
    // The same for a simulator whose link builds the message (Open Connect).
    void routeShot(const ShotRecord& shot);

    void setOutlets(SimulatorOutlets outlets) { outlets_ = outlets; }
    const SimulatorOutlets& outlets() const { return outlets_; }

private:
    SimulatorOutlets outlets_;
    const SimulatorState& state_;
};

}  // namespace taltrix
