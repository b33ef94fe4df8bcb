// The handshake key and the server's proof that it read it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/websocket/random_source.h"

namespace morvane::websocket {

inline constexpr std::string_view kWebSocketGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string base64Encode(std::span<const std::uint8_t> bytes);
// Strict decoding: padding required, no whitespace; nullopt for anything else.
std::optional<std::string> base64Decode(std::string_view text);

// 16 random bytes in base64 (24 characters), or nullopt when the random
// source fails (the caller reports kRandomUnavailable).
std::optional<std::string> makeWebSocketKey(RandomSource& random);

// The 20-byte SHA-1 of the key text followed by the GUID.
std::string acceptDigest(std::string_view key);
// Its base64 form, as a server sends it in Sec-WebSocket-Accept.
std::string acceptValue(std::string_view key);

}  // namespace morvane::websocket
