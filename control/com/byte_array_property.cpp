#include "control/com/byte_array_property.h"

#include <cstring>

#include "platform/com/safearray.h"

namespace morvane {
namespace {

const VARIANT& dereferenced(const VARIANT& value) {
    if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal != nullptr) return *value.pvarVal;
    return value;
}

ULONG elementSize(VARTYPE type) {
    switch (type) {
        case VT_I1:
        case VT_UI1: return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL: return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT: return 4;
        case VT_I8:
        case VT_UI8: return 8;
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

// The low byte of one element of an integer-typed array.
std::optional<std::uint8_t> lowByte(VARTYPE type, const std::uint8_t* element) {
    switch (type) {
        case VT_I1:
        case VT_UI1: return element[0];
        case VT_I2:
        case VT_UI2:
        case VT_BOOL: {
            std::uint16_t v;
            std::memcpy(&v, element, sizeof v);
            return static_cast<std::uint8_t>(v);
        }
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT: {
            std::uint32_t v;
            std::memcpy(&v, element, sizeof v);
            return static_cast<std::uint8_t>(v);
        }
        case VT_I8:
        case VT_UI8: {
            std::uint64_t v;
            std::memcpy(&v, element, sizeof v);
            return static_cast<std::uint8_t>(v);
        }
        default: return std::nullopt;
    }
}

std::optional<std::uint8_t> lowByteOfVariant(const VARIANT& element) {
    com::Variant number;
    if (FAILED(VariantChangeType(&number, &element, 0, VT_I4))) return std::nullopt;
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(number.lVal));
}

// The one-dimensional array a value holds, with the element type that
// counts: the array's own wins over what the variant claims, and its element
// size must be that type's, or the data cannot be walked.
struct OneDimensionalArray {
    SAFEARRAY* array = nullptr;
    VARTYPE elementType = VT_EMPTY;
    ULONG size = 0;
};

std::optional<OneDimensionalArray> oneDimensionalArray(const VARIANT& given) {
    const VARIANT& value = dereferenced(given);
    if ((value.vt & VT_ARRAY) == 0) return std::nullopt;
    SAFEARRAY* array = (value.vt & VT_BYREF) ? (value.pparray ? *value.pparray : nullptr) : value.parray;
    if (array == nullptr || SafeArrayGetDim(array) != 1) return std::nullopt;
    VARTYPE elementType = static_cast<VARTYPE>(value.vt & VT_TYPEMASK);
    if (VARTYPE own = 0; SUCCEEDED(SafeArrayGetVartype(array, &own))) elementType = own;
    const ULONG size = SafeArrayGetElemsize(array);
    if (size != elementSize(elementType)) return std::nullopt;
    return OneDimensionalArray{array, elementType, size};
}

}  // namespace

bool useBytesInPlace(const VARIANT& value, const std::function<void(std::span<const std::uint8_t>)>& use) {
    const std::optional<OneDimensionalArray> found = oneDimensionalArray(value);
    if (!found || (found->elementType != VT_UI1 && found->elementType != VT_I1)) return false;
    com::SafeArrayAccess access(found->array);
    if (!access.ok()) return false;
    use({static_cast<const std::uint8_t*>(access.data()), found->array->rgsabound[0].cElements});
    return true;
}

std::optional<std::string> bytesFromVariant(const VARIANT& value) {
    const std::optional<OneDimensionalArray> found = oneDimensionalArray(value);
    if (!found) return std::nullopt;
    SAFEARRAY* const array = found->array;
    const VARTYPE elementType = found->elementType;
    const ULONG size = found->size;
    const ULONG count = array->rgsabound[0].cElements;
    com::SafeArrayAccess access(array);
    if (!access.ok()) return std::nullopt;
    const auto* data = static_cast<const std::uint8_t*>(access.data());

    std::string bytes;
    bytes.reserve(count);
    if (elementType == VT_UI1 || elementType == VT_I1) {
        bytes.assign(reinterpret_cast<const char*>(data), count);
        return bytes;
    }
    for (ULONG i = 0; i < count; ++i) {
        const std::uint8_t* element = data + static_cast<std::size_t>(i) * size;
        const std::optional<std::uint8_t> byte = elementType == VT_VARIANT
                                                     ? lowByteOfVariant(*reinterpret_cast<const VARIANT*>(element))
                                                     : lowByte(elementType, element);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<char>(*byte));
    }
    return bytes;
}

HRESULT variantFromBytes(std::span<const std::uint8_t> bytes, VARIANT& out) {
    VariantInit(&out);
    SAFEARRAY* array = com::byteArrayFrom(bytes);
    if (array == nullptr) return E_OUTOFMEMORY;
    out.vt = VT_ARRAY | VT_UI1;
    out.parray = array;
    return S_OK;
}

}  // namespace morvane
