#include "bridge/shot/number_text.h"

#include <charconv>
#include <cmath>

#include "bridge/shot/rounding.h"

namespace taltrix {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double readNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;

    // Short enough for the string's inline buffer in every real field.
    std::string number;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') number.push_back('-');
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
        number.push_back(c);
    }
    if (!seenDigit) return 0.0;

    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
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
