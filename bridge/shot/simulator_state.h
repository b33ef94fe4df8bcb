// What the simulator last told the bridge: club, lie, distance, game and the
// connection and quit flags. Only the simulator-message interpreter and the
// receivers write it.
#pragma once

#include <cstdint>
#include <string>

namespace taltrix {

struct SimulatorState {
    std::string currentClub;   // two-letter code, e.g. "DR", "I7", "LW"
    std::string surface;       // lie text, e.g. "Fairway", "Green"
    double distanceYards = 0;  // to the flag
    double distanceMetres = 0;
    std::string gameName;  // "Lobby" while the relay player is in the lobby
    std::string playerName;
    std::string tourName;
    bool rightHanded = false;
    std::string sdkStatus;  // status of the last TGC message, cleared on every message
    std::string gameStatus;
    std::int16_t infoStatus = 0;
    bool tgcConnected = false;   // TGC said it is ready for shots
    bool quitRequested = false;  // the relay asked the bridge to quit
};

}  // namespace taltrix
