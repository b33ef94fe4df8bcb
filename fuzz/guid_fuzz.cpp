// GUID texts come from registry files and command lines: every input either
// is refused or formats back to the same GUID.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/guid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto guid = com::parseGuid(text)) {
        const std::string formatted = com::formatGuid(*guid);
        if (com::parseGuid(std::string_view(formatted)) != guid) std::abort();
    }
    std::u16string wide(size / 2 + 1, u'\0');
    std::memcpy(wide.data(), data, size / 2 * 2);
    wide.resize(size / 2);
    CLSID clsid{};
    if (CLSIDFromString(wide.c_str(), &clsid) == S_OK && com::parseGuid(wide) != clsid) std::abort();
    return 0;
}
