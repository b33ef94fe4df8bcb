// RFC 6455 base framing shared by the writer and the reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morvane::websocket {

enum Opcode : std::uint8_t {
    kOpContinuation = 0,
    kOpText = 1,
    kOpBinary = 2,
    kOpClose = 8,
    kOpPing = 9,
    kOpPong = 10,
};

constexpr bool isControlOpcode(std::uint8_t opcode) { return (opcode & 0x8) != 0; }

using MaskKey = std::array<std::uint8_t, 4>;

// Largest header: 2 bytes, 8 bytes of extended length, 4 bytes of key.
inline constexpr std::size_t kMaxFrameHeaderSize = 14;

// XORs data with the key, starting at key byte `phase` (0..3), a block of
// bytes at a time. Masking and unmasking are the same operation.
void applyMask(std::span<std::uint8_t> data, const MaskKey& key, std::size_t phase = 0);

// The same while copying: to[i] = from[i] XOR the key, in one pass over the
// bytes. `to` holds at least from.size() bytes and does not overlap `from`.
void copyMasked(std::uint8_t* to, std::span<const std::uint8_t> from, const MaskKey& key, std::size_t phase = 0);

}  // namespace morvane::websocket
