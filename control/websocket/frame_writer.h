// Serialises client frames and messages. Header and masked payload are
// written into one buffer, so that each frame (and each message) can go to
// the socket in a single write.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "control/websocket/frame.h"
#include "control/websocket/random_source.h"
#include "platform/memory/uninitialized_bytes.h"

namespace morvane::websocket {

struct FrameHeader {
    bool fin = true;
    bool rsv1 = false;
    bool rsv2 = false;
    bool rsv3 = false;
    std::uint8_t opcode = kOpText;
    bool masked = true;
    MaskKey key{};
};

// Serialised frames; the room for a masked payload is not zeroed before the
// masking copy fills it.
using FrameBuffer = platform::memory::UninitializedBytes;

// Bytes of header (with key) that a payload of this length needs.
std::size_t frameHeaderSize(std::uint64_t payloadLength, bool masked);

// Appends one frame: the header, the key when masked, then the payload
// (masked on the copy; the caller's bytes are not touched).
void appendFrame(FrameBuffer& out, const FrameHeader& header, std::span<const std::uint8_t> payload);

// The frames of one message, one at a time, so that a writer can send each
// as soon as it is serialised: the first min(length, fragmentSize) bytes
// with `opcode`, each further chunk of at most fragmentSize bytes as a
// continuation frame, FIN on the last one only, every frame masked with its
// own new key. fragmentSize below 1 means no limit; an empty payload is one
// empty frame. The payload must stay unchanged while the framer is used.
class MessageFramer {
public:
    MessageFramer(std::uint8_t opcode, std::span<const std::uint8_t> payload, std::int64_t fragmentSize);
    // The keys may lie inside the framer itself.
    MessageFramer(const MessageFramer&) = delete;
    MessageFramer& operator=(const MessageFramer&) = delete;

    // Draws the keys of every frame at once; false when the random source
    // fails (nothing can be framed then).
    bool drawKeys(RandomSource& random);

    std::size_t frameCount() const { return frames_; }
    // Bytes that all frames together take.
    std::size_t totalSize() const;
    bool done() const { return next_ == frames_; }
    // Appends the next frame to `out`; call only after drawKeys and while
    // not done().
    void appendNext(FrameBuffer& out);

private:
    std::uint8_t opcode_;
    std::span<const std::uint8_t> payload_;
    std::size_t chunk_;
    std::size_t frames_;
    std::size_t next_ = 0;
    // The keys of every frame; a message of a few frames (nearly all of
    // them) keeps them in place instead of allocating.
    std::array<std::uint8_t, 64> fewKeys_;
    std::vector<std::uint8_t> manyKeys_;
    std::span<std::uint8_t> keys_;
};

// Appends one message: the first min(length, fragmentSize) bytes with
// `opcode`, each further chunk of at most fragmentSize bytes as a
// continuation frame, FIN on the last one only, every frame masked with its
// own new key. fragmentSize below 1 means no limit. An empty payload gives
// one empty frame. Returns 0, or kRandomUnavailable with `out` unchanged.
int appendMessage(FrameBuffer& out, std::uint8_t opcode, std::span<const std::uint8_t> payload,
                  std::int64_t fragmentSize, RandomSource& random);

}  // namespace morvane::websocket
