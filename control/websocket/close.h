// The close handshake: close-frame payloads, the standard names of close
// codes, and the state machine that decides what is echoed and reported.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/websocket/protocol_violation.h"

namespace morvane::websocket {

// The standard name of a close code, which is also the reason text used when
// none is given; empty for codes without a name.
std::string_view closeCodeName(int code);

struct CloseRecord {
    int code = 1000;
    std::string reason = "Normal Closure";
};

// Status code (2 bytes, big-endian) followed by the reason. A reason that
// would push the frame past the 125 bytes a control frame may carry is cut
// at a character boundary, so that the peer can still answer the close.
std::vector<std::uint8_t> buildClosePayload(std::uint16_t code, std::string_view reason);

// A received close payload: empty means 1000 "Normal Closure"; otherwise the
// code from the first two bytes and the reason from the rest up to the first
// zero byte, an empty reason replaced by the code's name. A lone byte
// carries no code and reads as 1005 "No Status Received".
CloseRecord parseClosePayload(std::span<const std::uint8_t> payload);

// Whether a server may send this close code: the codes RFC 6455 defines
// for a peer to send (1000 to 1003, 1007 to 1011), those registered with
// IANA since (1012 to 1014), and the ranges left to libraries and
// applications (3000 to 4999).
bool isSendableCloseCode(int code);

// The rule a received close payload breaks, if any: a lone byte, a code
// that may not be sent, a reason that is not UTF-8.
std::optional<ProtocolViolation> closePayloadViolation(std::span<const std::uint8_t> payload);

// What Disconnect sends: a negative code (or one that does not fit the two
// bytes of the frame) sends 1000; an empty description sends the code's name.
CloseRecord closeRecordToSend(long long requestedCode, std::string_view requestedReason);

enum class ConnectionState : int { kConnecting = 0, kOpen = 1, kClosing = 2, kClosed = 3 };

// What the layer has to do after a close-related event.
struct CloseAction {
    bool sendClose = false;  // send a close frame with `send`
    CloseRecord send;
    bool raiseCloseEvents = false;  // ConnectionStatus + Disconnected with `report`
    CloseRecord report;
    bool closeSocket = false;
};

class CloseHandshake {
public:
    ConnectionState state() const { return state_; }
    const CloseRecord& ownRecord() const { return own_; }

    // Back to the initial values: closed, record 1000 "Normal Closure".
    void reset();
    void beginConnecting() { state_ = ConnectionState::kConnecting; }
    void opened() { state_ = ConnectionState::kOpen; }
    void closedWithoutUpgrade() { state_ = ConnectionState::kClosed; }

    // Disconnect in the open state: stores the record and asks for its frame.
    // In any other state there is nothing to do (sendClose stays false).
    CloseAction startClose(long long requestedCode, std::string_view requestedReason);

    // A failed upgrade check: close with 1002 "Protocol Error" without touching
    // the record, so the server's reply reports the record as it stood.
    CloseAction failUpgrade();

    // A close frame arrived.
    CloseAction closeReceived(std::span<const std::uint8_t> payload);

    // The transport connection ended.
    CloseAction socketClosed();

    // The caller's own wait for the reply is over.
    void finish() { state_ = ConnectionState::kClosed; }

private:
    ConnectionState state_ = ConnectionState::kClosed;
    CloseRecord own_;
};

}  // namespace morvane::websocket
