#include "platform/com/variant.h"

#include <cstring>

#include "platform/com/dispatch.h"
#include "platform/com/safearray.h"
#include "platform/com/variant_detail.h"

namespace com {

bool isValidVariantType(VARTYPE vt) {
    if ((vt & VT_ARRAY) && (vt & VT_TYPEMASK) == VT_EMPTY) return false;
    if ((vt & ~(VT_ARRAY | VT_BYREF | VT_TYPEMASK)) != 0) return false;
    switch (vt & VT_TYPEMASK) {
        case VT_EMPTY:
        case VT_NULL: return (vt & (VT_ARRAY | VT_BYREF)) == 0;
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT: return true;
        case VT_VARIANT:
            // A variant holds another variant only by reference or in an array.
            return (vt & (VT_ARRAY | VT_BYREF)) != 0;
        default: return false;
    }
}

Variant Variant::fromDispatch(IDispatch* object) {
    Variant v;
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    if (object) object->AddRef();
    return v;
}

Variant Variant::fromUnknown(IUnknown* object) {
    Variant v;
    v.vt = VT_UNKNOWN;
    v.punkVal = object;
    if (object) object->AddRef();
    return v;
}

Variant Variant::missing() { return fromError(DISP_E_PARAMNOTFOUND); }

}  // namespace com

namespace com::detail {

HRESULT readThrough(const VARIANT* src, VARIANT& shallow) {
    if (!(src->vt & VT_BYREF)) {
        shallow = *src;
        return S_OK;
    }
    if (src->byref == nullptr) return E_INVALIDARG;
    const auto type = static_cast<VARTYPE>(src->vt & ~VT_BYREF);
    VariantInit(&shallow);
    if (type == VT_VARIANT) {
        // A reference to a variant that is itself a reference is not allowed.
        if (src->pvarVal->vt & VT_BYREF) return E_INVALIDARG;
        shallow = *src->pvarVal;
    } else if (type & VT_ARRAY) {
        shallow.vt = type;
        shallow.parray = *src->pparray;
    } else {
        shallow.vt = type;
        std::size_t size = 0;
        switch (type) {
            case VT_I1:
            case VT_UI1: size = 1; break;
            case VT_I2:
            case VT_UI2:
            case VT_BOOL: size = 2; break;
            case VT_I4:
            case VT_UI4:
            case VT_INT:
            case VT_UINT:
            case VT_R4:
            case VT_ERROR: size = 4; break;
            case VT_I8:
            case VT_UI8:
            case VT_R8:
            case VT_CY:
            case VT_DATE: size = 8; break;
            case VT_BSTR:
            case VT_DISPATCH:
            case VT_UNKNOWN: size = sizeof(void*); break;
            default: return DISP_E_BADVARTYPE;
        }
        // Every member of the value union starts at its first byte.
        std::memcpy(&shallow.llVal, src->byref, size);
    }
    return S_OK;
}

}  // namespace com::detail

void VariantInit(VARIANTARG* v) {
    if (v == nullptr) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->brecord = {};
}

HRESULT VariantClear(VARIANTARG* v) {
    if (v == nullptr) return E_INVALIDARG;
    if (!com::isValidVariantType(v->vt)) return DISP_E_BADVARTYPE;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt & VT_ARRAY) {
            const HRESULT hr = SafeArrayDestroy(v->parray);
            if (FAILED(hr)) return hr;
        } else if (v->vt == VT_BSTR) {
            SysFreeString(v->bstrVal);
        } else if (v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) {
            if (v->punkVal) v->punkVal->Release();
        }
    }
    VariantInit(v);
    return S_OK;
}

namespace {

// A deep copy of `src` into `out`, which holds nothing yet.
HRESULT copyValue(VARIANT& out, const VARIANT& src) {
    out = src;
    if (src.vt & VT_BYREF) return S_OK;
    if (src.vt & VT_ARRAY) {
        out.parray = nullptr;
        const HRESULT hr = SafeArrayCopy(src.parray, &out.parray);
        if (FAILED(hr)) {
            VariantInit(&out);
            return hr;
        }
    } else if (src.vt == VT_BSTR && src.bstrVal != nullptr) {
        out.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src.bstrVal), SysStringByteLen(src.bstrVal));
        if (out.bstrVal == nullptr) {
            VariantInit(&out);
            return E_OUTOFMEMORY;
        }
    } else if ((src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) && src.punkVal) {
        src.punkVal->AddRef();
    }
    return S_OK;
}

}  // namespace

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!com::isValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy;
    const HRESULT hr = copyValue(copy, *src);
    if (FAILED(hr)) return hr;
    const HRESULT cleared = VariantClear(dest);
    if (FAILED(cleared)) {
        VariantClear(&copy);
        return cleared;
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (!com::isValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
    if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
    VARIANT shallow;
    const HRESULT read = com::detail::readThrough(src, shallow);
    if (FAILED(read)) return read;
    VARIANT copy;
    const HRESULT hr = copyValue(copy, shallow);
    if (FAILED(hr)) return hr;
    const HRESULT cleared = VariantClear(dest);
    if (FAILED(cleared)) {
        VariantClear(&copy);
        return cleared;
    }
    *dest = copy;
    return S_OK;
}
