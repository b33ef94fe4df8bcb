#include "bridge/shot/club_command.h"

#include <algorithm>
#include <array>

#include "bridge/shot/number_text.h"
#include "bridge/shot/rounding.h"

namespace taltrix {

namespace {

struct ClubEntry {
    std::string_view simulatorCode;
    std::string_view deviceClub;
};

// The device has fewer clubs than the simulators; several codes share one.
constexpr std::array<ClubEntry, 25> clubTable = {{
    {"DR", "Drv"}, {"W1", "3Wd"}, {"W2", "3Wd"}, {"W3", "3Wd"}, {"W5", "5Wd"}, {"H1", "2Hy"}, {"H2", "2Hy"},
    {"H3", "3Hy"}, {"H4", "4Hy"}, {"H5", "5Hy"}, {"H6", "5Hy"}, {"I1", "2Ir"}, {"I2", "2Ir"}, {"I3", "3Ir"},
    {"I4", "4Ir"}, {"I5", "5Ir"}, {"I6", "6Ir"}, {"I7", "7Ir"}, {"I8", "8Ir"}, {"I9", "9Ir"}, {"PT", "Ptt"},
    {"PW", "Ptw"}, {"SW", "Sdw"}, {"LW", "Lbw"}, {"GW", "Gpw"},
}};

// The bridge holds a loft of 0 for every club.
constexpr int clubLoft = 0;

std::string loftDigits(int loft) {
    const std::string padded = "000" + formatInteger(loft);
    return padded.substr(padded.size() - 3);
}

constexpr std::string_view objectNotSet = "Object variable or With block variable not set";

}  // namespace

std::string clubCommandFor(const SimulatorState& state, double chippingDistance) {
    const auto entry = std::find_if(clubTable.begin(), clubTable.end(),
                                    [&](const ClubEntry& e) { return e.simulatorCode == state.currentClub; });
    if (entry == clubTable.end()) return std::string(clubNotRecognized);
    if (entry->simulatorCode == "LW" && state.surface != "Green" && state.distanceYards <= chippingDistance) {
        return std::string(chippingCommand);
    }
    return "CLUB" + std::string(entry->deviceClub) + "LOFT" + loftDigits(clubLoft);
}

double chippingDistanceFromSetting(std::string_view setting) {
    if (!isNumeric(setting)) return maxChippingDistance;
    const double whole = roundHalfEven(readNumber(setting), 0);
    return whole < maxChippingDistance ? whole : maxChippingDistance;
}

std::string ClubCommandSender::send() {
    const std::string command = clubCommandFor(state_, chippingDistance());
    if (rawBox_ != nullptr && rawBox_->isVisible()) rawBox_->prepend(command + "\r\n\r\n");
    if (command == clubNotRecognized) return command;

    const CommandWriteResult result =
        writer_ != nullptr ? writer_->writeCommand(command) : CommandWriteResult{0, std::string(objectNotSet)};
    if (!result.runtimeError.empty()) {
        const std::string message = "Error sending club info: " + result.runtimeError;
        status_.setLatestStatus(message);
        status_.showStatus(message);
        return {};
    }
    return (result.code == 0 ? "Send: " : "Error sending: ") + command;
}

}  // namespace taltrix
