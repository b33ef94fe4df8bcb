#include "platform/com/bstr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Larger strings than this are refused rather than wrapped around 32 bits.
constexpr std::size_t kMaxBytes = 0x7FFFFFF0;

std::uint32_t* header(BSTR text) { return reinterpret_cast<std::uint32_t*>(text) - 1; }

// Short strings come and go by the million (every event argument is one), so
// each thread keeps a few freed blocks of each small size for its next
// strings, as the system's own automation runtime does. Blocks are sized in
// classes so that any freed block of a class holds any string of it.
// Sanitizer builds keep none, so that a use after free is still caught.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_COM_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(PLATFORM_COM_ADDRESS_SANITIZER)
constexpr bool kKeepBlocks = false;
#else
constexpr bool kKeepBlocks = true;
#endif
constexpr std::size_t kCachedClasses = 8;
constexpr std::size_t kClassBytes = 32;  // block sizes 32, 64, ... 256
constexpr std::size_t kBlocksPerClass = 4;

// Trivially destructible, so that a string freed by a static destructor,
// after the thread's cleanup below has run, still finds it (switched off).
struct BlockCache {
    void* blocks[kCachedClasses + 1][kBlocksPerClass];
    std::uint8_t counts[kCachedClasses + 1];
    bool armed;
    bool closed;
};
// Initial-exec: found at a fixed offset from the thread pointer rather than
// looked up at every string. That needs this library loaded with the
// program, which it always is: it carries CoCreateInstance, which every host
// links to create a control at all.
__attribute__((tls_model("initial-exec"))) thread_local BlockCache cache;

struct BlockCacheCleanup {
    bool registered = false;  // set on first use, which registers the destructor
    ~BlockCacheCleanup() {
        cache.closed = true;
        for (std::size_t c = 0; c < kCachedClasses; ++c) {
            while (cache.counts[c] > 0) std::free(cache.blocks[c][--cache.counts[c]]);
        }
    }
};
thread_local BlockCacheCleanup cleanup;

// The size class of a block of `total` bytes; kCachedClasses when too big.
std::size_t blockClass(std::size_t total) { return std::min((total - 1) / kClassBytes, kCachedClasses); }

void* takeBlock(std::size_t total) {
    const std::size_t c = blockClass(total);
    if (!kKeepBlocks || c == kCachedClasses) return std::malloc(total);
    if (cache.counts[c] > 0) return cache.blocks[c][--cache.counts[c]];
    return std::malloc((c + 1) * kClassBytes);
}

void giveBlock(void* block, std::size_t total) {
    const std::size_t c = blockClass(total);
    if (kKeepBlocks && c < kCachedClasses && !cache.closed && cache.counts[c] < kBlocksPerClass) {
        // The cleanup is armed by the first block kept, so threads that never
        // free a string pay nothing at exit.
        if (!cache.armed) {
            cache.armed = true;
            cleanup.registered = true;
        }
        cache.blocks[c][cache.counts[c]++] = block;
        return;
    }
    std::free(block);
}

constexpr std::size_t blockBytes(std::size_t bytes) { return sizeof(std::uint32_t) + bytes + sizeof(OLECHAR); }

// Room for the prefix, the bytes and a terminating zero OLECHAR.
BSTR allocateBytes(std::size_t bytes) {
    if (bytes > kMaxBytes) return nullptr;
    auto* block = static_cast<char*>(takeBlock(blockBytes(bytes)));
    if (block == nullptr) return nullptr;
    const auto count = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &count, sizeof count);
    block[sizeof count + bytes] = 0;
    block[sizeof count + bytes + 1] = 0;
    return reinterpret_cast<BSTR>(block + sizeof count);
}

std::size_t terminatedLength(const OLECHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::min<std::size_t>(terminatedLength(text), kMaxBytes)));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    BSTR result = allocateBytes(std::size_t{length} * sizeof(OLECHAR));
    if (result == nullptr) return nullptr;
    if (text != nullptr) {
        std::memcpy(result, text, std::size_t{length} * sizeof(OLECHAR));
    } else {
        std::memset(result, 0, std::size_t{length} * sizeof(OLECHAR));
    }
    return result;
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
    BSTR result = allocateBytes(length);
    if (result == nullptr) return nullptr;
    if (bytes != nullptr) {
        std::memcpy(result, bytes, length);
    } else {
        std::memset(result, 0, length);
    }
    return result;
}

void SysFreeString(BSTR text) {
    if (text != nullptr) giveBlock(header(text), blockBytes(*header(text)));
}

UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : *header(text); }

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
    if (target == nullptr) return FALSE;
    // Copy before freeing: `text` may be the old string itself.
    BSTR replacement = SysAllocStringLen(text, length);
    if (replacement == nullptr) return FALSE;
    SysFreeString(*target);
    *target = replacement;
    return TRUE;
}

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (target == nullptr) return FALSE;
    if (text == nullptr) {
        SysFreeString(*target);
        *target = nullptr;
        return TRUE;
    }
    return SysReAllocStringLen(target, text, static_cast<UINT>(terminatedLength(text)));
}

namespace com {

BSTR allocBstrUnfilled(std::size_t length) {
    if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return allocateBytes(length * sizeof(OLECHAR));
}

BSTR allocBstr(std::u16string_view text) {
    if (text.size() > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace com
