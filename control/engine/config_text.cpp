#include "control/engine/config_text.h"

#include <limits>

#include "control/engine/ascii.h"

namespace morvane {
namespace {

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

int digitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

}  // namespace

ConfigText splitConfigText(std::string_view text) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) return {trimSpaces(text), std::nullopt};

    std::string_view value = trimSpaces(text.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return {trimSpaces(text.substr(0, equals)), value};
}

bool configBoolean(std::string_view value) {
    return equalsNoCase(value, "TRUE") || equalsNoCase(value, "yes") || value == "1";
}

std::int64_t configInteger(std::string_view value) {
    bool negative = false;
    if (!value.empty() && (value.front() == '-' || value.front() == '+')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    int base = 10;
    if (value.size() >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        base = 16;
        value.remove_prefix(2);
    }

    // Accumulate as a negative number so that the most negative value fits.
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    std::int64_t result = 0;
    bool saturated = false;
    for (char c : value) {
        const int digit = digitValue(c, base);
        if (digit < 0) break;
        if (result < (lowest + digit) / base) {
            saturated = true;
            break;
        }
        result = result * base - digit;
    }
    if (negative) return saturated ? lowest : result;
    if (saturated || result == lowest) return std::numeric_limits<std::int64_t>::max();
    return -result;
}

std::int32_t configInteger32(std::string_view value) {
    const auto wide = configInteger(value);
    if (wide > std::numeric_limits<std::uint32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (wide < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wide));
}

std::string_view configBooleanText(bool value) { return value ? "True" : "False"; }

}  // namespace morvane
