#include "platform/com/bstr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Larger strings than this are refused rather than wrapped around 32 bits.
constexpr std::size_t kMaxBytes = 0x7FFFFFF0;

std::uint32_t* header(BSTR text) { return reinterpret_cast<std::uint32_t*>(text) - 1; }

// Room for the prefix, the bytes and a terminating zero OLECHAR.
BSTR allocateBytes(std::size_t bytes) {
    if (bytes > kMaxBytes) return nullptr;
    auto* block = static_cast<char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
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
    if (text != nullptr) std::free(header(text));
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
