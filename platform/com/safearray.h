// SAFEARRAY with the Windows layout and the oleaut32 functions over it.
//
// Ownership follows automation: SafeArrayDestroy frees the elements (BSTRs,
// VARIANTs, interface references) with the array, and refuses while the array
// is locked (SafeArrayAccessData and SafeArrayLock lock it). Bounds are given
// left-most dimension first, as to SafeArrayCreate; in the descriptor they are
// stored in reverse, as Windows stores them.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "platform/com/variant.h"

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
};

inline constexpr USHORT FADF_AUTO = 0x0001;
inline constexpr USHORT FADF_STATIC = 0x0002;
inline constexpr USHORT FADF_EMBEDDED = 0x0004;
inline constexpr USHORT FADF_FIXEDSIZE = 0x0010;
inline constexpr USHORT FADF_RECORD = 0x0020;
inline constexpr USHORT FADF_HAVEIID = 0x0040;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;

// Element types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT,
// VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_ERROR,
// VT_BSTR, VT_VARIANT, VT_UNKNOWN, VT_DISPATCH. Null for anything else, for
// zero dimensions, or when the size does not fit in memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
// `dimension` counts from 1 (the left-most); DISP_E_BADINDEX outside.
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayLock(SAFEARRAY* array);
// E_UNEXPECTED when the array is not locked.
HRESULT SafeArrayUnlock(SAFEARRAY* array);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
// Indices left-most first. Get hands out a copy (new BSTR, AddRef, copied
// VARIANT) the caller owns; Put stores a copy and frees what was there.
HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, void* value);
// A deep copy; *copy is null for a null array.
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);

namespace com {

// Owns one SAFEARRAY.
class SafeArrayPtr {
public:
    SafeArrayPtr() = default;
    explicit SafeArrayPtr(SAFEARRAY* array) : a_(array) {}
    SafeArrayPtr(SafeArrayPtr&& other) noexcept : a_(std::exchange(other.a_, nullptr)) {}
    SafeArrayPtr& operator=(SafeArrayPtr&& other) noexcept {
        std::swap(a_, other.a_);
        return *this;
    }
    ~SafeArrayPtr() { SafeArrayDestroy(a_); }
    SAFEARRAY* get() const { return a_; }
    SAFEARRAY* detach() { return std::exchange(a_, nullptr); }
    SAFEARRAY** put() {
        SafeArrayDestroy(std::exchange(a_, nullptr));
        return &a_;
    }
    explicit operator bool() const { return a_ != nullptr; }

private:
    SAFEARRAY* a_ = nullptr;
};

// A one-dimensional VT_UI1 array with lower bound 0 holding `bytes`.
SAFEARRAY* byteArrayFrom(std::span<const std::uint8_t> bytes);

// Locks an array for direct access to its data while in scope.
class SafeArrayAccess {
public:
    explicit SafeArrayAccess(SAFEARRAY* array) : a_(array) {
        if (FAILED(SafeArrayAccessData(a_, &data_))) {
            a_ = nullptr;
            data_ = nullptr;
        }
    }
    SafeArrayAccess(const SafeArrayAccess&) = delete;
    SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;
    ~SafeArrayAccess() {
        if (a_) SafeArrayUnaccessData(a_);
    }
    bool ok() const { return a_ != nullptr; }
    void* data() const { return data_; }

private:
    SAFEARRAY* a_;
    void* data_ = nullptr;
};

}  // namespace com
