// Where masking keys and handshake keys come from. The system's
// cryptographic generator in production; tests put in a source whose bytes
// they know, so that frames and requests can be pinned byte for byte.
#pragma once

#include <cstdint>
#include <span>

namespace morvane::websocket {

// The control's code when no random bytes can be had.
inline constexpr int kRandomUnavailable = 4101;

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // Fills every byte or returns false.
    virtual bool fill(std::span<std::uint8_t> bytes) = 0;
};

// The kernel's CSPRNG (getrandom). Draws are taken from a small pool that is
// refilled in one call, so that a masking key per frame costs no system call.
RandomSource& systemRandom();

}  // namespace morvane::websocket
