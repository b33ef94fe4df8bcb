// What the bridge does with each message a simulator sends: interpret it,
// keep the user informed and, where the message calls for it, send the club
// command to the launch monitor.
#pragma once

#include <functional>
#include <string_view>

#include "bridge/shot/club_command.h"
#include "bridge/shot/ports.h"
#include "bridge/shot/simulator_state.h"
#include "bridge/shot/tgc_message_splitter.h"

namespace taltrix {

inline constexpr std::string_view tgcConnectedText = "TGC connected";
inline constexpr std::string_view tgcNotConnectedText = "TGC not connected";
inline constexpr std::string_view tgcInvalidDataText = "Non valid TGC data received for remote device. ";
inline constexpr std::string_view tgcDataReceivedText = "TGC data received. ";
inline constexpr std::string_view relayInvalidDataText = "Non valid HalvexPlay data received from remote device.";
inline constexpr std::string_view relayDataReceivedText = "HalvexPlay data reveived.";

// TGC over TCP.
class TcpReceiver {
public:
    // `socketOpen` tells whether the TCP link's socket is open.
    TcpReceiver(SimulatorState& state, StatusDisplay& status, ClubCommandSender& clubCommand,
                std::function<bool()> socketOpen)
        : state_(state), status_(status), clubCommand_(clubCommand), socketOpen_(std::move(socketOpen)) {}

    // Each text the TCP link receives, as it arrived.
    void receive(std::string_view text);

    // The connection closed: a half message is never completed by the next one.
    void reset() { splitter_.reset(); }

private:
    void handleMessage(std::string_view message);

    SimulatorState& state_;
    StatusDisplay& status_;
    ClubCommandSender& clubCommand_;
    std::function<bool()> socketOpen_;
    TgcMessageSplitter splitter_;
};

// Halvex Play through the relay: every text given here is one whole message.
class RelayReceiver {
public:
    RelayReceiver(SimulatorState& state, StatusDisplay& status, ClubCommandSender& clubCommand)
        : state_(state), status_(status), clubCommand_(clubCommand) {}

    void receive(std::string_view message);

private:
    SimulatorState& state_;
    StatusDisplay& status_;
    ClubCommandSender& clubCommand_;
};

}  // namespace taltrix
