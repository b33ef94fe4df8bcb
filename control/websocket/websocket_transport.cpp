// WebSocketLayer over the socket engine: what arrives (the upgrade response,
// then frames), what the socket's readiness and its end mean for the
// connection, and the writers that put frames on the wire.
#include <algorithm>

#include "control/com/engine_events.h"
#include "control/engine/engine_errors.h"
#include "control/transport/socket_errors.h"
#include "control/websocket/frame_writer.h"
#include "control/websocket/random_source.h"
#include "control/websocket/websocket_layer.h"

namespace morvane {
namespace {

constexpr std::string_view disconnectedText = "Websocket disconnected.";

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

int WebSocketLayer::onDataReceived(std::span<const std::uint8_t> data, bool) {
    std::string_view bytes = asText(data);
    if (action_ == Action::Get && !response_.complete() && !response_.failed()) {
        const std::size_t used = response_.feed(bytes);
        bytes.remove_prefix(used);
        // What follows the response belongs to the WebSocket layer; it waits
        // until the upgrade has been checked.
        receiveBuffer_.append(bytes);
        return 0;
    }
    if (state_ != State::Open && state_ != State::Closing) return 0;
    receiveBuffer_.append(bytes);
    parseFrames();
    return 0;
}

void WebSocketLayer::parseFrames() {
    while (parsedOffset_ < receiveBuffer_.size() && acceptData() && socketOpen()) {
        const auto* start = reinterpret_cast<const std::uint8_t*>(receiveBuffer_.data()) + parsedOffset_;
        const auto step = frames_.feed({start, receiveBuffer_.size() - parsedOffset_});
        parsedOffset_ += step.consumed;
        if (!step.event) {
            if (step.consumed == 0) break;
            continue;
        }
        const websocket::FrameEvent& event = *step.event;
        switch (event.kind) {
            case websocket::FrameEventKind::kData:
                if (event.payload.empty() && !event.complete) break;
                if (events_) events_->dataIn(static_cast<std::int16_t>(event.opcode), event.payload, event.complete);
                if (singlePacketMode_) {
                    dataInEom_ = event.complete;
                    keptPayload_.assign(asText(event.payload));
                    setAcceptData(false);
                }
                break;
            case websocket::FrameEventKind::kPing: {
                const std::vector<std::uint8_t> payload(event.payload.begin(), event.payload.end());
                sendControl(websocket::kOpPong, payload);
                break;
            }
            case websocket::FrameEventKind::kClose: {
                const std::vector<std::uint8_t> payload(event.payload.begin(), event.payload.end());
                applyCloseAction(close_.closeReceived(payload));
                break;
            }
            case websocket::FrameEventKind::kMessageTooBig:
                raiseError(websocket::kErrorMessageTooBig, websocket::kMessageTooBigText);
                applyCloseAction(close_.startClose(websocket::kCloseMessageTooBig, websocket::kMessageTooBigText));
                SocketEngine::disconnect(0);
                break;
        }
    }
    // Parsed bytes leave the buffer once per delivery, not once per frame.
    receiveBuffer_.erase(0, std::min(parsedOffset_, receiveBuffer_.size()));
    parsedOffset_ = 0;
}

void WebSocketLayer::raiseCloseEvents(const websocket::CloseRecord& record) {
    if (!events_) return;
    events_->connectionStatus(std::string(disconnectedText), static_cast<std::int16_t>(record.code), record.reason);
    events_->disconnected(static_cast<std::int16_t>(record.code), record.reason);
}

void WebSocketLayer::applyCloseAction(const websocket::CloseAction& action) {
    if (action.sendClose) {
        const auto payload = websocket::buildClosePayload(static_cast<std::uint16_t>(action.send.code),
                                                          action.send.reason);
        sendControl(websocket::kOpClose, payload);
    }
    state_ = static_cast<State>(close_.state());
    if (action.raiseCloseEvents) raiseCloseEvents(action.report);
    if (action.closeSocket) SocketEngine::disconnect(0);
}

void WebSocketLayer::onReadyToSend() {
    if (state_ != State::Open) return;
    flushPendingOutput();
    SocketEngine::onReadyToSend();
}

void WebSocketLayer::onDisconnected(int, const std::string&) {
    const State before = state_;
    applyCloseAction(close_.socketClosed());
    if (before == State::Connecting) state_ = State::Closed;
}

int WebSocketLayer::writeBlocking(std::span<const std::uint8_t> frames) {
    const int code = sendBlocking(frames);
    if (code == 0 || code == errc::interrupted) return code;
    return fail(errc::sendFailed, socketErrorDescription(code == errc::wouldBlock ? 10057 : code));
}

int WebSocketLayer::sendControl(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame;
    websocket::MaskKey key{};
    if (!websocket::systemRandom().fill(key)) return fail(errc::randomUnavailable, "");
    websocket::appendFrame(frame, {.fin = true, .opcode = opcode, .masked = true, .key = key}, payload);
    return writeBlocking(frame);
}

int WebSocketLayer::flushPendingOutput() {
    while (!pendingOutput_.empty()) {
        std::size_t accepted = 0;
        const int code = SocketEngine::send(
            {reinterpret_cast<const std::uint8_t*>(pendingOutput_.data()), pendingOutput_.size()}, &accepted);
        pendingOutput_.erase(0, accepted);
        if (code != 0) return code;
    }
    return 0;
}

}  // namespace morvane
