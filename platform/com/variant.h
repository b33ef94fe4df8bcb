// VARIANT with the Windows x86-64 layout (24 bytes: the type, three reserved
// words, then the value), the functions that own and copy one, and an owning
// wrapper. The automation ownership rules hold: VariantClear frees a BSTR,
// releases an interface and destroys an array it holds, and never touches what
// a VT_BYREF variant points at.
#pragma once

#include <string_view>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

struct IDispatch;
struct SAFEARRAY;

using VARTYPE = std::uint16_t;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_RECORD = 36,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

// So that VT_BYREF | VT_I4 is a VARTYPE, usable in tables without casts.
constexpr VARTYPE operator|(VARENUM a, VARENUM b) {
    return static_cast<VARTYPE>(static_cast<VARTYPE>(a) | static_cast<VARTYPE>(b));
}

struct VariantRecord {
    PVOID pvRecord;
    PVOID pRecInfo;
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        VariantRecord brecord;
    };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 24);

// Flags of VariantChangeType.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

void VariantInit(VARIANTARG* v);
// DISP_E_BADVARTYPE for a type it does not know, DISP_E_ARRAYISLOCKED for a
// locked array; the variant is left as it was in both cases.
HRESULT VariantClear(VARIANTARG* v);
// Deep copy (new BSTR, AddRef, copied array); a VT_BYREF source is copied as
// the same reference.
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// As VariantCopy, but a VT_BYREF source is copied as the value it points at.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);

// Conversions between the scalar types (numbers, CY, DATE, BOOL, BSTR,
// EMPTY), from BSTR by parsing (locale-independent: "." decimal point, "&H"
// hexadecimal), and between IUnknown and IDispatch by QueryInterface. A
// VT_BYREF source is read through. A VT_DISPATCH source is read through its
// value property (DISPID 0) unless VARIANT_NOVALUEPROP is given.
// Out of range: DISP_E_OVERFLOW; not convertible: DISP_E_TYPEMISMATCH;
// unknown type: DISP_E_BADVARTYPE. DATE converts only to and from numbers.
// `dest` may be `src`; on failure `dest` is left untouched.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt);

namespace com {

// True for the types a VARIANT may carry (with VT_ARRAY / VT_BYREF).
bool isValidVariantType(VARTYPE vt);

// Owns one VARIANT; has the same layout, so an array of them is an array of
// VARIANTARGs (as DISPPARAMS wants).
class Variant : public VARIANT {
public:
    // What VariantInit does, inline: event arguments are made and dropped a
    // million times a second.
    Variant() { makeEmpty(); }
    explicit Variant(SHORT value) : Variant() { set(VT_I2).iVal = value; }
    explicit Variant(LONG value) : Variant() { set(VT_I4).lVal = value; }
    explicit Variant(LONGLONG value) : Variant() { set(VT_I8).llVal = value; }
    explicit Variant(BYTE value) : Variant() { set(VT_UI1).bVal = value; }
    explicit Variant(FLOAT value) : Variant() { set(VT_R4).fltVal = value; }
    explicit Variant(DOUBLE value) : Variant() { set(VT_R8).dblVal = value; }
    // VT_BSTR; the BSTR is null only when memory ran out.
    explicit Variant(std::u16string_view text) : Variant() { set(VT_BSTR).bstrVal = allocBstr(text); }

    static Variant fromBool(bool value) {
        Variant v;
        v.set(VT_BOOL).boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    // Adopts the BSTR.
    static Variant fromBstr(BSTR text) {
        Variant v;
        v.set(VT_BSTR).bstrVal = text;
        return v;
    }
    // Takes a reference of its own.
    static Variant fromDispatch(IDispatch* object);
    static Variant fromUnknown(IUnknown* object);
    // Adopts the array; `elementType` is its element type.
    static Variant fromArray(VARTYPE elementType, SAFEARRAY* array) {
        Variant v;
        v.set(static_cast<VARTYPE>(VT_ARRAY | elementType)).parray = array;
        return v;
    }
    static Variant fromError(SCODE code) {
        Variant v;
        v.set(VT_ERROR).scode = code;
        return v;
    }
    // The optional argument that was left out, as automation passes it.
    static Variant missing();
    // A VT_BYREF variant pointing at `target`, which must outlive it.
    static Variant byRef(VARTYPE type, void* target) {
        Variant v;
        v.set(static_cast<VARTYPE>(VT_BYREF | type)).byref = target;
        return v;
    }
    // Copies `source`; EMPTY when the copy fails.
    static Variant copyOf(const VARIANT& source) {
        Variant v;
        VariantCopy(&v, &source);
        return v;
    }
    // Adopts the contents of a VARIANT the caller owned.
    static Variant attach(VARIANT& source) {
        Variant v;
        static_cast<VARIANT&>(v) = source;
        VariantInit(&source);
        return v;
    }

    Variant(const Variant& other) : Variant() { VariantCopy(this, &other); }
    Variant(Variant&& other) noexcept : VARIANT(other) { other.makeEmpty(); }
    Variant& operator=(const Variant& other) {
        if (this != &other) VariantCopy(this, &other);
        return *this;
    }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            release();
            static_cast<VARIANT&>(*this) = other;
            other.makeEmpty();
        }
        return *this;
    }
    ~Variant() { release(); }

    HRESULT clear() { return VariantClear(this); }
    // Hands the contents to the caller (for [out, retval]) and becomes EMPTY.
    VARIANT detach() {
        VARIANT out = *this;
        VariantInit(this);
        return out;
    }
    HRESULT changeType(VARTYPE type, USHORT flags = 0) { return VariantChangeType(this, this, flags, type); }
    // For [out] parameters.
    VARIANT* put() {
        VariantClear(this);
        return this;
    }

private:
    // What VariantClear frees, without the call for the common cases: a
    // string, or nothing at all (a number or a reference).
    void release() {
        if (vt == VT_BSTR) {
            SysFreeString(bstrVal);
        } else if (holdsResource()) {
            VariantClear(this);
        }
    }
    void makeEmpty() {
        vt = VT_EMPTY;
        wReserved1 = wReserved2 = wReserved3 = 0;
        brecord = {};
    }
    bool holdsResource() const {
        if (vt & VT_BYREF) return false;
        return (vt & VT_ARRAY) != 0 || vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN;
    }
    VARIANT& set(VARTYPE type) {
        vt = type;
        return *this;
    }
};
static_assert(sizeof(Variant) == sizeof(VARIANT));

}  // namespace com
