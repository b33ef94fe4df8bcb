// UTF-8 checks: whether a payload can travel as text, and the incremental
// check of text as it arrives.
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

// The same check over text that comes in pieces: a character may be split
// between two pieces, and the first byte that no well-formed text could
// continue with is found in the piece that brings it.
class Utf8Validator {
public:
    // False once the text read so far cannot be the start of well-formed
    // text; it stays false until reset.
    bool feed(std::span<const std::uint8_t> bytes);
    // The text read so far is whole: it does not end inside a character.
    bool complete() const { return state_ == kAccept; }
    void reset() { state_ = kAccept; }

    static constexpr std::uint8_t kAccept = 0;
    static constexpr std::uint8_t kReject = 1;

private:
    std::uint8_t state_ = kAccept;
};

// The longest prefix of at most `limit` bytes that does not end inside a
// multi-byte sequence.
std::size_t utf8PrefixLength(std::string_view text, std::size_t limit);

}  // namespace morvane::websocket
