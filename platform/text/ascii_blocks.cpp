#include "platform/text/ascii_blocks.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define CODEPAGE_HAVE_AVX2_PATH 1
#endif

namespace codepage::detail {

std::size_t widenAsciiBlocksPortable(const std::uint8_t* in, std::size_t n, char16_t* out) {
    std::size_t i = 0;
    while (i + kWidenBlock <= n && asciiBlock(in + i)) {
        widenBlock(in + i, out + i);
        i += kWidenBlock;
    }
    return i;
}

#if defined(CODEPAGE_HAVE_AVX2_PATH)

namespace {

static_assert(kWidenBlock == 64, "the AVX2 path widens two 32-byte halves per block");

__attribute__((target("avx2"))) std::size_t widenAsciiBlocksAvx2(const std::uint8_t* in, std::size_t n,
                                                                   char16_t* out) {
    std::size_t i = 0;
    for (; i + kWidenBlock <= n; i += kWidenBlock) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 32));
        if (_mm256_movemask_epi8(_mm256_or_si256(low, high)) != 0) break;
        auto* o = reinterpret_cast<__m256i*>(out + i);
        _mm256_storeu_si256(o, _mm256_cvtepu8_epi16(_mm256_castsi256_si128(low)));
        _mm256_storeu_si256(o + 1, _mm256_cvtepu8_epi16(_mm256_extracti128_si256(low, 1)));
        _mm256_storeu_si256(o + 2, _mm256_cvtepu8_epi16(_mm256_castsi256_si128(high)));
        _mm256_storeu_si256(o + 3, _mm256_cvtepu8_epi16(_mm256_extracti128_si256(high, 1)));
    }
    return i;
}

}  // namespace

#endif

std::size_t widenAsciiBlocks(const std::uint8_t* in, std::size_t n, char16_t* out) {
#if defined(CODEPAGE_HAVE_AVX2_PATH)
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    if (avx2) return widenAsciiBlocksAvx2(in, n, out);
#endif
    return widenAsciiBlocksPortable(in, n, out);
}

}  // namespace codepage::detail
