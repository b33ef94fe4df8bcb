#include "platform/com/safearray.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The descriptor is preceded by this much room; the element VARTYPE lives in
// its last four bytes, where Windows keeps it too.
constexpr std::size_t kPrefix = 16;
// Larger arrays than this are refused rather than risked.
constexpr std::size_t kMaxDataBytes = 0x7FFFFFFF;

ULONG elementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1: return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL: return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR: return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE: return 8;
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH: return sizeof(void*);
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

USHORT featuresFor(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: return FADF_BSTR;
        case VT_UNKNOWN: return FADF_UNKNOWN;
        case VT_DISPATCH: return FADF_DISPATCH;
        case VT_VARIANT: return FADF_VARIANT;
        default: return 0;
    }
}

VARTYPE* storedType(SAFEARRAY* array) {
    return reinterpret_cast<VARTYPE*>(reinterpret_cast<char*>(array) - sizeof(DWORD));
}

// Bounds of dimension `d` counted left-most first.
SAFEARRAYBOUND& boundOf(SAFEARRAY* array, UINT d) { return array->rgsabound[array->cDims - 1 - d]; }

bool elementCount(SAFEARRAY* array, std::size_t& count) {
    count = 1;
    for (UINT d = 0; d < array->cDims; ++d) {
        const std::size_t n = array->rgsabound[d].cElements;
        if (n != 0 && count > kMaxDataBytes / n) return false;
        count *= n;
    }
    return true;
}

bool elementType(SAFEARRAY* array, VARTYPE& vt) {
    if (array->fFeatures & FADF_HAVEVARTYPE) {
        vt = *storedType(array);
        return true;
    }
    if (array->fFeatures & FADF_BSTR)
        vt = VT_BSTR;
    else if (array->fFeatures & FADF_UNKNOWN)
        vt = VT_UNKNOWN;
    else if (array->fFeatures & FADF_DISPATCH)
        vt = VT_DISPATCH;
    else if (array->fFeatures & FADF_VARIANT)
        vt = VT_VARIANT;
    else
        return false;
    return true;
}

void releaseElements(SAFEARRAY* array) {
    // Plain data (bytes, numbers) owns nothing; a megabyte of it must not be
    // walked element by element on every release.
    if (array->pvData == nullptr || !(array->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT))) {
        return;
    }
    std::size_t count = 0;
    if (!elementCount(array, count)) return;
    auto* data = static_cast<char*>(array->pvData);
    for (std::size_t i = 0; i < count; ++i) {
        char* element = data + i * array->cbElements;
        if (array->fFeatures & FADF_BSTR) {
            SysFreeString(*reinterpret_cast<BSTR*>(element));
            *reinterpret_cast<BSTR*>(element) = nullptr;
        } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            if (auto* unknown = *reinterpret_cast<IUnknown**>(element)) unknown->Release();
            *reinterpret_cast<IUnknown**>(element) = nullptr;
        } else if (array->fFeatures & FADF_VARIANT) {
            VariantClear(reinterpret_cast<VARIANT*>(element));
        }
    }
}

HRESULT cellOffset(SAFEARRAY* array, const LONG* indices, std::size_t& offset) {
    if (array == nullptr || indices == nullptr) return E_INVALIDARG;
    std::size_t cell = 0;
    std::size_t stride = 1;
    // The left-most index varies fastest.
    for (UINT d = 0; d < array->cDims; ++d) {
        const SAFEARRAYBOUND& b = boundOf(array, d);
        const std::int64_t i = std::int64_t{indices[d]} - b.lLbound;
        if (i < 0 || i >= std::int64_t{b.cElements}) return DISP_E_BADINDEX;
        cell += static_cast<std::size_t>(i) * stride;
        stride *= b.cElements;
    }
    offset = cell * array->cbElements;
    return S_OK;
}

// Copies one element into fresh storage the destination owns.
HRESULT copyElement(SAFEARRAY* array, const void* from, void* to) {
    if (array->fFeatures & FADF_BSTR) {
        const BSTR source = *static_cast<const BSTR*>(from);
        BSTR copy = nullptr;
        if (source != nullptr) {
            copy = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
            if (copy == nullptr) return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(to) = copy;
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* unknown = *static_cast<IUnknown* const*>(from);
        if (unknown) unknown->AddRef();
        *static_cast<IUnknown**>(to) = unknown;
    } else if (array->fFeatures & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT*>(to));
        return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(from));
    } else {
        std::memcpy(to, from, array->cbElements);
    }
    return S_OK;
}

}  // namespace

namespace {

// SafeArrayCreate, with the choice of leaving the data unzeroed for a caller
// that overwrites all of it at once.
SAFEARRAY* createArray(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds, bool zeroed) {
    const ULONG size = elementSize(vt);
    if (size == 0 || cDims == 0 || cDims > 0xFFFF || bounds == nullptr) return nullptr;
    const std::size_t descriptor = offsetof(SAFEARRAY, rgsabound) + std::size_t{cDims} * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<char*>(std::calloc(1, kPrefix + descriptor));
    if (block == nullptr) return nullptr;
    auto* array = reinterpret_cast<SAFEARRAY*>(block + kPrefix);
    array->cDims = static_cast<USHORT>(cDims);
    array->fFeatures = static_cast<USHORT>(FADF_HAVEVARTYPE | featuresFor(vt));
    array->cbElements = size;
    *storedType(array) = vt;
    for (UINT d = 0; d < cDims; ++d) boundOf(array, d) = bounds[d];
    std::size_t count = 0;
    if (!elementCount(array, count) || count > kMaxDataBytes / size) {
        std::free(block);
        return nullptr;
    }
    if (count != 0) {
        array->pvData = zeroed ? std::calloc(count, size) : std::malloc(count * size);
        if (array->pvData == nullptr) {
            std::free(block);
            return nullptr;
        }
    }
    return array;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
    return createArray(vt, cDims, bounds, true);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
    const SAFEARRAYBOUND bound{elements, lowerBound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (array == nullptr) return S_OK;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    releaseElements(array);
    // Arrays whose memory someone else provided keep it.
    if (array->fFeatures & (FADF_AUTO | FADF_STATIC | FADF_EMBEDDED)) return S_OK;
    std::free(array->pvData);
    std::free(reinterpret_cast<char*>(array) - kPrefix);
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array == nullptr ? 0 : array->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array == nullptr ? 0 : array->cbElements; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound) {
    if (array == nullptr || lowerBound == nullptr) return E_INVALIDARG;
    if (dimension < 1 || dimension > array->cDims) return DISP_E_BADINDEX;
    *lowerBound = boundOf(array, dimension - 1).lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound) {
    if (array == nullptr || upperBound == nullptr) return E_INVALIDARG;
    if (dimension < 1 || dimension > array->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = boundOf(array, dimension - 1);
    *upperBound = static_cast<LONG>(std::int64_t{b.lLbound} + std::int64_t{b.cElements} - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (array == nullptr || vt == nullptr) return E_INVALIDARG;
    return elementType(array, *vt) ? S_OK : E_INVALIDARG;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (array == nullptr) return E_INVALIDARG;
    if (array->cLocks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (array == nullptr) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (array == nullptr || data == nullptr) return E_INVALIDARG;
    const HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr)) return hr;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value) {
    if (value == nullptr) return E_INVALIDARG;
    std::size_t offset = 0;
    const HRESULT hr = cellOffset(array, indices, offset);
    if (FAILED(hr)) return hr;
    return copyElement(array, static_cast<char*>(array->pvData) + offset, value);
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, void* value) {
    std::size_t offset = 0;
    HRESULT hr = cellOffset(array, indices, offset);
    if (FAILED(hr)) return hr;
    char* cell = static_cast<char*>(array->pvData) + offset;
    // BSTR and interface elements are passed by value, everything else by address.
    const bool byValue = array->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH);
    if (value == nullptr && !byValue) return E_INVALIDARG;
    alignas(VARIANT) char fresh[sizeof(VARIANT)];
    hr = copyElement(array, byValue ? static_cast<const void*>(&value) : value, fresh);
    if (FAILED(hr)) return hr;
    if (array->fFeatures & FADF_BSTR) {
        SysFreeString(*reinterpret_cast<BSTR*>(cell));
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        if (auto* old = *reinterpret_cast<IUnknown**>(cell)) old->Release();
    } else if (array->fFeatures & FADF_VARIANT) {
        VariantClear(reinterpret_cast<VARIANT*>(cell));
    }
    std::memcpy(cell, fresh, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
    if (copy == nullptr) return E_INVALIDARG;
    *copy = nullptr;
    if (array == nullptr) return S_OK;
    VARTYPE vt = VT_EMPTY;
    if (!elementType(array, vt) || elementSize(vt) != array->cbElements) return E_INVALIDARG;
    std::vector<SAFEARRAYBOUND> bounds(array->cDims);
    for (UINT d = 0; d < array->cDims; ++d) bounds[d] = boundOf(array, d);
    const bool plain = (array->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)) == 0;
    SAFEARRAY* result = createArray(vt, array->cDims, bounds.data(), !plain);
    if (result == nullptr) return E_OUTOFMEMORY;
    std::size_t count = 0;
    elementCount(array, count);
    if (plain) {
        // Plain values: one copy of the whole block.
        if (count != 0) std::memcpy(result->pvData, array->pvData, count * array->cbElements);
        *copy = result;
        return S_OK;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t offset = i * array->cbElements;
        const HRESULT hr =
            copyElement(array, static_cast<char*>(array->pvData) + offset, static_cast<char*>(result->pvData) + offset);
        if (FAILED(hr)) {
            SafeArrayDestroy(result);
            return hr;
        }
    }
    *copy = result;
    return S_OK;
}

namespace com {

SAFEARRAY* byteArrayFrom(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxDataBytes) return nullptr;
    const SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
    SAFEARRAY* array = createArray(VT_UI1, 1, &bound, false);
    if (array != nullptr && !bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
    return array;
}

}  // namespace com
