// Hands a converted shot to the link of the selected simulator, and has
// every shot accounted for: why a shot is not handed over (link down, not
// ready, lobby) is decided here for every link and told to the link (its
// observer keeps it in the history), and the user hears when the simulator
// is away.
#pragma once

#include <string>
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
    StatusDisplay* status = nullptr;
};

// "Shot not sent: TGC is not connected", with the simulator's name as the
// window shows it.
std::string shotNotSentText(Simulator simulator);

class ShotRouter {
public:
    static constexpr std::string_view lobbyGameName = "Lobby";

    ShotRouter(SimulatorOutlets outlets, const SimulatorState& state) : outlets_(outlets), state_(state) {}

    // Sends the message when the selected simulator's link is up and ready;
    // a shot that finds it otherwise is let go, not queued: it would reach
    // the simulator out of turn.
    void route(Simulator simulator, std::string_view message);
    // The same for a simulator whose link builds the message (Open Connect).
    void routeShot(const ShotRecord& shot, const PreciseShot& precise);

    void setOutlets(SimulatorOutlets outlets) { outlets_ = outlets; }
    const SimulatorOutlets& outlets() const { return outlets_; }

private:
    void blinkTransmit();
    void notConnected(Simulator simulator);

    SimulatorOutlets outlets_;
    const SimulatorState& state_;
};

}  // namespace taltrix
