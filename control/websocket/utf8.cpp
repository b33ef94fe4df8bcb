#include "control/websocket/utf8.h"

#include <cstring>

namespace morvane::websocket {

bool isValidUtf8(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* end = p + bytes.size();
    while (p < end) {
        // Plain ASCII eight bytes at a time: the usual text payload.
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const std::uint8_t lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        int more;
        std::uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead == 0xE0) {
            more = 2, low = 0xA0;
        } else if (lead == 0xED) {
            more = 2, high = 0x9F;  // no UTF-16 surrogates
        } else if (lead >= 0xE1 && lead <= 0xEF) {
            more = 2;
        } else if (lead == 0xF0) {
            more = 3, low = 0x90;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            more = 3;
        } else if (lead == 0xF4) {
            more = 3, high = 0x8F;
        } else {
            return false;
        }
        if (end - p <= more) return false;
        if (p[1] < low || p[1] > high) return false;
        for (int i = 2; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
        }
        p += more + 1;
    }
    return true;
}

std::size_t utf8PrefixLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t cut = limit;
    // Step back over continuation bytes to the start of the cut character.
    while (cut > 0 && (static_cast<std::uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

}  // namespace morvane::websocket
