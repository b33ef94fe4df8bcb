// The rules of RFC 6455 that StrictProtocol holds a server to, each with the
// close code the RFC names for breaking it and the text the Error event
// carries.
#pragma once

#include <cstdint>
#include <string_view>

namespace morvane::websocket {

inline constexpr int kCloseProtocolError = 1002;
inline constexpr int kCloseInvalidPayload = 1007;

struct ProtocolViolation {
    int closeCode = kCloseProtocolError;
    std::string_view description;
};

namespace violation {

inline constexpr ProtocolViolation reservedBits{kCloseProtocolError,
                                                "Protocol error: reserved bits set, and no extension was negotiated."};
inline constexpr ProtocolViolation reservedOpcode{kCloseProtocolError, "Protocol error: reserved opcode."};
inline constexpr ProtocolViolation maskedFrame{kCloseProtocolError, "Protocol error: the server masked a frame."};
inline constexpr ProtocolViolation longControlFrame{kCloseProtocolError,
                                                    "Protocol error: control frame longer than 125 bytes."};
inline constexpr ProtocolViolation fragmentedControlFrame{kCloseProtocolError,
                                                          "Protocol error: fragmented control frame."};
inline constexpr ProtocolViolation nothingToContinue{kCloseProtocolError,
                                                     "Protocol error: continuation frame with no message to continue."};
inline constexpr ProtocolViolation messageNotContinued{kCloseProtocolError,
                                                       "Protocol error: new data frame inside a fragmented message."};
inline constexpr ProtocolViolation oneByteClose{kCloseProtocolError,
                                                "Protocol error: close frame with a one-byte payload."};
inline constexpr ProtocolViolation forbiddenCloseCode{kCloseProtocolError,
                                                      "Protocol error: close code that may not be sent."};
inline constexpr ProtocolViolation invalidText{kCloseInvalidPayload,
                                               "Invalid frame payload data: text that is not UTF-8."};
inline constexpr ProtocolViolation invalidCloseReason{kCloseInvalidPayload,
                                                      "Invalid frame payload data: close reason that is not UTF-8."};

}  // namespace violation
}  // namespace morvane::websocket
