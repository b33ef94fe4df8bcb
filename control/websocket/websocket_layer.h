// The WebSocket layer, top of the engine: message settings, the connection
// state that the close handshake moves, the close record of a close this side
// starts, and the send and receive bookkeeping (queued output, bytes sent, the
// payload kept for DataInText).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/websocket/http_layer.h"

namespace morvane {

class WebSocketLayer : public HttpLayer {
public:
    enum class State : int { Connecting = 0, Open = 1, Closing = 2, Closed = 3 };

    explicit WebSocketLayer(const EngineEnvironment& environment = {});

    static std::span<const Setting<WebSocketLayer>> settings();

    State state() const { return state_; }
    // Connected as the control reports it: the socket is connected and the
    // WebSocket is opening or open.
    bool connected() const;

    int dataFormat() const { return dataFormat_; }
    void setDataFormat(int format) { dataFormat_ = format; }
    std::int32_t bytesSent() const { return bytesSent_; }
    std::int32_t maxFrameSize() const { return maxFrameSize_; }
    bool bufferMessage() const { return bufferMessage_; }
    bool singlePacketMode() const { return singlePacketMode_; }
    std::size_t pendingOutputSize() const { return pendingOutput_.size(); }

    // Takes the payload kept by SinglePacketMode and lets reception go on.
    std::string takeDataInText();

protected:
    std::optional<int> configure(const ConfigText& request, std::string& result) override;

    State state_ = State::Closed;

    // The close this side started: what it sent, and what it reports when the
    // peer's reply or the end of the connection completes it.
    std::int32_t closeCode_;
    std::string closeReason_;

    std::int32_t maxFrameSize_ = 131072;
    std::int32_t disconnectStatusCode_ = -1;
    std::string disconnectStatusDescription_;
    bool bufferMessage_ = false;
    bool singlePacketMode_ = false;
    std::int32_t dataFormat_ = 0;
    std::int32_t bytesSent_ = 0;

    // Received and not yet parsed; the payload kept for DataInText.
    std::string receiveBuffer_;
    std::string keptPayload_;
    bool dataInEom_ = false;

    // Serialised frames the socket did not take yet in non-blocking mode.
    std::string pendingOutput_;
    bool sending_ = false;
    bool flushing_ = false;

    // The Sec-WebSocket-Key sent, kept until the response is checked.
    std::string handshakeKey_;
};

}  // namespace morvane
