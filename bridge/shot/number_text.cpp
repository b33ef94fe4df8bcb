#include "bridge/shot/number_text.h"

#include <array>
#include <charconv>
#include <cmath>

#include "bridge/shot/rounding.h"

namespace taltrix {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

constexpr std::array<double, 23> exactPowersOfTen = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

double readNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    // The number is read in place: a "+" is stepped over, a "-" is part of
    // what the conversion reads.
    std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '+') start = i + 1;
        ++i;
    }
    bool seenPoint = false;
    bool seenDigit = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            seenDigit = true;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit) return 0.0;

    // Device fields are a few digits long: as a whole number over a power
    // of ten, both exact in a double, one division gives the correctly
    // rounded value, as the general conversion below would.
    std::uint64_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool afterPoint = false;
    for (std::size_t k = start; k < i; ++k) {
        const char c = text[k];
        if (c == '.') {
            afterPoint = true;
        } else if (c != '-') {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
            digits += mantissa != 0 || digits != 0 ? 1 : 0;
            decimals += afterPoint ? 1 : 0;
        }
        if (digits > 15) break;
    }
    if (digits <= 15 && decimals < static_cast<int>(exactPowersOfTen.size())) {
        const double magnitude = static_cast<double>(mantissa) / exactPowersOfTen[static_cast<std::size_t>(decimals)];
        return text[start] == '-' ? -magnitude : magnitude;
    }

    double value = 0.0;
    const auto result = std::from_chars(text.data() + start, text.data() + i, value);
    // Out of a double's range: no value a field could use.
    if (result.ec != std::errc()) return 0.0;
    return value;
}

bool isNumeric(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    text = text.substr(first, last - first);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);

    bool seenPoint = false;
    bool seenDigit = false;
    for (const char c : text) {
        if (isDigit(c)) {
            seenDigit = true;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            return false;
        }
    }
    return seenDigit;
}

std::optional<std::int32_t> toInt32(double x) {
    const double rounded = roundHalfEven(x, 0);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::string formatF1(double value) {
    const double rounded = roundHalfEven(value, 1);
    // Tenths as a whole number: exact for every value a shot can carry.
    const double tenths = std::fabs(std::nearbyint(rounded * 10.0));
    std::string text;
    if (rounded < 0 && tenths != 0) text.push_back('-');
    if (!(tenths < 9.0e17)) {
        // Out of any real range; still write something well-formed.
        text += "999999999999999999.9";
        return text;
    }
    const auto whole = static_cast<std::uint64_t>(tenths) / 10;
    const auto tenth = static_cast<std::uint64_t>(tenths) % 10;
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, whole).ptr;
    const auto width = static_cast<std::size_t>(end - digits);
    if (width < 3) text.append(3 - width, '0');
    text.append(digits, end);
    text.push_back('.');
    text.push_back(static_cast<char>('0' + tenth));
    return text;
}

std::string formatWhole(double value) {
    const double rounded = roundHalfEven(value, 0);
    if (!std::isfinite(rounded)) return "0";
    char digits[400];
    const auto end = std::to_chars(digits, digits + sizeof digits, rounded, std::chars_format::fixed, 0).ptr;
    return std::string(digits, end);
}

std::string formatInteger(std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

}  // namespace taltrix
