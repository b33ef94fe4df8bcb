#include "bridge/shot/simulator_receivers.h"

#include <string>

#include "bridge/shot/pair_splitter.h"
#include "bridge/shot/sim_message_interpreter.h"

namespace taltrix {

namespace {

void setAndShow(StatusDisplay& status, std::string_view message) {
    status.setLatestStatus(message);
    status.showStatus(message);
}

void sendClubCommand(ClubCommandSender& clubCommand, StatusDisplay& status) {
    const std::string result = clubCommand.send();
    // An empty result means the failure has been shown already.
    if (!result.empty()) status.showStatus(result);
}

}  // namespace

void TcpReceiver::receive(std::string_view text) {
    for (const std::string& message : splitter_.feed(text)) handleMessage(message);
}

void TcpReceiver::handleMessage(std::string_view message) {
    const bool accepted = SimMessageInterpreter::interpret(PairSplitter::split(message), state_, status_);
    const bool open = socketOpen_ && socketOpen_();
    if (state_.sdkStatus == "150" && open) sendClubCommand(clubCommand_, status_);
    if (state_.sdkStatus == "203" && open) {
        state_.tgcConnected = true;
        setAndShow(status_, tgcConnectedText);
    }
    if ((state_.sdkStatus == "204" || state_.sdkStatus == "205") && open) {
        state_.tgcConnected = false;
        setAndShow(status_, tgcNotConnectedText);
    }
    if (!accepted) {
        setAndShow(status_, tgcInvalidDataText);
    } else {
        status_.setLatestStatus(tgcDataReceivedText);
    }
}

void RelayReceiver::receive(std::string_view message) {
    if (!SimMessageInterpreter::interpret(PairSplitter::split(message), state_, status_)) {
        setAndShow(status_, relayInvalidDataText);
        return;
    }
    std::string shown(relayDataReceivedText);
    shown.append("\r\n").append(message);
    setAndShow(status_, shown);
    sendClubCommand(clubCommand_, status_);
}

}  // namespace taltrix
