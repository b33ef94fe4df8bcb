#include "control/websocket/accept_key.h"

#include <array>

#include "control/websocket/sha1.h"

namespace morvane::websocket {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        const std::uint32_t v = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) return std::nullopt;  // data after padding
            v[k] = valueOf(c);
            if (v[k] < 0) return std::nullopt;
        }
        const std::uint32_t word = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out += static_cast<char>(word >> 16);
        if (padding < 2) out += static_cast<char>((word >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(word & 0xFF);
    }
    return out;
}

std::optional<std::string> makeWebSocketKey(RandomSource& random) {
    std::array<std::uint8_t, 16> bytes{};
    if (!random.fill(bytes)) return std::nullopt;
    return base64Encode(bytes);
}

std::string acceptDigest(std::string_view key) {
    std::string input(key);
    input.append(kWebSocketGuid);
    const auto digest = sha1({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
    return std::string(digest.begin(), digest.end());
}

std::string acceptValue(std::string_view key) {
    const std::string digest = acceptDigest(key);
    return base64Encode({reinterpret_cast<const std::uint8_t*>(digest.data()), digest.size()});
}

}  // namespace morvane::websocket
