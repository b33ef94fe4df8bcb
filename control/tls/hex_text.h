// Lower-case hexadecimal digits as the channel's status lines print numbers
// ("0x%x", "0x%04x"); kept in one place so every text agrees on the case.
#pragma once

#include <cstdint>
#include <string>

namespace morvane::tls {

// The digits of `value` without a prefix, padded with zeros to `minDigits`.
inline std::string hexDigits(std::uint32_t value, int minDigits = 1) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string reversed;
    do {
        reversed.push_back(kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(reversed.size()) < minDigits) reversed.push_back('0');
    return {reversed.rbegin(), reversed.rend()};
}

}  // namespace morvane::tls
