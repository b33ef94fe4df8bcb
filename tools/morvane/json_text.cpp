#include "tools/morvane/json_text.h"

#include <cstdio>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/text/code_page.h"

namespace morvane::cli {

std::string jsonString(std::string_view utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                    out += escaped;
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
    return out;
}

std::string jsonString(std::u16string_view utf16) { return jsonString(codepage::utf16ToUtf8(utf16)); }

bool isByteArray(const VARIANT& value) {
    return value.vt == (VT_ARRAY | VT_UI1) && value.parray != nullptr && SafeArrayGetDim(value.parray) == 1;
}

std::string hexOfBytes(const VARIANT& value) {
    if (!isByteArray(value)) return {};
    const auto* data = static_cast<const unsigned char*>(value.parray->pvData);
    const ULONG count = value.parray->rgsabound[0].cElements;
    std::string hex;
    hex.reserve(count * 2);
    static constexpr char digits[] = "0123456789abcdef";
    for (ULONG i = 0; i < count; ++i) {
        hex.push_back(digits[data[i] >> 4]);
        hex.push_back(digits[data[i] & 0xF]);
    }
    return hex;
}

std::string jsonValue(const VARIANT& value) {
    const VARIANT* v = &value;
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) v = v->pvarVal;
    switch (v->vt) {
        case VT_EMPTY:
        case VT_NULL: return "null";
        case VT_BSTR: return jsonString(com::bstrView(v->bstrVal));
        case VT_BYREF | VT_BSTR: return jsonString(com::bstrView(v->pbstrVal ? *v->pbstrVal : nullptr));
        case VT_BOOL: return v->boolVal ? "true" : "false";
        case VT_BYREF | VT_BOOL: return (v->pboolVal && *v->pboolVal) ? "true" : "false";
        case VT_I1: return std::to_string(v->cVal);
        case VT_UI1: return std::to_string(v->bVal);
        case VT_I2: return std::to_string(v->iVal);
        case VT_BYREF | VT_I2: return std::to_string(v->piVal ? *v->piVal : 0);
        case VT_UI2: return std::to_string(v->uiVal);
        case VT_I4:
        case VT_INT: return std::to_string(v->lVal);
        case VT_BYREF | VT_I4: return std::to_string(v->plVal ? *v->plVal : 0);
        case VT_UI4:
        case VT_UINT: return std::to_string(v->ulVal);
        case VT_I8: return std::to_string(v->llVal);
        case VT_UI8: return std::to_string(v->ullVal);
        case VT_R4: return std::to_string(v->fltVal);
        case VT_R8: return std::to_string(v->dblVal);
        default: return "null";
    }
}

std::string hresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace morvane::cli
