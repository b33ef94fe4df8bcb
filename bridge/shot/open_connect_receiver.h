// What the bridge does with the replies of an Open Connect simulator: cut
// them out of the TCP stream (they come glued together or split across
// reads), read each one, keep the user informed and, for the player
// information, tell the launch monitor the club.
#pragma once

#include <string_view>

#include "bridge/shot/club_command.h"
#include "bridge/shot/ports.h"
#include "bridge/shot/simulator_state.h"
#include "bridge/shot/tgc_message_splitter.h"

namespace taltrix {

inline constexpr std::string_view openConnectAcceptedText = "Open Connect shot accepted. ";
inline constexpr std::string_view openConnectPlayerText = "Open Connect player information received. ";
inline constexpr std::string_view openConnectDataText = "Open Connect data received. ";
inline constexpr std::string_view openConnectReadyText = "Open Connect simulator ready. ";
inline constexpr std::string_view openConnectRoundEndedText = "Open Connect round ended. ";
inline constexpr std::string_view openConnectInvalidText = "Non valid Open Connect data received from simulator. ";
inline constexpr std::string_view openConnectErrorPrefix = "Open Connect error ";

// The code the ES16 club table knows for one of the protocol's club codes
// (DR, W2-W7, I1-I9, H2-H7, PW, GW, SW, LW, PT), or "" for any other text.
// The device has no 4, 6 or 7 wood and no 7 hybrid: W4 plays as the 3 wood,
// as W1 to W3 already do; W6 and W7 as the 5 wood, the most lofted wood it
// has; H7 as the 5 hybrid, as H6 already does.
std::string_view clubTableCode(std::string_view openConnectClub);

class OpenConnectReceiver {
public:
    OpenConnectReceiver(SimulatorState& state, StatusDisplay& status, ClubCommandSender& clubCommand)
        : state_(state), status_(status), clubCommand_(clubCommand) {}

    // Each piece of the stream, as it arrived.
    void receive(std::string_view received);

    // The connection closed: a half reply is never completed by the next one.
    void reset() { splitter_.reset(); }

private:
    void handleReply(std::string_view text);

    SimulatorState& state_;
    StatusDisplay& status_;
    ClubCommandSender& clubCommand_;
    TgcMessageSplitter splitter_;
};

}  // namespace taltrix
