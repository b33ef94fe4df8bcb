// UTF-8 <-> UTF-16 without iconv: the rules for bad input must be exactly those
// of Windows (one U+FFFD per maximal invalid subsequence), which iconv does not
// offer, and this is the hot path of every text message.
#include "platform/text/utf8.h"

#include <cstdint>

#include "platform/text/ascii_blocks.h"

namespace codepage::detail {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Returns the number of units written (1 or 2).
std::size_t putCodePoint(char16_t* out, char32_t cp) {
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return 2;
}

}  // namespace

bool decodeUtf8(std::string_view bytes, std::u16string& out, bool strict) {
    // No input byte yields more than one UTF-16 unit (a four-byte sequence
    // yields two), so the result fits in bytes.size() units.
    out.resize(bytes.size());
    char16_t* const o = out.data();
    std::size_t w = 0;
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b = s[i];
        if (b < 0x80) {
            const std::size_t run = widenAscii(s + i, n - i, o + w);
            i += run;
            w += run;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        char32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            cp = b & 0x0F;
            if (b == 0xE0) low = 0xA0;   // no overlong forms
            if (b == 0xED) high = 0x9F;  // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            cp = b & 0x07;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            if (strict) return false;
            o[w++] = kReplacement;
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < length && i + k < n; ++k) {
            const std::uint8_t c = s[i + k];
            const std::uint8_t lo = k == 1 ? low : 0x80;
            const std::uint8_t hi = k == 1 ? high : 0xBF;
            if (c < lo || c > hi) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (k < length) {
            // The valid prefix so far is one maximal subpart: one replacement.
            if (strict) return false;
            o[w++] = kReplacement;
            i += k;
            continue;
        }
        w += putCodePoint(o + w, cp);
        i += length;
    }
    out.resize(w);
    return true;
}

bool encodeUtf8(std::u16string_view text, std::string& out, bool strict) {
    // A unit becomes at most three bytes (a pair of units four), so the result
    // fits in three bytes a unit.
    const std::size_t n = text.size();
    out.resize(3 * n);
    char* const o = out.data();
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t cp = text[i];
        if (cp < 0x80) {
            const std::size_t run = narrowAscii(text.data() + i, n - i, o + w);
            w += run;
            i += run - 1;
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            const bool pairs = cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
            if (pairs) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                if (strict) return false;
                cp = kReplacement;
            }
        }
        if (cp < 0x800) {
            o[w++] = static_cast<char>(0xC0 | (cp >> 6));
            o[w++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            o[w++] = static_cast<char>(0xE0 | (cp >> 12));
            o[w++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            o[w++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            o[w++] = static_cast<char>(0xF0 | (cp >> 18));
            o[w++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            o[w++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            o[w++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out.resize(w);
    return true;
}

}  // namespace codepage::detail
