// UTF-8 checks for deciding whether a payload can travel as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace morvane::websocket {

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF): exactly the byte strings that survive a round trip through
// UTF-16 unchanged.
bool isValidUtf8(std::span<const std::uint8_t> bytes);
inline bool isValidUtf8(std::string_view text) {
    return isValidUtf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// The longest prefix of at most `limit` bytes that does not end inside a
// multi-byte sequence.
std::size_t utf8PrefixLength(std::string_view text, std::size_t limit);

}  // namespace morvane::websocket
