// ASCII runs between 8-bit text and UTF-16 units, the hot loops of every
// received and sent text: a block is checked at once and, when all of it is
// below 0x80, widened with vector unpacks or narrowed with vector packs
// (SSE2, which every x86-64 has, and AVX2 for long runs where the processor
// has it; elsewhere plain loops).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace codepage::detail {

inline constexpr std::size_t kWidenBlock = 64;

#if defined(__SSE2__)

// True when none of the kWidenBlock bytes at `in` has its top bit set.
inline bool asciiBlock(const std::uint8_t* in) {
    __m128i any = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    for (std::size_t k = 16; k < kWidenBlock; k += 16) {
        any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k)));
    }
    return _mm_movemask_epi8(any) == 0;
}

// Widens 16 bytes when all are below 0x80; false otherwise, with nothing
// written. Short messages (a few dozen bytes) go through this alone.
inline bool widenBlock16(const std::uint8_t* in, char16_t* out) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    if (_mm_movemask_epi8(bytes) != 0) return false;
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
    return true;
}

inline void widenBlock(const std::uint8_t* in, char16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t k = 0; k < kWidenBlock; k += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k + 8), _mm_unpackhi_epi8(bytes, zero));
    }
}

#else

inline bool asciiBlock(const std::uint8_t* in) {
    std::uint64_t any = 0;
    for (std::size_t k = 0; k < kWidenBlock; k += sizeof any) {
        std::uint64_t word;
        std::memcpy(&word, in + k, sizeof word);
        any |= word;
    }
    return (any & 0x8080808080808080ull) == 0;
}

inline bool widenBlock16(const std::uint8_t* in, char16_t* out) {
    std::uint64_t words[2];
    std::memcpy(words, in, sizeof words);
    if (((words[0] | words[1]) & 0x8080808080808080ull) != 0) return false;
    for (std::size_t k = 0; k < 16; ++k) out[k] = in[k];
    return true;
}

inline void widenBlock(const std::uint8_t* in, char16_t* out) {
    for (std::size_t k = 0; k < kWidenBlock; ++k) out[k] = in[k];
}

#endif

// Output units are stored 32 bytes at a time on the wide path: aligned to
// that, no store splits a cache line.
inline bool outputAligned(const char16_t* out) { return (reinterpret_cast<std::uintptr_t>(out) & 31) == 0; }

// Widens whole kWidenBlock-byte blocks of in[0, n) while they are ASCII and
// returns how many bytes it widened, a multiple of kWidenBlock. With AVX2
// (looked for once, at the first call) a block takes four unpacking
// widenings and four 32-byte stores; without, it goes by SSE2 or plain
// loops like the short paths above.
std::size_t widenAsciiBlocks(const std::uint8_t* in, std::size_t n, char16_t* out);
// The same without looking for AVX2, for comparing the two.
std::size_t widenAsciiBlocksPortable(const std::uint8_t* in, std::size_t n, char16_t* out);

// Widens the leading ASCII bytes of in[0, n) into out and returns how many
// it widened: all of them, or up to the first byte of 0x80 or above.
inline std::size_t widenAscii(const std::uint8_t* in, std::size_t n, char16_t* out) {
    std::size_t i = 0;
    if (n >= 4 * kWidenBlock) {
        // Unit by unit up to a 32-byte boundary of the output: on long runs,
        // stores that split cache lines (a BSTR's text starts 4 bytes into
        // its block) cost dearly. Short ones are over before that matters.
        while (i < n && in[i] < 0x80 && !outputAligned(out + i)) {
            out[i] = in[i];
            ++i;
        }
        i += widenAsciiBlocks(in + i, n - i, out + i);
    }
    while (i + 16 <= n && widenBlock16(in + i, out + i)) i += 16;
    // The rest, and the block that holds the first byte of 0x80 or above.
    while (i < n && in[i] < 0x80) {
        out[i] = in[i];
        ++i;
    }
    return i;
}

#if defined(__SSE2__)

// Narrows 16 units to 16 bytes when all are below 0x80; false otherwise,
// with nothing written.
inline bool narrowBlock16(const char16_t* in, char* out) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8));
    const __m128i beyond = _mm_and_si128(_mm_or_si128(low, high), _mm_set1_epi16(static_cast<short>(0xFF80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(beyond, _mm_setzero_si128())) != 0xFFFF) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(low, high));
    return true;
}

#else

inline bool narrowBlock16(const char16_t* in, char* out) {
    char16_t any = 0;
    for (std::size_t k = 0; k < 16; ++k) any |= in[k];
    if (any >= 0x80) return false;
    for (std::size_t k = 0; k < 16; ++k) out[k] = static_cast<char>(in[k]);
    return true;
}

#endif

// Narrows the leading units of in[0, n) that are below 0x80 into out and
// returns how many it narrowed: all of them, or up to the first of 0x80 or
// above.
inline std::size_t narrowAscii(const char16_t* in, std::size_t n, char* out) {
    std::size_t i = 0;
    while (i + 16 <= n && narrowBlock16(in + i, out + i)) i += 16;
    while (i < n && in[i] < 0x80) {
        out[i] = static_cast<char>(in[i]);
        ++i;
    }
    return i;
}

}  // namespace codepage::detail
