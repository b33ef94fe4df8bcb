#include "control/websocket/frame.h"

#include <cstring>

namespace morvane::websocket {

void applyMask(std::span<std::uint8_t> data, const MaskKey& key, std::size_t phase) {
  // Rotate the key so that data[0] meets key[phase]; then eight bytes of data
  // meet the same eight key bytes all the way through.
  std::array<std::uint8_t, 8> pattern{};
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = key[(phase + i) & 3];
  std::uint64_t word;
  std::memcpy(&word, pattern.data(), sizeof word);

  std::uint8_t* p = data.data();
  std::size_t n = data.size();
  while (n >= 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    chunk ^= word;
    std::memcpy(p, &chunk, sizeof chunk);
    p += 8;
    n -= 8;
  }
  for (std::size_t i = 0; i < n; ++i) p[i] ^= pattern[i];
}

}  // namespace morvane::websocket
