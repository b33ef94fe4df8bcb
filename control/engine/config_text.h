// The text form of one configuration setting, as callers write it to the
// control's Config method: a bare name reads a setting, a name, "=" and a
// value writes one. The layers that own settings read their values through
// the conversions here, so every setting spells booleans and numbers alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace morvane {

struct ConfigText {
    std::string_view name;
    // Absent for a read. Present, possibly empty, for a write.
    std::optional<std::string_view> value;
};

// Splits at the first "=". Blanks around the name and after the "=" and at the
// end of the value are dropped; a value in double quotes loses them. Nothing
// inside the value is unescaped.
ConfigText splitConfigText(std::string_view text);

// True for "TRUE", "yes" or "1" in any letter case, false for anything else.
bool configBoolean(std::string_view value);

// Decimal, or hexadecimal after "0x"/"0X", with an optional sign. Reading stops
// at the first character that is not a digit (text without digits reads as 0)
// and a value beyond the 64-bit range saturates, as a C library would leave it.
std::int64_t configInteger(std::string_view value);

// For 32-bit settings: values up to 0xFFFFFFFF keep their low 32 bits, so
// "0x80000000" sets the top bit of a flag word; anything wider saturates.
std::int32_t configInteger32(std::string_view value);

std::string_view configBooleanText(bool value);

}  // namespace morvane
