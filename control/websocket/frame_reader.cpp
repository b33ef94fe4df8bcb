#include "control/websocket/frame_reader.h"

#include <algorithm>

#include "control/websocket/close.h"

namespace morvane::websocket {

void FrameReader::reset() {
    ++serial_;
    roomLent_ = false;
    stage_ = Stage::kFirstByte;
    inMessage_ = false;
    messageSize_ = 0;
    deliveredPart_ = false;
    message_.clear();
    control_.clear();
    clearMessage_ = clearControl_ = false;
}

FrameEvent FrameReader::eventFor(std::uint8_t opcode, bool complete, std::span<const std::uint8_t> payload) const {
    FrameEvent event;
    event.opcode = opcode;
    event.complete = complete;
    event.payload = payload;
    if (opcode == kOpClose) {
        event.kind = FrameEventKind::kClose;
    } else if (opcode == kOpPing) {
        event.kind = FrameEventKind::kPing;
    }
    return event;
}

std::optional<ProtocolViolation> FrameReader::firstByteViolation(std::uint8_t first) const {
    const std::uint8_t opcode = first & 0x0F;
    if ((first & 0x70) != 0) return violation::reservedBits;
    switch (opcode) {
        case kOpContinuation:
            if (!inMessage_) return violation::nothingToContinue;
            return std::nullopt;
        case kOpText:
        case kOpBinary:
            if (inMessage_) return violation::messageNotContinued;
            return std::nullopt;
        case kOpClose:
        case kOpPing:
        case kOpPong:
            if ((first & 0x80) == 0) return violation::fragmentedControlFrame;
            return std::nullopt;
        default: return violation::reservedOpcode;
    }
}

std::optional<ProtocolViolation> FrameReader::secondByteViolation(std::uint8_t second) const {
    if ((second & 0x80) != 0) return violation::maskedFrame;
    if (isControlOpcode(opcode_) && (second & 0x7F) > 125) return violation::longControlFrame;
    return std::nullopt;
}

std::optional<ProtocolViolation> FrameReader::frameEndViolation(std::span<const std::uint8_t> payload) const {
    if (opcode_ == kOpClose) return closePayloadViolation(payload);
    if (checkingText_ && fin_ && !text_.complete()) return violation::invalidText;
    return std::nullopt;
}

FrameEvent FrameReader::fail(const ProtocolViolation& violation) {
    stage_ = Stage::kFailed;
    FrameEvent event;
    event.kind = FrameEventKind::kViolation;
    event.opcode = opcode_;
    event.violation = violation;
    return event;
}

void FrameReader::withdrawRoom() {
    message_.resize(roomStart_);
    roomLent_ = false;
}

std::optional<FrameReader::ArrivingPayload> FrameReader::payloadArriving() const {
    if (stage_ != Stage::kPayload || roomLent_ || target_ == Target::kInterleaved) return std::nullopt;
    const std::uint8_t opcode = target_ == Target::kMessage ? messageOpcode_ : opcode_;
    if (opcode != kOpText && opcode != kOpBinary) return std::nullopt;
    // A message collected whole is one payload only from its last frame on;
    // before that its length is not known.
    const bool collected = target_ == Target::kMessage && options_.bufferMessage;
    if (collected && !fin_) return std::nullopt;
    const std::uint64_t total = collected ? messageSize_ : length_;
    return ArrivingPayload{serial_, message_, total};
}

std::span<std::uint8_t> FrameReader::payloadRoom() {
    releaseDelivered();
    if (stage_ != Stage::kPayload || masked_ || target_ == Target::kInterleaved) return {};
    const std::uint64_t way = length_ - received_;
    if (way < kRoomThreshold) return {};
    // What is lent is bounded by kLargestRoom, not by the length the frame
    // claims: the buffer grows only as bytes really arrive.
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(way, kLargestRoom));
    roomStart_ = message_.size();
    message_.resize(roomStart_ + room);
    roomLent_ = true;
    return {message_.data() + roomStart_, room};
}

std::optional<FrameEvent> FrameReader::payloadWritten(std::size_t count) {
    if (!roomLent_) return std::nullopt;
    count = std::min(count, message_.size() - roomStart_);
    message_.resize(roomStart_ + count);
    roomLent_ = false;
    if (!textFits({message_.data() + roomStart_, count})) return fail(violation::invalidText);
    received_ += count;
    if (received_ == length_) return finishFrame({});
    return std::nullopt;
}

FrameReader::Step FrameReader::feed(std::span<const std::uint8_t> bytes) {
    releaseDelivered();

    Step step;
    if (takeWholeDataFrame(bytes, step)) return step;

    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::optional<FrameEvent> event;
        switch (stage_) {
            case Stage::kFailed: return {pos, std::nullopt};
            case Stage::kFirstByte: {
                const std::uint8_t b = bytes[pos++];
                fin_ = (b & 0x80) != 0;
                opcode_ = b & 0x0F;
                stage_ = Stage::kSecondByte;
                if (options_.strict) {
                    if (const auto broken = firstByteViolation(b)) return {pos, fail(*broken)};
                }
                break;
            }
            case Stage::kSecondByte: {
                const std::uint8_t b = bytes[pos++];
                if (options_.strict) {
                    if (const auto broken = secondByteViolation(b)) return {pos, fail(*broken)};
                }
                masked_ = (b & 0x80) != 0;
                const std::uint8_t length = b & 0x7F;
                if (length < 126) {
                    length_ = length;
                    event = lengthKnown();
                } else {
                    length_ = 0;
                    lengthBytesLeft_ = length == 126 ? 2 : 8;
                    stage_ = Stage::kExtendedLength;
                }
                break;
            }
            case Stage::kExtendedLength:
                length_ = (length_ << 8) | bytes[pos++];
                if (--lengthBytesLeft_ == 0) event = lengthKnown();
                break;
            case Stage::kMaskKey:
                key_[static_cast<std::size_t>(keyBytes_++)] = bytes[pos++];
                if (keyBytes_ == 4) event = beginPayload();
                break;
            case Stage::kPayload: {
                const std::size_t available = bytes.size() - pos;
                const std::uint64_t wanted = length_ - received_;
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(available, wanted));
                const std::span<const std::uint8_t> piece = bytes.subspan(pos, take);
                pos += take;
                platform::memory::UninitializedBytes& sink = target_ == Target::kInterleaved ? control_ : message_;
                // A whole unmasked frame that has nothing collected before it is
                // handed out straight from the input: no copy for the common case.
                const bool collecting =
                    target_ == Target::kMessage && (options_.bufferMessage || isControlOpcode(messageOpcode_));
                if (received_ == 0 && take == length_ && !masked_ && sink.empty() && !collecting) {
                    if (!textFits(piece)) return {pos, fail(violation::invalidText)};
                    received_ = length_;
                    event = finishFrame(piece);
                    break;
                }
                const std::size_t start = sink.size();
                sink.append(piece);
                if (masked_) applyMask({sink.data() + start, take}, key_, received_ & 3);
                if (!textFits({sink.data() + start, take})) return {pos, fail(violation::invalidText)};
                received_ += take;
                if (received_ == length_) event = finishFrame({});
                break;
            }
        }
        if (event) return {pos, event};
    }
    return {pos, std::nullopt};
}

bool FrameReader::takeWholeDataFrame(std::span<const std::uint8_t> bytes, Step& step) {
    // The frame a server sends most: a whole text or binary message in one
    // unmasked frame, already all in the input. It is taken in one step, with
    // the same outcome as byte by byte below.
    if (stage_ != Stage::kFirstByte || inMessage_ || bytes.size() < 2) return false;
    const std::uint8_t first = bytes[0];
    const std::uint8_t opcode = first & 0x0F;
    if ((first & 0x80) == 0 || (opcode != kOpText && opcode != kOpBinary) || (bytes[1] & 0x80) != 0) {
        return false;
    }
    std::size_t header = 2;
    std::size_t length = bytes[1] & 0x7F;
    if (length == 126) {
        if (bytes.size() < 4) return false;
        length = std::size_t{bytes[2]} << 8 | bytes[3];
        header = 4;
    } else if (length == 127) {
        return false;
    }
    if (length == 0 || length > options_.maxMessageSize || bytes.size() - header < length) return false;
    // Strict, a frame that breaks a rule is left to the way below, which
    // finds where.
    if (options_.strict &&
        ((first & 0x70) != 0 || (opcode == kOpText && !isValidUtf8(bytes.subspan(header, length))))) {
        return false;
    }
    ++serial_;
    fin_ = true;
    opcode_ = opcode;
    masked_ = false;
    length_ = received_ = length;
    target_ = Target::kSingle;
    clearMessage_ = true;
    step.consumed = header + length;
    step.event.emplace();
    step.event->opcode = opcode;
    step.event->payload = bytes.subspan(header, length);
    return true;
}

std::optional<FrameEvent> FrameReader::lengthKnown() {
    if (masked_) {
        keyBytes_ = 0;
        stage_ = Stage::kMaskKey;
        return std::nullopt;
    }
    return beginPayload();
}

std::optional<FrameEvent> FrameReader::beginPayload() {
    std::uint64_t already = 0;
    if (inMessage_ && isControlOpcode(opcode_)) {
        // A control frame between the fragments of a message stands on its own.
        target_ = Target::kInterleaved;
    } else if (inMessage_) {
        target_ = Target::kMessage;
        already = messageSize_;
    } else if (!fin_ && opcode_ != kOpContinuation) {
        target_ = Target::kMessage;
        inMessage_ = true;
        messageOpcode_ = opcode_;
        messageSize_ = 0;
        deliveredPart_ = false;
        text_.reset();
    } else {
        target_ = Target::kSingle;
        text_.reset();
    }
    checkingText_ = options_.strict && target_ != Target::kInterleaved &&
                    (target_ == Target::kMessage ? messageOpcode_ : opcode_) == kOpText;
    if (length_ > options_.maxMessageSize || already > options_.maxMessageSize - length_) {
        stage_ = Stage::kFailed;
        FrameEvent event;
        event.kind = FrameEventKind::kMessageTooBig;
        event.opcode = target_ == Target::kMessage ? messageOpcode_ : opcode_;
        return event;
    }
    if (target_ == Target::kMessage) messageSize_ += length_;
    ++serial_;
    received_ = 0;
    stage_ = Stage::kPayload;
    if (length_ == 0) return finishFrame({});
    return std::nullopt;
}

std::optional<FrameEvent> FrameReader::finishFrame(std::span<const std::uint8_t> direct) {
    stage_ = Stage::kFirstByte;
    const bool isDirect = direct.data() != nullptr;
    if (options_.strict) {
        const auto& kept = target_ == Target::kInterleaved ? control_ : message_;
        if (const auto broken = frameEndViolation(isDirect ? direct : std::span<const std::uint8_t>(kept))) {
            return fail(*broken);
        }
    }

    if (target_ == Target::kInterleaved) {
        clearControl_ = true;
        return eventFor(opcode_, true, isDirect ? direct : std::span<const std::uint8_t>(control_));
    }
    const std::span<const std::uint8_t> payload = isDirect ? direct : std::span<const std::uint8_t>(message_);

    if (target_ == Target::kSingle) {
        FrameEvent event = eventFor(opcode_, true, payload);
        // An empty data message has nothing to deliver; empty pings and closes
        // still need their answer.
        if (event.kind == FrameEventKind::kData && payload.empty()) return std::nullopt;
        clearMessage_ = true;
        return event;
    }

    // A fragment of a message. Its first frame had FIN clear, so a frame
    // with FIN set is always a later one and ends the message.
    const bool last = fin_;
    if (last) inMessage_ = false;
    if (options_.bufferMessage || isControlOpcode(messageOpcode_)) {
        // Control messages are acted on whole, never in parts.
        if (!last) return std::nullopt;
        FrameEvent event = eventFor(messageOpcode_, true, payload);
        if (event.kind == FrameEventKind::kData && payload.empty()) return std::nullopt;
        clearMessage_ = true;
        return event;
    }
    // Payload handed out with an event is released when the caller comes back;
    // parsing may go on in this same call only when there was no event.
    if (!payload.empty() || (last && deliveredPart_)) {
        // An empty last fragment still has to tell the receiver that the message
        // it has been given in parts is over.
        deliveredPart_ = deliveredPart_ || !payload.empty();
        clearMessage_ = true;
        return eventFor(messageOpcode_, last, payload);
    }
    return std::nullopt;
}

}  // namespace morvane::websocket
