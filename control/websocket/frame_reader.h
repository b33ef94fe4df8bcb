// Resumable parser of the frames a server sends. Bytes go in as they
// arrive, in pieces of any size (one byte at a time works); events come out:
// data to deliver, a ping to answer, a close, or the message size limit.
//
// By default the reader checks structure only, as the server side of this
// control expects: reserved bits, unknown opcodes and masked server frames
// are accepted (masked payloads are unmasked), and unknown opcodes are
// delivered like data. Strict, it holds the server to RFC 6455 instead and
// stops at the first byte that breaks a rule (text is checked as it comes,
// so a message fails where its UTF-8 does, not at its end), with nothing of
// the offending frame delivered. What it always guards is memory: no length read from the wire is
// trusted for an allocation, and a message larger than the configured
// maximum ends parsing with kMessageTooBig instead of being collected.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "control/engine/engine_errors.h"
#include "control/websocket/frame.h"
#include "control/websocket/protocol_violation.h"
#include "control/websocket/utf8.h"
#include "platform/memory/uninitialized_bytes.h"

namespace morvane::websocket {

// Default cap on one incoming message (all its fragments together).
inline constexpr std::uint64_t kDefaultMaxMessageSize = 64ull << 20;

// The close code, and the code and text of the Error that a message over the
// cap raises.
inline constexpr int kCloseMessageTooBig = 1009;
inline constexpr const char* kMessageTooBigText = "Message Too Big";

struct FrameReaderOptions {
    // Deliver a fragmented message only when it is complete.
    bool bufferMessage = false;
    std::uint64_t maxMessageSize = kDefaultMaxMessageSize;
    // Fail on frames that break RFC 6455 (kViolation).
    bool strict = false;
};

enum class FrameEventKind {
    kData,           // text, binary, pong and unknown opcodes: deliver
    kPing,           // answer with a pong carrying the payload
    kClose,          // a close frame; see parseClosePayload
    kMessageTooBig,  // the reader has stopped; close with 1009
    kViolation,      // strict: the reader has stopped; close with violation.closeCode
};

struct FrameEvent {
    FrameEventKind kind = FrameEventKind::kData;
    std::uint8_t opcode = 0;  // the opcode of the message's first frame
    bool complete = true;     // the end of the message (EOM)
    // Valid until the next call of feed() and while the fed bytes are unchanged.
    std::span<const std::uint8_t> payload;
    ProtocolViolation violation;  // kViolation: the rule broken
};

class FrameReader {
public:
    explicit FrameReader(FrameReaderOptions options = {}) : options_(options) {}

    struct Step {
        std::size_t consumed = 0;
        std::optional<FrameEvent> event;
    };

    // Consumes bytes until an event is ready or the bytes run out. Call again
    // with the rest of the input after handling the event (the caller may also
    // stop and resume later, for example while its data flow is paused).
    Step feed(std::span<const std::uint8_t> bytes);

    // Room at the end of the payload now being collected, for the caller to
    // receive its next bytes into directly instead of feeding them: only for
    // an unmasked data payload with a long way still to go, and never more
    // than that way nor more than kLargestRoom. Empty otherwise.
    std::span<std::uint8_t> payloadRoom();
    // `count` bytes were written at the start of the room payloadRoom gave;
    // they count as fed, and a payload they complete gives its event. The
    // room is withdrawn by this, or by any other call.
    std::optional<FrameEvent> payloadWritten(std::size_t count);
    // The bytes still to come of the payload now being read; 0 outside one.
    std::uint64_t payloadAwaited() const { return stage_ == Stage::kPayload ? length_ - received_ : 0; }

    // A text or binary payload part of the way in whose whole length is
    // known: what has come of the payload the next data event will carry,
    // from its first byte, and how long it will be. Between feeds only (no
    // room lent); nothing for control frames, or for a message collected
    // whole before its last frame has begun.
    struct ArrivingPayload {
        std::uint64_t serial = 0;  // the same from the payload's first bytes to its event
        std::span<const std::uint8_t> soFar;
        std::uint64_t total = 0;
    };
    std::optional<ArrivingPayload> payloadArriving() const;
    // Changes with every frame begun, and on reset.
    std::uint64_t frameSerial() const { return serial_; }

    // Back to the start of a frame, nothing kept.
    void reset();

    void setBufferMessage(bool on) { options_.bufferMessage = on; }
    void setMaxMessageSize(std::uint64_t bytes) { options_.maxMessageSize = bytes; }
    void setStrict(bool on) { options_.strict = on; }
    const FrameReaderOptions& options() const { return options_; }

    // Between frames and outside a fragmented message.
    bool idle() const { return stage_ == Stage::kFirstByte && !inMessage_; }
    bool failed() const { return stage_ == Stage::kFailed; }

private:
    enum class Stage { kFirstByte, kSecondByte, kExtendedLength, kMaskKey, kPayload, kFailed };
    enum class Target { kSingle, kMessage, kInterleaved };

    // A payload this far from its end is received in place; nearer, one
    // ordinary read takes its rest together with the frames behind it.
    static constexpr std::uint64_t kRoomThreshold = 32 * 1024;
    static constexpr std::size_t kLargestRoom = 256 * 1024;

    void withdrawRoom();
    // Called first by every call that feeds the reader. Payloads handed out
    // by the previous event are released only then, so the caller could use
    // them until it came back; a room it did not use is taken back.
    void releaseDelivered() {
        if (roomLent_) withdrawRoom();
        if (clearMessage_) message_.clear();
        if (clearControl_) control_.clear();
        clearMessage_ = clearControl_ = false;
    }
    bool takeWholeDataFrame(std::span<const std::uint8_t> bytes, Step& step);
    std::optional<FrameEvent> lengthKnown();
    std::optional<FrameEvent> beginPayload();
    std::optional<FrameEvent> finishFrame(std::span<const std::uint8_t> direct);
    FrameEvent eventFor(std::uint8_t opcode, bool complete, std::span<const std::uint8_t> payload) const;
    // Strict: the rule the first or second byte of a frame breaks, if any.
    std::optional<ProtocolViolation> firstByteViolation(std::uint8_t first) const;
    std::optional<ProtocolViolation> secondByteViolation(std::uint8_t second) const;
    // Strict, at a frame's end: an unfinished character ending a text
    // message, or a close payload that breaks a rule.
    std::optional<ProtocolViolation> frameEndViolation(std::span<const std::uint8_t> payload) const;
    // Stops the reader for good with the event that says why.
    FrameEvent fail(const ProtocolViolation& violation);
    // Strict: a piece of text payload, checked as it comes; false when it
    // is not UTF-8.
    bool textFits(std::span<const std::uint8_t> piece) { return !checkingText_ || text_.feed(piece); }

    FrameReaderOptions options_;
    Stage stage_ = Stage::kFirstByte;

    // The frame being parsed.
    bool fin_ = false;
    std::uint8_t opcode_ = 0;
    bool masked_ = false;
    std::uint64_t length_ = 0;
    int lengthBytesLeft_ = 0;
    MaskKey key_{};
    int keyBytes_ = 0;
    std::uint64_t received_ = 0;
    Target target_ = Target::kSingle;

    // The message being collected (fragmented, or a single frame).
    bool inMessage_ = false;
    std::uint8_t messageOpcode_ = 0;
    std::uint64_t messageSize_ = 0;
    bool deliveredPart_ = false;
    // Grown without zeroing: it is written over at once, often by a receive.
    platform::memory::UninitializedBytes message_;
    // message_ ends with room lent out by payloadRoom, from roomStart_.
    bool roomLent_ = false;
    std::size_t roomStart_ = 0;
    platform::memory::UninitializedBytes control_;
    bool clearMessage_ = false;
    bool clearControl_ = false;
    std::uint64_t serial_ = 0;
    // Strict: the payload being read is text, checked by text_ across the
    // frames of its message.
    bool checkingText_ = false;
    Utf8Validator text_;
};

}  // namespace morvane::websocket
