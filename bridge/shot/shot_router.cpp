#include "bridge/shot/shot_router.h"

namespace taltrix {

void ShotRouter::route(Simulator simulator, std::string_view message) {
    SimulatorOutlet* outlet = nullptr;
    if (simulator == Simulator::TGC) {
        outlet = outlets_.tgc;
    } else if (state_.gameName != lobbyGameName) {
        // Nothing goes to the relay while the player waits in the lobby.
        outlet = outlets_.relay;
    }
    if (outlet == nullptr || !outlet->isUp()) return;
    outlet->send(message);
    if (outlets_.transmitIndicator != nullptr) outlets_.transmitIndicator->switchOn();
}

void ShotRouter::routeShot(const ShotRecord& shot) {
    if (outlets_.openConnect == nullptr || !outlets_.openConnect->isUp()) return;
    outlets_.openConnect->sendShot(shot);
    if (outlets_.transmitIndicator != nullptr) outlets_.transmitIndicator->switchOn();
}

}  // namespace taltrix
