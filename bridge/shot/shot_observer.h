// Who hears of every shot that reached a simulator's link: the shot history
// keeps them. The observer is told after the link's send has returned, so
// that whatever it does costs the shot nothing on its way.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "bridge/shot/shot_converter.h"
#include "bridge/shot/shot_record.h"

namespace taltrix {

struct RoutedShot {
    const ShotRecord& shot;
    Simulator simulator;
    std::string_view clubInPlay;  // the club the simulator last reported
    std::string_view message;     // as handed to the link
    // Whether the link put the message on the wire; nothing when it cannot tell.
    std::optional<bool> delivered;
    // From the arrival of the device's last byte of the shot to the write.
    std::chrono::nanoseconds sinceLastByte;
};

class ShotObserver {
public:
    virtual ~ShotObserver() = default;
    virtual void shotRouted(const RoutedShot& routed) = 0;
};

}  // namespace taltrix
