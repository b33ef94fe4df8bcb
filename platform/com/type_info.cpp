#include "platform/com/type_info.h"

#include <atomic>
#include <deque>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/creation.h"

namespace com {
namespace {

// Enumeration constants get member IDs of their own, distinct from every
// DISPID a dispatch interface is likely to use.
constexpr MEMBERID firstConstantId = 0x40000000;

std::u16string widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// Sets *out to a new BSTR of `text` (or null for an empty text), when the
// caller asked for it.
bool giveText(BSTR* out, std::string_view text) {
    if (out == nullptr) return true;
    *out = nullptr;
    if (text.empty()) return true;
    *out = allocBstr(widen(text));
    return *out != nullptr;
}

struct TypeEntry {
    TYPEKIND kind;
    const InterfaceDescription* itf = nullptr;
    const ClassDescription* cls = nullptr;
    const EnumDescription* enumeration = nullptr;

    const std::string& name() const { return itf ? itf->name : cls ? cls->name : enumeration->name; }
};

// What GetFuncDesc and GetVarDesc hand out: the structure first, then the
// storage its pointers refer to, freed in one piece by Release...Desc.
struct FuncBlock {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    std::deque<TYPEDESC> pointees;
};
struct VarBlock {
    VARDESC desc{};
    VARIANT value{};
};
static_assert(std::is_standard_layout_v<FuncBlock> && std::is_standard_layout_v<VarBlock>);

INVOKEKIND invokeKind(MemberKind kind) {
    switch (kind) {
        case MemberKind::method: return INVOKE_FUNC;
        case MemberKind::propertyGet: return INVOKE_PROPERTYGET;
        case MemberKind::propertyPut: return INVOKE_PROPERTYPUT;
        case MemberKind::propertyPutRef: return INVOKE_PROPERTYPUTREF;
    }
    return INVOKE_FUNC;
}

class TypeLibrary;

class TypeInfo final : public ITypeInfo {
public:
    TypeInfo(TypeLibrary& library, UINT index, TypeEntry entry) : library_(library), index_(index), entry_(entry) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ITypeInfo) {
            *object = static_cast<ITypeInfo*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** attributes) override;
    HRESULT GetTypeComp(ITypeComp** comp) override {
        if (comp) *comp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override;
    HRESULT GetVarDesc(UINT index, VARDESC** desc) override;
    HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override;
    HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
    HRESULT Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                   UINT* argumentError) override;
    HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext, BSTR* helpFile) override;
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dllName, BSTR* name, WORD* ordinal) override {
        if (dllName) *dllName = nullptr;
        if (name) *name = nullptr;
        if (ordinal) *ordinal = 0;
        return TYPE_E_BADMODULEKIND;
    }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** typeInfo) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID* address) override {
        if (address) *address = nullptr;
        return TYPE_E_BADMODULEKIND;
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, PVOID* object) override;
    HRESULT GetMops(MEMBERID, BSTR* mops) override {
        if (mops == nullptr) return E_INVALIDARG;
        *mops = nullptr;
        return S_OK;
    }
    HRESULT GetContainingTypeLib(ITypeLib** library, UINT* index) override;
    void ReleaseTypeAttr(TYPEATTR* attributes) override { delete attributes; }
    void ReleaseFuncDesc(FUNCDESC* desc) override { delete reinterpret_cast<FuncBlock*>(desc); }
    void ReleaseVarDesc(VARDESC* desc) override {
        if (desc == nullptr) return;
        auto* block = reinterpret_cast<VarBlock*>(desc);
        VariantClear(&block->value);
        delete block;
    }

    const TypeEntry& entry() const { return entry_; }

private:
    TYPEDESC typeOf(VARTYPE type, const std::string& typeName, std::deque<TYPEDESC>& pointees) const;
    // The member's index among the type's functions or constants, or -1.
    int memberIndex(MEMBERID id) const;

    TypeLibrary& library_;
    UINT index_;
    TypeEntry entry_;
};

class TypeLibrary final : public ITypeLib {
public:
    TypeLibrary(const TypeLibraryDescription& description, std::shared_ptr<const void> keepAlive)
        : description_(description), keepAlive_(std::move(keepAlive)) {
        std::vector<TypeEntry> entries;
        for (const auto& itf : description.interfaces) entries.push_back({TKIND_DISPATCH, &itf});
        for (const auto& cls : description.classes) entries.push_back({TKIND_COCLASS, nullptr, &cls});
        for (const auto& e : description.enums) entries.push_back({TKIND_ENUM, nullptr, nullptr, &e});
        types_.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            types_.push_back(std::make_unique<TypeInfo>(*this, static_cast<UINT>(i), entries[i]));
        }
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ITypeLib) {
            *object = static_cast<ITypeLib*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(types_.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** typeInfo) override {
        if (typeInfo == nullptr) return E_INVALIDARG;
        *typeInfo = nullptr;
        if (index >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *typeInfo = types_[index].get();
        (*typeInfo)->AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
        if (kind == nullptr) return E_INVALIDARG;
        if (index >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = types_[index]->entry().kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** typeInfo) override {
        if (typeInfo == nullptr) return E_INVALIDARG;
        *typeInfo = nullptr;
        for (std::size_t i = 0; i < types_.size(); ++i) {
            const TypeEntry& e = types_[i]->entry();
            if ((e.itf && e.itf->iid == guid) || (e.cls && e.cls->clsid == guid)) {
                return GetTypeInfo(static_cast<UINT>(i), typeInfo);
            }
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** attributes) override {
        if (attributes == nullptr) return E_INVALIDARG;
        *attributes = new (std::nothrow) TLIBATTR{description_.libid,        description_.lcid,         SYS_WIN64,
                                                  description_.majorVersion, description_.minorVersion, 0};
        return *attributes ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT GetTypeComp(ITypeComp** comp) override {
        if (comp) *comp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext, BSTR* helpFile) override {
        if (index == -1) {
            if (helpContext) *helpContext = 0;
            giveText(docString, {});
            if (!giveText(name, description_.name) || !giveText(helpFile, description_.helpFile)) {
                return E_OUTOFMEMORY;
            }
            return S_OK;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
        return types_[static_cast<std::size_t>(index)]->GetDocumentation(MEMBERID_NIL, name, docString, helpContext,
                                                                         helpFile);
    }
    HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
        if (name == nullptr || found == nullptr) return E_INVALIDARG;
        USHORT count = 1;
        MEMBERID id = 0;
        ITypeInfo* info = nullptr;
        const HRESULT hr = FindName(name, 0, &info, &id, &count);
        if (FAILED(hr)) return hr;
        if (info) info->Release();
        *found = count > 0 ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT FindName(LPOLESTR name, ULONG, ITypeInfo** typeInfos, MEMBERID* ids, USHORT* found) override {
        if (name == nullptr || typeInfos == nullptr || ids == nullptr || found == nullptr) return E_INVALIDARG;
        const std::u16string_view wanted(name);
        const USHORT room = *found;
        USHORT hits = 0;
        for (const auto& type : types_) {
            if (hits == room) break;
            const TypeEntry& e = type->entry();
            MEMBERID id = DISPID_UNKNOWN;
            bool match = namesEqual(wanted, e.name());
            if (match) id = MEMBERID_NIL;
            if (!match && e.itf) {
                if (const auto* member = e.itf->findByName(wanted)) {
                    match = true;
                    id = member->id;
                }
            }
            if (!match && e.enumeration) {
                for (std::size_t v = 0; v < e.enumeration->values.size() && !match; ++v) {
                    if (namesEqual(wanted, e.enumeration->values[v].first)) {
                        match = true;
                        id = firstConstantId + static_cast<MEMBERID>(v);
                    }
                }
            }
            if (!match) continue;
            typeInfos[hits] = type.get();
            type->AddRef();
            ids[hits] = id;
            ++hits;
        }
        *found = hits;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR* attributes) override { delete attributes; }

    const TypeLibraryDescription& description() const { return description_; }
    TypeInfo* type(std::size_t index) const { return index < types_.size() ? types_[index].get() : nullptr; }
    std::size_t enumIndex(const std::string& name) const {
        for (std::size_t i = 0; i < types_.size(); ++i) {
            if (types_[i]->entry().enumeration && types_[i]->entry().enumeration->name == name) return i;
        }
        return types_.size();
    }
    std::size_t typeIndexByName(const std::string& name) const {
        for (std::size_t i = 0; i < types_.size(); ++i) {
            if (types_[i]->entry().name() == name) return i;
        }
        return types_.size();
    }

private:
    ~TypeLibrary() = default;

    const TypeLibraryDescription& description_;
    std::shared_ptr<const void> keepAlive_;
    // The type infos are parts of the library: they count on its count, so
    // a host holding only a type info keeps the whole library.
    std::vector<std::unique_ptr<TypeInfo>> types_;
    std::atomic<ULONG> count_{0};
};

ULONG TypeInfo::AddRef() { return library_.AddRef(); }
ULONG TypeInfo::Release() { return library_.Release(); }

TYPEDESC TypeInfo::typeOf(VARTYPE type, const std::string& typeName, std::deque<TYPEDESC>& pointees) const {
    TYPEDESC base{};
    const VARTYPE plain = static_cast<VARTYPE>(type & ~VT_BYREF);
    const std::size_t enumIndex = typeName.empty() ? library_.GetTypeInfoCount() : library_.enumIndex(typeName);
    if (enumIndex < library_.GetTypeInfoCount()) {
        base.vt = VT_USERDEFINED;
        base.hreftype = static_cast<HREFTYPE>(enumIndex);
    } else {
        base.vt = plain == VT_EMPTY ? VARTYPE{VT_VOID} : plain;
    }
    if ((type & VT_BYREF) == 0) return base;
    pointees.push_back(base);
    TYPEDESC pointer{};
    pointer.vt = VT_PTR;
    pointer.lptdesc = &pointees.back();
    return pointer;
}

int TypeInfo::memberIndex(MEMBERID id) const {
    if (entry_.itf) {
        for (std::size_t i = 0; i < entry_.itf->members.size(); ++i) {
            if (entry_.itf->members[i].id == id) return static_cast<int>(i);
        }
    }
    if (entry_.enumeration) {
        const MEMBERID offset = id - firstConstantId;
        if (offset >= 0 && static_cast<std::size_t>(offset) < entry_.enumeration->values.size()) return offset;
    }
    return -1;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** attributes) {
    if (attributes == nullptr) return E_INVALIDARG;
    auto* a = new (std::nothrow) TYPEATTR{};
    *attributes = a;
    if (a == nullptr) return E_OUTOFMEMORY;
    const TypeLibraryDescription& lib = library_.description();
    a->lcid = lib.lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->typekind = entry_.kind;
    a->wMajorVerNum = lib.majorVersion;
    a->wMinorVerNum = lib.minorVersion;
    a->cbAlignment = alignof(void*);
    a->cbSizeInstance = sizeof(void*);
    if (entry_.itf) {
        a->guid = entry_.itf->iid;
        a->cFuncs = static_cast<WORD>(entry_.itf->members.size());
        // A dispatch interface's vtable is IDispatch's seven entries.
        a->cbSizeVft = static_cast<WORD>(7 * sizeof(void*));
        a->wTypeFlags = entry_.itf->dual ? TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION
                                         : TYPEFLAG_FDISPATCHABLE;
    } else if (entry_.cls) {
        a->guid = entry_.cls->clsid;
        a->cImplTypes = static_cast<WORD>(!entry_.cls->defaultInterface.empty() + !entry_.cls->defaultSource.empty());
        a->wTypeFlags = TYPEFLAG_FCANCREATE;
    } else {
        a->cVars = static_cast<WORD>(entry_.enumeration->values.size());
        a->cbSizeInstance = sizeof(LONG);
        a->cbAlignment = alignof(LONG);
    }
    return S_OK;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** desc) {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = nullptr;
    if (entry_.itf == nullptr || index >= entry_.itf->members.size()) return TYPE_E_ELEMENTNOTFOUND;
    const MemberDescription& member = entry_.itf->members[index];
    auto* block = new (std::nothrow) FuncBlock;
    if (block == nullptr) return E_OUTOFMEMORY;
    try {
        block->params.resize(member.params.size());
        SHORT optional = 0;
        for (std::size_t p = 0; p < member.params.size(); ++p) {
            const ParamDescription& param = member.params[p];
            ELEMDESC& e = block->params[p];
            e.tdesc = typeOf(param.type, param.typeName, block->pointees);
            e.paramdesc.pparamdescex = nullptr;
            e.paramdesc.wParamFlags = static_cast<USHORT>(
                PARAMFLAG_FIN | ((param.type & VT_BYREF) ? PARAMFLAG_FOUT : 0) | (param.optional ? PARAMFLAG_FOPT : 0));
            if (param.optional) ++optional;
        }
        FUNCDESC& d = block->desc;
        d.memid = member.id;
        d.lprgelemdescParam = block->params.empty() ? nullptr : block->params.data();
        d.funckind = FUNC_DISPATCH;
        d.invkind = invokeKind(member.kind);
        d.callconv = CC_STDCALL;
        d.cParams = static_cast<SHORT>(member.params.size());
        d.cParamsOpt = optional;
        d.elemdescFunc.tdesc = typeOf(member.result, member.resultTypeName, block->pointees);
        d.wFuncFlags = member.hidden ? FUNCFLAG_FHIDDEN : 0;
    } catch (const std::bad_alloc&) {
        delete block;
        return E_OUTOFMEMORY;
    }
    *desc = &block->desc;
    return S_OK;
}

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** desc) {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = nullptr;
    if (entry_.enumeration == nullptr || index >= entry_.enumeration->values.size()) return TYPE_E_ELEMENTNOTFOUND;
    auto* block = new (std::nothrow) VarBlock;
    if (block == nullptr) return E_OUTOFMEMORY;
    block->value.vt = VT_I4;
    block->value.lVal = entry_.enumeration->values[index].second;
    VARDESC& d = block->desc;
    d.memid = firstConstantId + static_cast<MEMBERID>(index);
    d.lpvarValue = &block->value;
    d.elemdescVar.tdesc.vt = VT_I4;
    d.varkind = VAR_CONST;
    *desc = &block->desc;
    return S_OK;
}

HRESULT TypeInfo::GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) {
    if (names == nullptr || count == nullptr) return E_INVALIDARG;
    *count = 0;
    const int index = memberIndex(id);
    if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
    std::vector<std::string_view> found;
    if (entry_.itf) {
        const MemberDescription& member = entry_.itf->members[static_cast<std::size_t>(index)];
        found.push_back(member.name);
        for (const auto& param : member.params) found.push_back(param.name);
    } else {
        found.push_back(entry_.enumeration->values[static_cast<std::size_t>(index)].first);
    }
    UINT given = 0;
    for (; given < maxNames && given < found.size(); ++given) {
        names[given] = allocBstr(widen(found[given]));
        if (names[given] == nullptr) {
            while (given > 0) SysFreeString(names[--given]);
            return E_OUTOFMEMORY;
        }
    }
    *count = given;
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* ref) {
    if (ref == nullptr) return E_INVALIDARG;
    if (entry_.cls == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    const std::string* names[] = {&entry_.cls->defaultInterface, &entry_.cls->defaultSource};
    if (index >= 2 || names[index]->empty()) return TYPE_E_ELEMENTNOTFOUND;
    const std::size_t target = library_.typeIndexByName(*names[index]);
    if (target >= library_.GetTypeInfoCount()) return TYPE_E_ELEMENTNOTFOUND;
    *ref = static_cast<HREFTYPE>(target);
    return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
    if (flags == nullptr) return E_INVALIDARG;
    HREFTYPE ref = 0;
    const HRESULT hr = GetRefTypeOfImplType(index, &ref);
    if (FAILED(hr)) return hr;
    *flags = index == 0 ? IMPLTYPEFLAG_FDEFAULT : IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
    if (entry_.itf) return getIDsOfNames(*entry_.itf, IID_NULL, names, count, ids);
    if (count == 0) return E_INVALIDARG;
    if (names == nullptr || ids == nullptr) return E_INVALIDARG;
    for (UINT k = 0; k < count; ++k) ids[k] = MEMBERID_NIL;
    if (entry_.enumeration && count == 1 && names[0]) {
        const auto& values = entry_.enumeration->values;
        for (std::size_t v = 0; v < values.size(); ++v) {
            if (namesEqual(names[0], values[v].first)) {
                ids[0] = firstConstantId + static_cast<MEMBERID>(v);
                return S_OK;
            }
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argumentError) {
    if (instance == nullptr) return E_INVALIDARG;
    if (entry_.itf == nullptr) return DISP_E_MEMBERNOTFOUND;
    // The instance is a pointer to this dispatch interface, whose first
    // entries are IDispatch's.
    auto* object = static_cast<IDispatch*>(static_cast<IUnknown*>(instance));
    return object->Invoke(id, IID_NULL, library_.description().lcid, flags, params, result, exception, argumentError);
}

HRESULT TypeInfo::GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext, BSTR* helpFile) {
    std::string_view foundName;
    std::string_view doc;
    DWORD context = 0;
    if (id == MEMBERID_NIL) {
        foundName = entry_.name();
    } else {
        const int index = memberIndex(id);
        if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
        if (entry_.itf) {
            const MemberDescription& member = entry_.itf->members[static_cast<std::size_t>(index)];
            foundName = member.name;
            doc = member.doc;
            context = member.helpContext;
        } else {
            foundName = entry_.enumeration->values[static_cast<std::size_t>(index)].first;
        }
    }
    if (helpContext) *helpContext = context;
    if (name) *name = nullptr;
    if (docString) *docString = nullptr;
    if (helpFile) *helpFile = nullptr;
    if (!giveText(name, foundName) || !giveText(docString, doc) ||
        !giveText(helpFile, library_.description().helpFile)) {
        for (BSTR* text : {name, docString, helpFile}) {
            if (text) SysFreeString(std::exchange(*text, nullptr));
        }
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** typeInfo) {
    if (typeInfo == nullptr) return E_INVALIDARG;
    return library_.GetTypeInfo(ref, typeInfo);
}

HRESULT TypeInfo::CreateInstance(IUnknown* outer, REFIID iid, PVOID* object) {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    if (entry_.cls == nullptr) return TYPE_E_BADMODULEKIND;
    return CoCreateInstance(entry_.cls->clsid, outer, CLSCTX_INPROC_SERVER, iid, object);
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** library, UINT* index) {
    if (library == nullptr) return E_INVALIDARG;
    *library = &library_;
    library_.AddRef();
    if (index) *index = index_;
    return S_OK;
}

}  // namespace

HRESULT createTypeLibrary(const TypeLibraryDescription& description, ITypeLib** library,
                          std::shared_ptr<const void> keepAlive) {
    if (library == nullptr) return E_POINTER;
    *library = nullptr;
    try {
        auto* created = new TypeLibrary(description, std::move(keepAlive));
        created->AddRef();
        *library = created;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT typeInfoOfGuid(const TypeLibraryDescription& description, REFGUID guid, ITypeInfo** typeInfo,
                       std::shared_ptr<const void> keepAlive) {
    if (typeInfo == nullptr) return E_POINTER;
    *typeInfo = nullptr;
    ComPtr<ITypeLib> library;
    const HRESULT hr = createTypeLibrary(description, library.put(), std::move(keepAlive));
    if (FAILED(hr)) return hr;
    return library->GetTypeInfoOfGuid(guid, typeInfo);
}

}  // namespace com
