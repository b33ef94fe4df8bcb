#include "bridge/shot/open_connect_receiver.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "bridge/shot/number_text.h"
#include "bridge/shot/open_connect_reply.h"
#include "bridge/shot/rounding.h"
#include "bridge/shot/sim_message_interpreter.h"

namespace taltrix {

namespace {

struct ClubCode {
    std::string_view openConnect;
    std::string_view table;
};

constexpr ClubCode clubCodes[] = {
    {"DR", "DR"}, {"W2", "W2"}, {"W3", "W3"}, {"W4", "W3"}, {"W5", "W5"}, {"W6", "W5"}, {"W7", "W5"},
    {"I1", "I1"}, {"I2", "I2"}, {"I3", "I3"}, {"I4", "I4"}, {"I5", "I5"}, {"I6", "I6"}, {"I7", "I7"},
    {"I8", "I8"}, {"I9", "I9"}, {"H2", "H2"}, {"H3", "H3"}, {"H4", "H4"}, {"H5", "H5"}, {"H6", "H6"},
    {"H7", "H6"}, {"PW", "PW"}, {"GW", "GW"}, {"SW", "SW"}, {"LW", "LW"}, {"PT", "PT"},
};

constexpr double metresPerYard = 0.9144;

void setAndShow(StatusDisplay& status, std::string_view message) {
    status.setLatestStatus(message);
    status.showStatus(message);
}

void applyPlayer(const OpenConnectReply& reply, SimulatorState& state) {
    // A lie is read as TGC's is, so that a green never chips. Without one,
    // a lie left over from another simulator or an earlier hole must not
    // decide the chipping mode: the rule goes by distance alone.
    state.surface = reply.surface ? surfaceFromLetter(*reply.surface) : std::string();
    if (reply.club) state.currentClub = std::string(clubTableCode(*reply.club));
    if (reply.handed) state.rightHanded = *reply.handed != "LH";
    if (reply.distanceToTarget) {
        state.distanceYards = roundHalfEven(*reply.distanceToTarget, 2);
        state.distanceMetres = roundHalfEven(state.distanceYards * metresPerYard, 2);
    }
}

}  // namespace

std::string_view clubTableCode(std::string_view openConnectClub) {
    const auto entry = std::find_if(std::begin(clubCodes), std::end(clubCodes),
                                    [&](const ClubCode& c) { return c.openConnect == openConnectClub; });
    return entry == std::end(clubCodes) ? std::string_view() : entry->table;
}

void OpenConnectReceiver::receive(std::string_view received) {
    for (const std::string& text : splitter_.feed(received)) handleReply(text);
}

void OpenConnectReceiver::handleReply(std::string_view text) {
    const std::optional<OpenConnectReply> reply = readOpenConnectReply(text);
    if (!reply) {
        setAndShow(status_, openConnectInvalidText);
        return;
    }
    if (reply->code == openConnectPlayerInformation) {
        applyPlayer(*reply, state_);
        status_.setLatestStatus(openConnectPlayerText);
        // Every player message sends the club again: the distance alone may
        // have moved the lob wedge in or out of chipping mode.
        const std::string result = clubCommand_.send();
        if (!result.empty()) status_.showStatus(result);
        return;
    }
    if (reply->isError()) {
        setAndShow(status_, std::string(openConnectErrorPrefix) + formatInteger(reply->code) + ": " + reply->message);
        return;
    }
    // Readiness and the end of a round change what the player sees; a shot
    // accepted or anything else only sets the line the label picks up.
    switch (reply->code) {
        case openConnectReady: setAndShow(status_, openConnectReadyText); break;
        case openConnectRoundEnded: setAndShow(status_, openConnectRoundEndedText); break;
        case openConnectShotAccepted: status_.setLatestStatus(openConnectAcceptedText); break;
        default: status_.setLatestStatus(openConnectDataText); break;
    }
}

}  // namespace taltrix
