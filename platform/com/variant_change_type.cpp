// VariantChangeType: the coercions a late-binding caller relies on when it
// passes "5" for a Long, True for an Integer or 2.5 for a Byte.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "platform/com/variant_detail.h"

namespace {

__extension__ using Int128 = __int128;

// How deep a chain of objects' value properties is followed.
constexpr int kMaxValueDepth = 4;
// Dates Windows accepts: 1 January 100 to 31 December 9999.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDateExclusive = 2958466.0;

struct Number {
    enum class Kind { integer, real, currency } kind = Kind::integer;
    Int128 i = 0;
    double d = 0;
    LONGLONG cy = 0;
    bool fromBool = false;
};

struct Range {
    Int128 lo;
    Int128 hi;
    bool isUnsigned;
};

bool integerRange(VARTYPE vt, Range& r) {
    switch (vt) {
        case VT_I1: r = {-128, 127, false}; return true;
        case VT_UI1: r = {0, 255, true}; return true;
        case VT_I2: r = {-32768, 32767, false}; return true;
        case VT_UI2: r = {0, 65535, true}; return true;
        case VT_I4:
        case VT_INT: r = {INT32_MIN, INT32_MAX, false}; return true;
        case VT_UI4:
        case VT_UINT: r = {0, UINT32_MAX, true}; return true;
        case VT_I8: r = {INT64_MIN, INT64_MAX, false}; return true;
        case VT_UI8: r = {0, UINT64_MAX, true}; return true;
        default: return false;
    }
}

std::u16string_view trim(std::u16string_view text) {
    auto isSpace = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// Decimal and real numbers with "." as the separator whatever the process
// locale, and Basic's "&H" (hex) and "&O" (octal) forms.
HRESULT parseNumber(std::u16string_view text, Number& n) {
    text = trim(text);
    if (text.empty() || text.size() > 400) return DISP_E_TYPEMISMATCH;
    std::string narrow;
    for (char16_t c : text) {
        if (c > 0x7F) return DISP_E_TYPEMISMATCH;
        narrow.push_back(static_cast<char>(c));
    }
    std::string_view s = narrow;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        ULONGLONG value = 0;
        const auto [end, ec] = std::from_chars(s.data() + 2, s.data() + s.size(), value, base);
        if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
        if (ec != std::errc{} || end != s.data() + s.size()) return DISP_E_TYPEMISMATCH;
        n.kind = Number::Kind::integer;
        n.i = negative ? -Int128{value} : Int128{value};
        return S_OK;
    }
    if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s.front())) || s.front() == '.')) {
        return DISP_E_TYPEMISMATCH;
    }
    ULONGLONG whole = 0;
    const auto [intEnd, intEc] = std::from_chars(s.data(), s.data() + s.size(), whole);
    if (intEc == std::errc{} && intEnd == s.data() + s.size()) {
        n.kind = Number::Kind::integer;
        n.i = negative ? -Int128{whole} : Int128{whole};
        return S_OK;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (ec != std::errc{} || end != s.data() + s.size()) return DISP_E_TYPEMISMATCH;
    n.kind = Number::Kind::real;
    n.d = negative ? -value : value;
    return S_OK;
}

HRESULT readNumber(const VARIANT& v, Number& n) {
    n = Number{};
    switch (v.vt) {
        case VT_EMPTY: n.i = 0; return S_OK;
        case VT_I1: n.i = static_cast<signed char>(v.cVal); return S_OK;
        case VT_UI1: n.i = v.bVal; return S_OK;
        case VT_I2: n.i = v.iVal; return S_OK;
        case VT_UI2: n.i = v.uiVal; return S_OK;
        case VT_I4:
        case VT_INT: n.i = v.lVal; return S_OK;
        case VT_UI4:
        case VT_UINT: n.i = v.ulVal; return S_OK;
        case VT_I8: n.i = v.llVal; return S_OK;
        case VT_UI8: n.i = v.ullVal; return S_OK;
        case VT_BOOL:
            n.i = v.boolVal;
            n.fromBool = true;
            return S_OK;
        case VT_R4:
            n.kind = Number::Kind::real;
            n.d = v.fltVal;
            return S_OK;
        case VT_R8:
        case VT_DATE:
            n.kind = Number::Kind::real;
            n.d = v.vt == VT_R8 ? v.dblVal : v.date;
            return S_OK;
        case VT_CY:
            n.kind = Number::Kind::currency;
            n.cy = v.cyVal.int64;
            return S_OK;
        case VT_BSTR: return parseNumber(com::bstrView(v.bstrVal), n);
        default: return DISP_E_TYPEMISMATCH;
    }
}

double asDouble(const Number& n) {
    switch (n.kind) {
        case Number::Kind::integer: return static_cast<double>(n.i);
        case Number::Kind::real: return n.d;
        case Number::Kind::currency: return static_cast<double>(n.cy) / 10000.0;
    }
    return 0;
}

bool isZero(const Number& n) {
    switch (n.kind) {
        case Number::Kind::integer: return n.i == 0;
        case Number::Kind::real: return n.d == 0;
        case Number::Kind::currency: return n.cy == 0;
    }
    return true;
}

// Halves go to the even neighbour, as Basic's conversions do.
HRESULT toInteger(const Number& n, const Range& r, Int128& out) {
    if (n.fromBool && r.isUnsigned) {
        out = n.i == 0 ? 0 : r.hi;
        return S_OK;
    }
    Int128 value = 0;
    switch (n.kind) {
        case Number::Kind::integer: value = n.i; break;
        case Number::Kind::real: {
            if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
            const double rounded = std::nearbyint(n.d);
            if (rounded < static_cast<double>(r.lo) || rounded >= static_cast<double>(r.hi + 1)) return DISP_E_OVERFLOW;
            value = static_cast<Int128>(rounded);
            break;
        }
        case Number::Kind::currency: {
            Int128 q = n.cy / 10000;
            const Int128 twiceRem = (n.cy % 10000) * 2;
            if (twiceRem > 10000 || (twiceRem == 10000 && (q & 1))) ++q;
            if (twiceRem < -10000 || (twiceRem == -10000 && (q & 1))) --q;
            value = q;
            break;
        }
    }
    if (value < r.lo || value > r.hi) return DISP_E_OVERFLOW;
    out = value;
    return S_OK;
}

HRESULT toCurrency(const Number& n, LONGLONG& out) {
    Int128 scaled = 0;
    switch (n.kind) {
        case Number::Kind::currency: out = n.cy; return S_OK;
        case Number::Kind::integer: scaled = n.i * 10000; break;
        case Number::Kind::real: {
            if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
            const double rounded = std::nearbyint(n.d * 10000.0);
            if (rounded < -9.2233720368547758e18 || rounded >= 9.2233720368547758e18) return DISP_E_OVERFLOW;
            scaled = static_cast<Int128>(rounded);
            break;
        }
    }
    if (scaled < INT64_MIN || scaled > INT64_MAX) return DISP_E_OVERFLOW;
    out = static_cast<LONGLONG>(scaled);
    return S_OK;
}

std::string formatReal(double value, int precision) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    std::string text(buffer, ec == std::errc{} ? end : buffer);
    for (char& c : text) {
        if (c == 'e') c = 'E';
    }
    return text;
}

std::string formatInteger(Int128 value) {
    if (value < 0) return "-" + std::to_string(static_cast<ULONGLONG>(-value));
    return std::to_string(static_cast<ULONGLONG>(value));
}

std::string formatCurrency(LONGLONG cy) {
    const bool negative = cy < 0;
    const Int128 magnitude = negative ? -Int128{cy} : Int128{cy};
    std::string text = formatInteger(magnitude / 10000);
    auto fraction = static_cast<unsigned>(magnitude % 10000);
    if (fraction != 0) {
        std::string digits = std::to_string(10000 + fraction).substr(1);
        while (digits.back() == '0') digits.pop_back();
        text += "." + digits;
    }
    return negative ? "-" + text : text;
}

HRESULT toText(const VARIANT& src, USHORT flags, std::string& out) {
    switch (src.vt) {
        case VT_EMPTY: out.clear(); return S_OK;
        case VT_BOOL:
            if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
                out = src.boolVal ? "True" : "False";
            } else {
                out = src.boolVal ? "-1" : "0";
            }
            return S_OK;
        case VT_R4: out = formatReal(src.fltVal, 7); return S_OK;
        case VT_R8: out = formatReal(src.dblVal, 15); return S_OK;
        case VT_CY: out = formatCurrency(src.cyVal.int64); return S_OK;
        default: break;
    }
    Number n;
    if (src.vt == VT_DATE || FAILED(readNumber(src, n)) || n.kind != Number::Kind::integer) return DISP_E_TYPEMISMATCH;
    out = formatInteger(n.i);
    return S_OK;
}

HRESULT textToBool(std::u16string_view text, bool& out) {
    const std::u16string_view t = trim(text);
    auto equalsIgnoringCase = [&](std::u16string_view word) {
        if (t.size() != word.size()) return false;
        for (std::size_t i = 0; i < t.size(); ++i) {
            char16_t c = t[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (equalsIgnoringCase(u"true") || equalsIgnoringCase(u"#true#")) {
        out = true;
        return S_OK;
    }
    if (equalsIgnoringCase(u"false") || equalsIgnoringCase(u"#false#")) {
        out = false;
        return S_OK;
    }
    Number n;
    const HRESULT hr = parseNumber(t, n);
    if (FAILED(hr)) return hr;
    out = !isZero(n);
    return S_OK;
}

void storeInteger(VARIANT& out, VARTYPE vt, Int128 value) {
    out.vt = vt;
    switch (vt) {
        case VT_I1: out.cVal = static_cast<CHAR>(value); break;
        case VT_UI1: out.bVal = static_cast<BYTE>(value); break;
        case VT_I2: out.iVal = static_cast<SHORT>(value); break;
        case VT_UI2: out.uiVal = static_cast<USHORT>(value); break;
        case VT_I4:
        case VT_INT: out.lVal = static_cast<LONG>(value); break;
        case VT_UI4:
        case VT_UINT: out.ulVal = static_cast<ULONG>(value); break;
        case VT_I8: out.llVal = static_cast<LONGLONG>(value); break;
        case VT_UI8: out.ullVal = static_cast<ULONGLONG>(value); break;
        default: break;
    }
}

bool isScalarTarget(VARTYPE vt) {
    Range r;
    return integerRange(vt, r) || vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DATE || vt == VT_BOOL ||
           vt == VT_BSTR || vt == VT_EMPTY || vt == VT_NULL || vt == VT_ERROR || vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

// `src` holds no reference; `out` receives a value it owns.
HRESULT convert(const VARIANT& src, VARTYPE vt, USHORT flags, LCID lcid, VARIANT& out, int depth) {
    VariantInit(&out);
    if (src.vt == vt) return VariantCopy(&out, &src);
    if (vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if (!isScalarTarget(vt)) return DISP_E_BADVARTYPE;
    if (vt == VT_EMPTY) return S_OK;
    if (src.vt & VT_ARRAY || src.vt == VT_NULL || vt == VT_NULL) return DISP_E_TYPEMISMATCH;

    if (src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) {
        if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
            out.vt = vt;
            if (src.punkVal == nullptr) return S_OK;
            const HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                                           reinterpret_cast<void**>(&out.punkVal));
            if (FAILED(hr)) {
                VariantInit(&out);
                return DISP_E_TYPEMISMATCH;
            }
            return S_OK;
        }
        if (src.vt == VT_UNKNOWN || src.pdispVal == nullptr || (flags & VARIANT_NOVALUEPROP) ||
            depth >= kMaxValueDepth) {
            return DISP_E_TYPEMISMATCH;
        }
        com::Variant value;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        const HRESULT hr =
            src.pdispVal->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
        return convert(value, vt, flags, lcid, out, depth + 1);
    }
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
        out.vt = vt;  // a null reference
        return S_OK;
    }
    if (vt == VT_ERROR || src.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;

    if (vt == VT_BSTR) {
        std::string text;
        const HRESULT hr = toText(src, flags, text);
        if (FAILED(hr)) return hr;
        BSTR result = com::allocBstr(std::u16string(text.begin(), text.end()));
        if (result == nullptr) return E_OUTOFMEMORY;
        out.vt = VT_BSTR;
        out.bstrVal = result;
        return S_OK;
    }
    if (vt == VT_BOOL && src.vt == VT_BSTR) {
        bool value = false;
        const HRESULT hr = textToBool(com::bstrView(src.bstrVal), value);
        if (FAILED(hr)) return hr;
        out.vt = VT_BOOL;
        out.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    if (src.vt == VT_BSTR && vt == VT_DATE) return DISP_E_TYPEMISMATCH;

    Number n;
    const HRESULT hr = readNumber(src, n);
    if (FAILED(hr)) return hr;
    Range range;
    if (integerRange(vt, range)) {
        Int128 value = 0;
        const HRESULT converted = toInteger(n, range, value);
        if (FAILED(converted)) return converted;
        storeInteger(out, vt, value);
        return S_OK;
    }
    switch (vt) {
        case VT_BOOL:
            out.vt = VT_BOOL;
            out.boolVal = isZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        case VT_R8:
            out.vt = VT_R8;
            out.dblVal = asDouble(n);
            return S_OK;
        case VT_R4: {
            const double d = asDouble(n);
            if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
            out.vt = VT_R4;
            out.fltVal = static_cast<float>(d);
            return S_OK;
        }
        case VT_DATE: {
            const double d = asDouble(n);
            if (!(d >= kMinDate && d < kMaxDateExclusive)) return DISP_E_OVERFLOW;
            out.vt = VT_DATE;
            out.date = d;
            return S_OK;
        }
        case VT_CY: {
            LONGLONG cy = 0;
            const HRESULT converted = toCurrency(n, cy);
            if (FAILED(converted)) return converted;
            out.vt = VT_CY;
            out.cyVal.int64 = cy;
            return S_OK;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (!com::isValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
    if (vt & VT_BYREF) return DISP_E_BADVARTYPE;
    VARIANT value;
    HRESULT hr = com::detail::readThrough(src, value);
    if (FAILED(hr)) return hr;
    VARIANT result;
    hr = convert(value, vt, flags, lcid, result, 0);
    if (FAILED(hr)) return hr;
    // Only now may the destination (which can be the source) let go of its value.
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
    return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}
