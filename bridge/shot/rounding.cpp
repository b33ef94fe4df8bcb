#include "bridge/shot/rounding.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace taltrix {

namespace {

constexpr std::array<double, 10> powersOfTen = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// Beyond this, a double has no fractional digits left to round.
constexpr double largestRoundable = 1e15;

// Rounds |x| by looking at its shortest decimal digits. Only called near a
// half, where the binary value alone cannot tell a written half from a value
// just beside it.
double roundOnDecimalDigits(double x, int decimals) {
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text - 1, std::fabs(x), std::chars_format::scientific);
    *written.ptr = '\0';
    // text is "d.ddde[+-]xx": collect the digits and the decimal exponent.
    char digits[32];
    int count = 0;
    const char* p = text;
    for (; p < written.ptr && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9' && count < 32) digits[count++] = *p;
    }
    const int exponent = std::atoi(p + 1);
    // Digits to keep: those before the decimal point plus `decimals`.
    const int keep = exponent + 1 + decimals;
    if (keep < 0) return 0.0;
    if (keep >= count) return x;  // nothing beyond the last kept decimal

    std::int64_t kept = 0;
    for (int i = 0; i < keep; ++i) kept = kept * 10 + (digits[i] - '0');
    const int first = digits[keep] - '0';
    bool restIsZero = true;
    for (int i = keep + 1; i < count; ++i) restIsZero = restIsZero && digits[i] == '0';

    bool up = first > 5 || (first == 5 && !restIsZero);
    if (first == 5 && restIsZero) up = (kept % 2) != 0;
    if (up) ++kept;
    const double magnitude = static_cast<double>(kept) / powersOfTen[static_cast<std::size_t>(decimals)];
    return (x < 0 && kept != 0) ? -magnitude : magnitude;
}

}  // namespace

double roundHalfEven(double x, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 9) decimals = 9;
    if (!std::isfinite(x)) return x;
    const double scale = powersOfTen[static_cast<std::size_t>(decimals)];
    const double scaled = x * scale;
    if (std::fabs(scaled) >= largestRoundable) return x;

    const double below = std::floor(scaled);
    const double fraction = scaled - below;
    if (std::fabs(fraction - 0.5) < 1e-6) return roundOnDecimalDigits(x, decimals);
    const double rounded = fraction < 0.5 ? below : below + 1.0;
    // Adding 0.0 turns a negative zero into zero: "-000.0" is no number a
    // simulator should ever see.
    return rounded / scale + 0.0;
}

}  // namespace taltrix
