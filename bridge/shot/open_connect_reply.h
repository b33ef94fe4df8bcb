// What an Open Connect simulator sends back on its TCP link, one JSON object
// at a time: {"Code":..., "Message":..., "Player":{...}}.
//
// 200 accepts a shot; 201 carries the player: Handed ("RH" or "LH"), Club
// (the protocol's club code), DistanceToTarget (yards, the unit our shots
// announce) and, from some simulators, Surface (the lie: "Fairway", "Rough",
// "Green"...); 202 says the simulator is ready for shots and 203 that the
// round has ended; 5xx is an error with its text in Message.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace taltrix {

inline constexpr int openConnectShotAccepted = 200;
inline constexpr int openConnectPlayerInformation = 201;
inline constexpr int openConnectReady = 202;
inline constexpr int openConnectRoundEnded = 203;

struct OpenConnectReply {
    int code = 0;
    std::string message;
    std::optional<std::string> handed;
    std::optional<std::string> club;
    std::optional<std::string> surface;
    std::optional<double> distanceToTarget;

    bool isError() const { return code >= 500 && code <= 599; }
};

// One reply, as the brace-balance splitter cut it out of the stream. Nothing
// when the text is not a JSON object, has no whole-number Code from 0 to 999
// (a number, or digits in a string), or holds one of the fields above with a
// value of the wrong kind: such a reply is not acted on by halves.
std::optional<OpenConnectReply> readOpenConnectReply(std::string_view text);

}  // namespace taltrix
