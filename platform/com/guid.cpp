#include "platform/com/guid.h"

#include <cstdio>
#include <cstring>

namespace com {

std::string formatGuid(const GUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::u16string formatGuidWide(const GUID& g) {
    const std::string narrow = formatGuid(g);
    return std::u16string(narrow.begin(), narrow.end());
}

std::optional<GUID> parseGuid(std::u16string_view text) {
    if (text.size() > 38) return std::nullopt;
    char narrow[38];
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] > 0x7F) return std::nullopt;
        narrow[i] = static_cast<char>(text[i]);
    }
    return parseGuid(std::string_view(narrow, text.size()));
}

std::size_t GuidHash::operator()(const GUID& g) const noexcept {
    std::uint64_t a;
    std::uint64_t b;
    static_assert(sizeof(GUID) == sizeof a + sizeof b);
    std::memcpy(&a, &g, 8);
    std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
    return std::hash<std::uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
}

}  // namespace com

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
    if (buffer == nullptr || cchMax < 39) return 0;
    const std::u16string text = com::formatGuidWide(guid);
    std::memcpy(buffer, text.data(), text.size() * sizeof(OLECHAR));
    buffer[text.size()] = 0;
    return static_cast<int>(text.size()) + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (clsid == nullptr) return E_INVALIDARG;
    if (text == nullptr) {
        *clsid = GUID_NULL;
        return S_OK;
    }
    // Bounded scan: a GUID text is 38 characters, anything longer is not one.
    std::size_t length = 0;
    while (length <= 38 && text[length] != 0) ++length;
    const auto g = length == 38 ? com::parseGuid(std::u16string_view(text, length)) : std::nullopt;
    if (!g) return CO_E_CLASSSTRING;
    *clsid = *g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    const HRESULT hr = CLSIDFromString(text, iid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}
