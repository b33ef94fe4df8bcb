// IDispatch and what travels through Invoke, plus a caller's helper for late
// binding: names to DISPIDs, arguments given in declaration order, property
// puts with the named DISPID_PROPERTYPUT argument, and the exception record
// of a failed call.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/com/variant.h"

struct ITypeInfo;

inline constexpr IID IID_IDispatch = com::makeGuid("{00020400-0000-0000-C000-000000000046}");

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr DISPID DISPID_NEWENUM = -4;
inline constexpr DISPID DISPID_EVALUATE = -5;
inline constexpr DISPID DISPID_CONSTRUCTOR = -6;
inline constexpr DISPID DISPID_DESTRUCTOR = -7;
inline constexpr DISPID DISPID_ABOUTBOX = -552;
inline constexpr DISPID DISPID_AMBIENT_BACKCOLOR = -701;
inline constexpr DISPID DISPID_AMBIENT_DISPLAYNAME = -702;
inline constexpr DISPID DISPID_AMBIENT_FONT = -703;
inline constexpr DISPID DISPID_AMBIENT_FORECOLOR = -704;
inline constexpr DISPID DISPID_AMBIENT_LOCALEID = -705;
inline constexpr DISPID DISPID_AMBIENT_MESSAGEREFLECT = -706;
inline constexpr DISPID DISPID_AMBIENT_SCALEUNITS = -707;
inline constexpr DISPID DISPID_AMBIENT_TEXTALIGN = -708;
inline constexpr DISPID DISPID_AMBIENT_USERMODE = -709;
inline constexpr DISPID DISPID_AMBIENT_UIDEAD = -710;
inline constexpr DISPID DISPID_AMBIENT_SHOWGRABHANDLES = -711;
inline constexpr DISPID DISPID_AMBIENT_SHOWHATCHING = -712;

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// Arguments are stored last to first; named arguments come first.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

struct IDispatch : IUnknown {
    static constexpr const IID& uuid = IID_IDispatch;

    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argumentError) = 0;

protected:
    ~IDispatch() = default;
};

namespace com {

// An IDispatch reached by DISPID only, as event sinks and simple objects are:
// it offers no type information and knows no names.
class UntypedDispatch : public IDispatch {
public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** typeInfo) override {
        if (typeInfo != nullptr) *typeInfo = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }

protected:
    ~UntypedDispatch() = default;
};

// Owns the strings of an EXCEPINFO.
class ExcepInfo : public EXCEPINFO {
public:
    ExcepInfo() : EXCEPINFO{} {}
    ExcepInfo(const ExcepInfo&) = delete;
    ExcepInfo& operator=(const ExcepInfo&) = delete;
    ~ExcepInfo() { clear(); }
    void clear();
    // The error the call failed with: scode, or the code in wCode.
    HRESULT error() const;
};

// DISPID_UNKNOWN when the object does not know the name.
DISPID dispidOfName(IDispatch* object, std::u16string_view name, HRESULT* hr = nullptr);

// Calls `member` with `args` in declaration order (this reverses them). For a
// property put the last argument is the new value, passed as the named
// argument DISPID_PROPERTYPUT. `result` may be null, and is cleared before
// the call; `exception` receives the record when the call fails with
// DISP_E_EXCEPTION.
HRESULT invoke(IDispatch* object, DISPID member, WORD flags, std::span<VARIANT> args, VARIANT* result,
               ExcepInfo* exception = nullptr, UINT* argumentError = nullptr);
inline HRESULT invoke(IDispatch* object, DISPID member, WORD flags, std::span<Variant> args, VARIANT* result,
                      ExcepInfo* exception = nullptr, UINT* argumentError = nullptr) {
    return invoke(object, member, flags, std::span<VARIANT>(static_cast<VARIANT*>(args.data()), args.size()), result,
                  exception, argumentError);
}

}  // namespace com
