// The bridge's two text filters.
#pragma once

#include <string>
#include <string_view>

namespace taltrix {

// The characters a shot message is made of: ASCII digits, letters and
// ". , { } + -". Everything else, blanks and line ends included, is noise.
inline constexpr std::string_view shotCharset = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.,{}+-";

// Keeps only the characters of `shotCharset`, in order.
std::string filterShotCharset(std::string_view text);

// Appends the `shotCharset` characters of `text` to `out`.
void appendShotCharset(std::string& out, std::string_view text);

// Trims blanks at both ends, then keeps the characters whose code in the
// ANSI code page is 32 to 126 or 128 to 167.
std::string filterPrintable(std::string_view text);

}  // namespace taltrix
