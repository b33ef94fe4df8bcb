// SHA-1, for the one place the protocol asks for it: the server's answer to
// the opening handshake's key. Computed here rather than by the crypto
// library, whose first use sets up its whole provider machinery (megabytes of
// it in every process) that a plain ws:// connection otherwise never needs.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace morvane::websocket {

std::array<std::uint8_t, 20> sha1(std::span<const std::uint8_t> message);

}  // namespace morvane::websocket
