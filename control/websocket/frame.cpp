#include "control/websocket/frame.h"

#include <array>
#include <cstring>

namespace morvane::websocket {

void applyMask(std::span<std::uint8_t> data, const MaskKey& key, std::size_t phase) {
  // Rotate the key so that data[0] meets key[phase]; then every block of
  // data meets the same block of key bytes all the way through. The block
  // loop has a fixed length, which the compiler turns into vector XORs.
  constexpr std::size_t block = 64;
  std::array<std::uint8_t, block> pattern{};
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = key[(phase + i) & 3];

  std::uint8_t* p = data.data();
  std::size_t n = data.size();
  while (n >= block) {
    for (std::size_t i = 0; i < block; ++i) p[i] ^= pattern[i];
    p += block;
    n -= block;
  }
  for (std::size_t i = 0; i < n; ++i) p[i] ^= pattern[i];
}

}  // namespace morvane::websocket
