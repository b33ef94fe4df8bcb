// Tells the launch monitor which club the simulator has put in the
// player's hands, with the chipping mode for short lob-wedge shots.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "bridge/shot/ports.h"
#include "bridge/shot/simulator_state.h"

namespace taltrix {

inline constexpr std::string_view clubNotRecognized = "Club not recognized";
inline constexpr std::string_view chippingCommand = "CLUBChpLOFT000";
inline constexpr double maxChippingDistance = 1000.0;

// "CLUB" + device club + "LOFT" + three-digit loft, or "Club not recognized"
// for a code the device has no club for.
std::string clubCommandFor(const SimulatorState& state, double chippingDistance);

// The chipping distance a setting text stands for: the value rounded to a
// whole number when it is numeric and below 1000, otherwise 1000.
double chippingDistanceFromSetting(std::string_view setting);

class ClubCommandSender {
public:
    // `writer` is the launch-monitor link (null while there is none);
    // `rawBox` may be null.
    ClubCommandSender(const SimulatorState& state, StatusDisplay& status, CommandWriter* writer = nullptr,
                      RawDataBox* rawBox = nullptr)
        : state_(state), status_(status), writer_(writer), rawBox_(rawBox) {}

    void setWriter(CommandWriter* writer) { writer_ = writer; }
    void setRawDataBox(RawDataBox* rawBox) { rawBox_ = rawBox; }
    void setChippingDistance(double distance) {
        chippingDistance_ = [distance] { return distance; };
    }
    // Where the distance comes from when it can change (the settings).
    void setChippingDistanceSource(std::function<double()> source) { chippingDistance_ = std::move(source); }
    double chippingDistance() const { return chippingDistance_(); }

    // Sends the command for the current club and returns the text to show:
    // "Send: CLUB...", "Error sending: CLUB..." or "Club not recognized".
    // When the link cannot be used at all the error is shown here and the
    // result is empty.
    std::string send();

private:
    const SimulatorState& state_;
    StatusDisplay& status_;
    CommandWriter* writer_;
    RawDataBox* rawBox_;
    std::function<double()> chippingDistance_ = [] { return maxChippingDistance; };
};

}  // namespace taltrix
