// WebSocketLayer over the stream below: what arrives (bytes behind the
// upgrade response, then frames), what the stream's readiness and its end
// mean for the connection, and the writers that put frames on the wire.
#include <algorithm>
#include <limits>
#include <utility>

#include "control/engine/engine_errors.h"
#include "control/engine/engine_events.h"
#include "control/engine/socket_errors.h"
#include "control/websocket/frame_writer.h"
#include "control/websocket/random_source.h"
#include "control/websocket/websocket_layer.h"

namespace morvane {
namespace {

constexpr std::string_view disconnectedText = "Websocket disconnected.";
// Payloads from this length on are announced as they arrive; shorter ones
// come in one or two reads, with nothing to gain.
constexpr std::uint64_t announcedFrom = 64 * 1024;

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

void WebSocketLayer::streamConnected(int) {
    // The HTTP layer's transaction waits for the connection; nothing here.
}

int WebSocketLayer::streamReceived(std::span<const std::uint8_t> data, bool) {
    const std::string_view bytes = asText(data);
    if (state_ == State::Connecting) {
        // Frames behind the 101 wait until the upgrade has been checked.
        if (http_.upgraded()) frameBuffer_.append(bytes);
        return 0;
    }
    if (state_ != State::Open && state_ != State::Closing) return 0;
    keptPayload_.clear();
    if (!parsing_ && frameBuffer_.empty()) {
        // Parsed where the bytes lie: only what cannot be parsed yet is kept.
        parseFrames(data);
    } else {
        frameBuffer_.append(bytes);
        parseFrames();
    }
    return 0;
}

bool WebSocketLayer::parsingAsBytesCome() const {
    return (state_ == State::Open || state_ == State::Closing) && !parsing_ && frameBuffer_.empty() &&
           http_.acceptData();
}

// A large payload still coming in is received straight into the reader's
// message buffer, when nothing waits ahead of it and no pass is running.
std::span<std::uint8_t> WebSocketLayer::receiveRoom() {
    return parsingAsBytesCome() ? frames_.payloadRoom() : std::span<std::uint8_t>{};
}

std::size_t WebSocketLayer::bytesAwaited() { return parsingAsBytesCome() ? frames_.payloadAwaited() : 0; }

int WebSocketLayer::receivedInPlace(std::size_t count) {
    if (state_ != State::Open && state_ != State::Closing) return 0;
    keptPayload_.clear();
    parseFrames({}, frames_.payloadWritten(count));
    return 0;
}

void WebSocketLayer::parseFrames(std::span<const std::uint8_t> fresh, std::optional<websocket::FrameEvent> ready) {
    if (parsing_) return;
    // One run of events for the whole pass; it ends last of all, since the
    // control may go with it.
    struct EventRun {
        EngineEvents* events;
        explicit EventRun(EngineEvents* e) : events(e) {
            if (events) events->beginEvents();
        }
        ~EventRun() {
            if (events) events->endEvents();
        }
        EventRun(const EventRun&) = delete;
        EventRun& operator=(const EventRun&) = delete;
    } run(context_.events());
    parsing_ = true;
    if (frames_.idle()) {
        frames_.setBufferMessage(bufferMessage_);
        frames_.setStrict(strictProtocol_);
        frames_.setMaxMessageSize(maxMessageSize_ < 1 ? std::numeric_limits<std::uint64_t>::max()
                                                      : static_cast<std::uint64_t>(maxMessageSize_));
    }
    if (ready) handleFrameEvent(*ready);
    std::size_t used = 0;
    while (used < fresh.size() && http_.acceptData() && http_.isOpen()) {
        const auto step = frames_.feed(fresh.subspan(used));
        used += step.consumed;
        if (step.event)
            handleFrameEvent(*step.event);
        else if (step.consumed == 0)
            break;
    }
    // What is left goes ahead of anything a handler let in meanwhile.
    if (used < fresh.size()) frameBuffer_.insert(0, asText(fresh.subspan(used)));

    while (parsedOffset_ < frameBuffer_.size() && http_.acceptData() && http_.isOpen()) {
        const auto* start = reinterpret_cast<const std::uint8_t*>(frameBuffer_.data()) + parsedOffset_;
        const auto step = frames_.feed({start, frameBuffer_.size() - parsedOffset_});
        parsedOffset_ += step.consumed;
        if (step.event)
            handleFrameEvent(*step.event);
        else if (step.consumed == 0)
            break;
    }
    // Parsed bytes leave the buffer once per pass, not once per frame.
    frameBuffer_.erase(0, std::min(parsedOffset_, frameBuffer_.size()));
    parsedOffset_ = 0;
    if (http_.isOpen()) announceArrival();
    parsing_ = false;
}

void WebSocketLayer::announceArrival() {
    const auto arriving = frames_.payloadArriving();
    if (!arriving || arriving->total < announcedFrom || arriving->soFar.empty()) return;
    EngineEvents* events = context_.events();
    if (!events) return;
    const bool first = announcedFrame_ != arriving->serial;
    announcedFrame_ = arriving->serial;
    events->dataArriving(arriving->soFar, arriving->total, first);
}

void WebSocketLayer::handleFrameEvent(const websocket::FrameEvent& event) {
    switch (event.kind) {
        case websocket::FrameEventKind::kData:
            if (event.payload.empty() && !event.complete) break;
            if (EngineEvents* events = context_.events()) {
                // A payload announced on its way is told once more, whole.
                if (announcedFrame_ && std::exchange(announcedFrame_, std::nullopt) == frames_.frameSerial()) {
                    events->dataArriving(event.payload, event.payload.size(), false);
                }
                events->dataIn(static_cast<std::int16_t>(event.opcode), event.payload, event.complete);
            }
            if (singlePacketMode_) {
                dataInEom_ = event.complete;
                keptPayload_.assign(asText(event.payload));
                http_.setAcceptData(false);
            }
            break;
        case websocket::FrameEventKind::kPing: {
            const std::vector<std::uint8_t> payload(event.payload.begin(), event.payload.end());
            sendControl(websocket::kOpPong, payload);
            break;
        }
        case websocket::FrameEventKind::kClose: {
            const std::vector<std::uint8_t> payload(event.payload.begin(), event.payload.end());
            const websocket::CloseAction action = close_.closeReceived(payload);
            closedCleanly_ = action.raiseCloseEvents;
            applyCloseAction(action);
            break;
        }
        case websocket::FrameEventKind::kMessageTooBig:
            // Nothing of it has been stored, and nothing behind it can be
            // read, so the connection ends here.
            failConnection(errc::messageTooBig, websocket::kMessageTooBigText, websocket::kCloseMessageTooBig);
            break;
        case websocket::FrameEventKind::kViolation: {
            const auto& broken = event.violation;
            failConnection(
                broken.closeCode == websocket::kCloseInvalidPayload ? errc::invalidPayload : errc::protocolViolation,
                broken.description, broken.closeCode);
            break;
        }
    }
}

void WebSocketLayer::failConnection(int error, std::string_view description, int closeCode) {
    // Nothing behind the frame can be read, so the connection ends here:
    // the close frame says why, and the socket does not wait for a reply.
    context_.raiseError(error, description);
    applyCloseAction(close_.startClose(closeCode, websocket::closeCodeName(closeCode)));
    http_.close(0);
}

void WebSocketLayer::raiseCloseEvents(const websocket::CloseRecord& record) {
    EngineEvents* events = context_.events();
    if (!events) return;
    events->connectionStatus(std::string(disconnectedText), static_cast<std::int16_t>(record.code), record.reason);
    events->disconnected(static_cast<std::int16_t>(record.code), record.reason);
}

void WebSocketLayer::raiseReadyToSend() {
    if (EngineEvents* events = context_.events()) events->readyToSend();
}

void WebSocketLayer::applyCloseAction(const websocket::CloseAction& action) {
    if (action.sendClose) {
        const auto payload =
            websocket::buildClosePayload(static_cast<std::uint16_t>(action.send.code), action.send.reason);
        sendControl(websocket::kOpClose, payload);
    }
    state_ = static_cast<State>(close_.state());
    if (action.raiseCloseEvents) raiseCloseEvents(action.report);
    if (action.closeSocket) http_.close(0);
}

void WebSocketLayer::streamReadyToSend() {
    if (state_ != State::Open) return;
    sendThroughPendingOutput({});
    raiseReadyToSend();
}

void WebSocketLayer::streamClosed(int code, const std::string&) {
    const State before = state_;
    if (before == State::Closed) return;
    // The reason the connection ended, for the caller who asks: unless
    // something more telling was already said, or the code is the firewall
    // passage's own, which reported itself.
    if (code != 0 && code != errc::firewallFailure && context_.lastErrorText().empty()) context_.failSocket(code);
    applyCloseAction(close_.socketClosed());
    if (before != State::Connecting) return;
    if (http_.action() == HttpLayer::Action::None) {
        state_ = State::Closed;
    } else {
        // The connection a redirect came on has ended; the handshake goes
        // on over a new one.
        state_ = State::Connecting;
        close_.beginConnecting();
    }
}

int WebSocketLayer::writeMessage(std::span<const std::uint8_t> frames) {
    // A writer that starts while another is on its way runs inside one of
    // that writer's wait steps, so it could never see it finish: its frames
    // go out right behind the message instead, never into it.
    if (sending_) {
        deferredOutput_.append(asText(frames));
        return 0;
    }
    const Waiter::BlockingOperation operation(context_.waiter());
    sending_ = true;
    int code = sendThroughPendingOutput({});
    if (code == 0) code = sendBlocking(http_, context_, frames);
    return finishWriting(code);
}

int WebSocketLayer::finishWriting(int code) {
    while (code == 0 && !deferredOutput_.empty()) {
        const std::string deferred = std::move(deferredOutput_);
        deferredOutput_.clear();
        code = sendBlocking(http_, context_, asBytes(deferred));
    }
    deferredOutput_.clear();
    sending_ = false;
    if (code == 0 || code == errc::interrupted) return code;
    return context_.fail(errc::sendFailed,
                         socketErrorDescription(code == errc::wouldBlock ? errc::socketNotConnected : code));
}

int WebSocketLayer::sendControl(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
    websocket::FrameBuffer frame;
    websocket::MaskKey key{};
    if (!websocket::systemRandom().fill(key)) return context_.fail(errc::randomUnavailable, "");
    websocket::appendFrame(frame, {.fin = true, .opcode = opcode, .masked = true, .key = key}, payload);
    if (!sending_ && !pendingOutput_.empty() && context_.waiter().timeout() == 0) {
        const int code = sendThroughPendingOutput(frame);
        return code == errc::wouldBlock ? 0 : code;
    }
    return writeMessage(frame);
}

int WebSocketLayer::sendThroughPendingOutput(std::span<const std::uint8_t> data) {
    // Inside a writer's wait step: behind its message, not into it.
    if (sending_ && !data.empty()) {
        deferredOutput_.append(asText(data));
        return 0;
    }
    const bool nonBlocking = context_.waiter().timeout() == 0;
    bool wentOut = false;
    if (!pendingOutput_.empty()) {
        if (flushing_) {
            pendingOutput_.append(asText(data));
            return context_.failSocket(errc::wouldBlock);
        }
        flushing_ = true;
        int code = 0;
        if (nonBlocking) {
            std::size_t accepted = 0;
            code = http_.send(asBytes(pendingOutput_), &accepted);
            pendingOutput_.erase(0, accepted);
            if (code == errc::wouldBlock && pendingOutput_.empty()) code = 0;
        } else {
            code = sendBlocking(http_, context_, asBytes(pendingOutput_));
            if (code == 0) pendingOutput_.clear();
        }
        flushing_ = false;
        if (code != 0) {
            if (nonBlocking) pendingOutput_.append(asText(data));
            return code;
        }
        wentOut = true;
    }
    if (!data.empty()) {
        if (nonBlocking) {
            std::size_t accepted = 0;
            const int code = http_.send(data, &accepted);
            if (code == errc::wouldBlock) pendingOutput_.assign(asText(data.subspan(accepted)));
            if (code != 0) return code;
        } else if (const int code = sendBlocking(http_, context_, data)) {
            return code;
        }
        wentOut = true;
    }
    if (nonBlocking && wentOut && connected()) raiseReadyToSend();
    return 0;
}

}  // namespace morvane
