// ITypeLib and ITypeInfo over a TypeLibraryDescription, so that type browsers,
// late-binding hosts and a control's IProvideClassInfo see the same members
// that Invoke serves. The structures have the binary layout callers on the
// other side of a vtable expect; only what such callers read is filled in.
//
// The library hands out one ITypeInfo per type, in this order: the
// interfaces, then the classes, then the enumerations of the description.
// A dispatch interface lists its members as FUNC_DISPATCH functions in
// description order; a by-reference parameter is a VT_PTR to its type, and
// a parameter or result naming an enumeration is VT_USERDEFINED, whose
// HREFTYPE is the enumeration's index among the library's types.
#pragma once

#include <memory>

#include "platform/com/dispatch.h"
#include "platform/com/type_description.h"

inline constexpr IID IID_ITypeInfo = com::makeGuid("{00020401-0000-0000-C000-000000000046}");
inline constexpr IID IID_ITypeLib = com::makeGuid("{00020402-0000-0000-C000-000000000046}");
inline constexpr IID IID_ITypeComp = com::makeGuid("{00020403-0000-0000-C000-000000000046}");
inline constexpr IID IID_IProvideClassInfo = com::makeGuid("{B196B283-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IProvideClassInfo2 = com::makeGuid("{A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851}");

inline constexpr HRESULT TYPE_E_BADMODULEKIND = hr32(0x800288BD);

inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

enum TYPEKIND : INT {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
};
enum FUNCKIND : INT { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND : INT { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8 };
enum CALLCONV : INT { CC_FASTCALL = 0, CC_CDECL = 1, CC_MSCPASCAL = 2, CC_MACPASCAL = 3, CC_STDCALL = 4 };
enum VARKIND : INT { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH };
enum SYSKIND : INT { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };
enum DESCKIND : INT { DESCKIND_NONE = 0, DESCKIND_FUNCDESC, DESCKIND_VARDESC, DESCKIND_TYPECOMP };

inline constexpr USHORT PARAMFLAG_NONE = 0x00;
inline constexpr USHORT PARAMFLAG_FIN = 0x01;
inline constexpr USHORT PARAMFLAG_FOUT = 0x02;
inline constexpr USHORT PARAMFLAG_FRETVAL = 0x08;
inline constexpr USHORT PARAMFLAG_FOPT = 0x10;

inline constexpr WORD TYPEFLAG_FCANCREATE = 0x2;
inline constexpr WORD TYPEFLAG_FHIDDEN = 0x10;
inline constexpr WORD TYPEFLAG_FCONTROL = 0x20;
inline constexpr WORD TYPEFLAG_FDUAL = 0x40;
inline constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
inline constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;

inline constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1;
inline constexpr INT IMPLTYPEFLAG_FSOURCE = 0x2;

inline constexpr WORD FUNCFLAG_FRESTRICTED = 0x1;
inline constexpr WORD FUNCFLAG_FHIDDEN = 0x40;

inline constexpr WORD LIBFLAG_FCONTROL = 0x2;

inline constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

struct ARRAYDESC;

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;  // VT_PTR, VT_SAFEARRAY
        ARRAYDESC* lpadesc;
        HREFTYPE hreftype;  // VT_USERDEFINED
    };
    VARTYPE vt;
};

struct IDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
};

struct PARAMDESCEX;

struct PARAMDESC {
    PARAMDESCEX* pparamdescex;
    USHORT wParamFlags;
};

struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};

struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};

struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct VARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    union {
        ULONG oInst;
        VARIANT* lpvarValue;  // VAR_CONST
    };
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

struct ITypeComp;
struct ITypeLib;

struct ITypeInfo : IUnknown {
    static constexpr const IID& uuid = IID_ITypeInfo;

    virtual HRESULT GetTypeAttr(TYPEATTR** attributes) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** desc) = 0;
    virtual HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* flags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    virtual HRESULT Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argumentError) = 0;
    virtual HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext, BSTR* helpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dllName, BSTR* name, WORD* ordinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** typeInfo) = 0;
    virtual HRESULT AddressOfMember(MEMBERID id, INVOKEKIND kind, PVOID* address) = 0;
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, PVOID* object) = 0;
    virtual HRESULT GetMops(MEMBERID id, BSTR* mops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** library, UINT* index) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* attributes) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
    virtual void ReleaseVarDesc(VARDESC* desc) = 0;

protected:
    ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
    static constexpr const IID& uuid = IID_ITypeLib;

    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** typeInfo) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** typeInfo) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** attributes) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
    virtual HRESULT GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext, BSTR* helpFile) = 0;
    virtual HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) = 0;
    virtual HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** typeInfos, MEMBERID* ids, USHORT* found) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* attributes) = 0;

protected:
    ~ITypeLib() = default;
};

struct IProvideClassInfo : IUnknown {
    static constexpr const IID& uuid = IID_IProvideClassInfo;

    virtual HRESULT GetClassInfo(ITypeInfo** typeInfo) = 0;

protected:
    ~IProvideClassInfo() = default;
};

struct IProvideClassInfo2 : IProvideClassInfo {
    static constexpr const IID& uuid = IID_IProvideClassInfo2;

    virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;

protected:
    ~IProvideClassInfo2() = default;
};

namespace com {

// A new ITypeLib over `description`, which must outlive it (descriptions are
// static tables). `keepAlive` is held until the library and every ITypeInfo
// taken from it are released: a server passes its module lock here, so that
// it is not unloaded while a host still reads its tables.
HRESULT createTypeLibrary(const TypeLibraryDescription& description, ITypeLib** library,
                          std::shared_ptr<const void> keepAlive = {});

// The ITypeInfo of the type with that GUID (interface or class) of a new
// library; TYPE_E_ELEMENTNOTFOUND when there is none.
HRESULT typeInfoOfGuid(const TypeLibraryDescription& description, REFGUID guid, ITypeInfo** typeInfo,
                       std::shared_ptr<const void> keepAlive = {});

}  // namespace com
