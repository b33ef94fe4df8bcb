// The check value that travels with every launch message. The simulators
// recompute it from back spin and launch angle and drop a launch whose code
// does not match, so these two numbers are shared with them and must never
// change on one side only. The emulators in tools/ carry the same values.
#pragma once

#include <cstdint>

namespace taltrix {

inline constexpr std::int32_t launchCodeMultiplier = 73;  // two digits
inline constexpr std::int32_t launchCodeOffset = 2459;    // four digits

static_assert(launchCodeMultiplier >= 10 && launchCodeMultiplier <= 99);
static_assert(launchCodeOffset >= 1000 && launchCodeOffset <= 9999);

// backSpin x launchCodeMultiplier x ballAngle + launchCodeOffset in 32-bit
// signed arithmetic, multiplied in that order; 0 when any step overflows.
constexpr std::int32_t computeLaunchCode(std::int32_t backSpin, std::int32_t ballAngle) {
    std::int32_t product = 0;
    std::int32_t code = 0;
    if (__builtin_mul_overflow(backSpin, launchCodeMultiplier, &product)) return 0;
    if (__builtin_mul_overflow(product, ballAngle, &product)) return 0;
    if (__builtin_add_overflow(product, launchCodeOffset, &code)) return 0;
    return code;
}

}  // namespace taltrix
