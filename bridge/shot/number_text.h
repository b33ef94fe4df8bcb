// Reading numbers out of device and simulator text, and writing numbers into
// simulator messages. Nothing here looks at the user's locale: the decimal
// separator is always ".".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace taltrix {

// `ValueText`: skips leading blanks, reads an optional sign and then digits
// with at most one "."; stops at the first other character (so "," ends the
// number). No digits gives 0.
double readNumber(std::string_view text);

// True when the whole text, blanks around it aside, is a decimal number:
// an optional sign, digits, and at most one "." with at least one digit.
bool isNumeric(std::string_view text);

// The nearest 32-bit integer to x with halves to even, or nothing when x does
// not fit (or is not a number).
std::optional<std::int32_t> toInt32(double x);

// Format F1: at least three integer digits, "." and one decimal, "-" in front
// of the padded digits for a negative value (-4.8 gives "-004.8").
std::string formatF1(double value);

// Format I: plain decimal, "-" for negatives, no leading zeros.
std::string formatInteger(std::int64_t value);

// Format I of x rounded to a whole number, halves to even.
std::string formatWhole(double value);

}  // namespace taltrix
