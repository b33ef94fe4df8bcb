#include "bridge/shot/shot_router.h"

namespace taltrix {

namespace {

constexpr std::string_view notSentPrefix = "Shot not sent: ";
constexpr std::string_view notConnectedSuffix = " is not connected";

}  // namespace

std::string shotNotSentText(Simulator simulator) {
    return std::string(notSentPrefix) + std::string(simulatorDisplayName(simulator)) + std::string(notConnectedSuffix);
}

void ShotRouter::route(Simulator simulator, std::string_view message) {
    SimulatorOutlet* outlet = simulator == Simulator::TGC ? outlets_.tgc : outlets_.relay;
    if (outlet == nullptr || !outlet->isUp()) {
        if (outlet != nullptr) outlet->notSent(message, ShotOutcome::simulatorNotConnected);
        notConnected(simulator);
        return;
    }
    if (!outlet->isReady()) {
        // TGC drops a shot it is not ready for; the light blinks as it
        // always has for a shot given to a connected TGC.
        outlet->notSent(message, ShotOutcome::simulatorNotReady);
        blinkTransmit();
        return;
    }
    if (simulator != Simulator::TGC && state_.gameName == lobbyGameName) {
        // Nothing goes to the relay while the player waits in the lobby.
        outlet->notSent(message, ShotOutcome::inTheLobby);
        return;
    }
    outlet->send(message);
    blinkTransmit();
}

void ShotRouter::routeShot(const ShotRecord& shot, const PreciseShot& precise) {
    ShotOutlet* outlet = outlets_.openConnect;
    if (outlet == nullptr || !outlet->isUp()) {
        if (outlet != nullptr) outlet->notSent(shot, ShotOutcome::simulatorNotConnected);
        notConnected(Simulator::OpenConnect);
        return;
    }
    outlet->sendShot(shot, precise);
    blinkTransmit();
}

void ShotRouter::blinkTransmit() {
    if (outlets_.transmitIndicator != nullptr) outlets_.transmitIndicator->switchOn();
}

void ShotRouter::notConnected(Simulator simulator) {
    if (outlets_.status != nullptr) outlets_.status->showStatus(shotNotSentText(simulator));
}

}  // namespace taltrix
