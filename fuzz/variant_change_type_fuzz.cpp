// Strings handed to a late-bound member are converted by VariantChangeType:
// no input may crash it, and a number it reads must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/com/variant.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, size / 2 * 2);
    const com::Variant source(text);
    for (VARTYPE vt : {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT, VT_R4, VT_R8, VT_CY,
                       VT_DATE, VT_BOOL, VT_BSTR, VT_ERROR, VT_DISPATCH, VT_EMPTY}) {
        com::Variant converted;
        if (FAILED(VariantChangeType(&converted, &source, 0, vt))) continue;
        if (vt != VT_I4 && vt != VT_I8) continue;
        com::Variant asText;
        if (FAILED(VariantChangeType(&asText, &converted, 0, VT_BSTR))) std::abort();
        com::Variant back;
        if (FAILED(VariantChangeType(&back, &asText, 0, vt)) || back.llVal != converted.llVal) std::abort();
    }
    return 0;
}
