#include "control/websocket/frame.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvane::websocket {

namespace {

constexpr std::size_t kMaskBlock = 64;

// The key rotated so that the first byte meets key[phase], repeated over a
// block: then every block of data meets the same block of key bytes. The
// block loops below have a fixed length, which the compiler turns into
// vector XORs.
std::array<std::uint8_t, kMaskBlock> maskPattern(const MaskKey& key, std::size_t phase) {
    // Made once per call, so it is made by the word: a short message must not
    // pay for a byte loop over the whole block.
    std::uint8_t rotated[4];
    for (std::size_t i = 0; i < 4; ++i) rotated[i] = key[(phase + i) & 3];
    std::uint32_t word;
    std::memcpy(&word, rotated, sizeof word);
    std::array<std::uint8_t, kMaskBlock> pattern;
    for (std::size_t i = 0; i < pattern.size(); i += sizeof word) std::memcpy(pattern.data() + i, &word, sizeof word);
    return pattern;
}

}  // namespace

void applyMask(std::span<std::uint8_t> data, const MaskKey& key, std::size_t phase) {
    const auto pattern = maskPattern(key, phase);
    std::uint8_t* p = data.data();
    std::size_t n = data.size();
    while (n >= kMaskBlock) {
        for (std::size_t i = 0; i < kMaskBlock; ++i) p[i] ^= pattern[i];
        p += kMaskBlock;
        n -= kMaskBlock;
    }
    for (std::size_t i = 0; i < n; ++i) p[i] ^= pattern[i];
}

void copyMasked(std::uint8_t* to, std::span<const std::uint8_t> from, const MaskKey& key, std::size_t phase) {
    const std::uint8_t* p = from.data();
    std::size_t n = from.size();
    // On long payloads, byte by byte up to a 16-byte boundary of the
    // destination (a payload starts 6 to 14 bytes into its frame): stores
    // that split cache lines cost dearly there. Short ones are done first.
    if (n >= 4 * kMaskBlock) {
        while ((reinterpret_cast<std::uintptr_t>(to) & 15) != 0) {
            *to++ = *p++ ^ key[phase++ & 3];
            --n;
        }
    }
    const auto pattern = maskPattern(key, phase & 3);
#if defined(__SSE2__)
    // Four vectors a block, held in registers (a byte loop through a local
    // block would be kept on the stack, as `to` and `from` might overlap).
    const __m128i keys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern.data()));
    while (n >= kMaskBlock) {
        for (std::size_t k = 0; k < kMaskBlock; k += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k), _mm_xor_si128(bytes, keys));
        }
        p += kMaskBlock;
        to += kMaskBlock;
        n -= kMaskBlock;
    }
    while (n >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_xor_si128(bytes, keys));
        p += 16;
        to += 16;
        n -= 16;
    }
#endif
    // Whole words, then the last few bytes; every step is a multiple of the
    // key's four bytes, so the pattern stays in phase.
    std::uint64_t keyWord;
    std::memcpy(&keyWord, pattern.data(), sizeof keyWord);
    while (n >= sizeof keyWord) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        word ^= keyWord;
        std::memcpy(to, &word, sizeof word);
        p += sizeof word;
        to += sizeof word;
        n -= sizeof word;
    }
    for (std::size_t i = 0; i < n; ++i) to[i] = p[i] ^ pattern[i];
}

}  // namespace morvane::websocket
