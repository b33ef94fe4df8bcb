// Who hears of every shot the framer cut out, whatever became of it: the
// shot history keeps them. The observer is told after the link's send has
// returned, so that whatever it does costs the shot nothing on its way.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "bridge/shot/shot_converter.h"
#include "bridge/shot/shot_record.h"

namespace taltrix {

// What became of a shot. A shot that was not sent is never sent later: it
// would reach the simulator out of turn, as a shot played twice.
enum class ShotOutcome {
    sent,                   // handed to the link, which put it on the wire
    simulatorNotConnected,  // the simulator's link was down
    simulatorNotReady,      // connected, but the simulator had not said it takes shots
    inTheLobby,             // the relay player waits in the game's lobby
    sendFailed,             // the link was up and the write failed
};

// The outcome as the history and its CSV write it: "sent", "simulator not
// connected", "simulator not ready", "in the lobby", "send failed".
std::string_view shotOutcomeText(ShotOutcome outcome);
// The outcome a text names, or nothing for any other text.
std::optional<ShotOutcome> shotOutcomeFromText(std::string_view text);

struct RoutedShot {
    const ShotRecord& shot;
    Simulator simulator;
    std::string_view clubInPlay;  // the club the simulator last reported
    // As handed to the link, or as it would have been; empty when the link
    // builds it and never got the shot (Open Connect).
    std::string_view message;
    // Whether the link put the message on the wire; nothing when it cannot tell.
    std::optional<bool> delivered;
    // From the arrival of the device's last byte of the shot to the write
    // (or to the moment the shot was let go).
    std::chrono::nanoseconds sinceLastByte;
    ShotOutcome outcome = ShotOutcome::sent;
    // The number the message carried, for a simulator that numbers shots.
    std::optional<std::int32_t> shotNumber;
};

class ShotObserver {
public:
    virtual ~ShotObserver() = default;
    virtual void shotRouted(const RoutedShot& routed) = 0;
};

}  // namespace taltrix
