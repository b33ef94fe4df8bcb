// Widening of ASCII bytes to UTF-16 units, the hot loop of every received
// text: sixteen bytes are checked with two word tests and, when all are
// below 0x80, widened in a loop the compiler turns into vector moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace codepage::detail {

inline constexpr std::size_t kWidenBlock = 16;

// True when none of the 16 bytes at `in` has its top bit set.
inline bool asciiBlock(const std::uint8_t* in) {
  std::uint64_t a;
  std::uint64_t b;
  std::memcpy(&a, in, sizeof a);
  std::memcpy(&b, in + sizeof a, sizeof b);
  return ((a | b) & 0x8080808080808080ull) == 0;
}

inline void widenBlock(const std::uint8_t* in, char16_t* out) {
  // Through local copies: the compiler cannot know that `in` and `out` do
  // not overlap, and would otherwise widen one byte at a time.
  std::uint8_t bytes[kWidenBlock];
  char16_t wide[kWidenBlock];
  std::memcpy(bytes, in, sizeof bytes);
  for (std::size_t k = 0; k < kWidenBlock; ++k) wide[k] = bytes[k];
  std::memcpy(out, wide, sizeof wide);
}

// Widens the leading ASCII bytes of in[0, n) into out and returns how many
// it widened: all of them, or up to (not past) the block that holds the
// first byte of 0x80 or above, or the last n % 16 bytes when those are not
// all ASCII.
inline std::size_t widenAscii(const std::uint8_t* in, std::size_t n, char16_t* out) {
  std::size_t i = 0;
  while (i + kWidenBlock <= n && asciiBlock(in + i)) {
    widenBlock(in + i, out + i);
    i += kWidenBlock;
  }
  while (i < n && in[i] < 0x80) {
    out[i] = in[i];
    ++i;
  }
  return i;
}

}  // namespace codepage::detail
