// The control's type information as a host reads it, member by member
// against the interface tables; IProvideClassInfo2, alone and aggregated;
// and the type library's registration.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "control/com/interface_description.h"
#include "control/com/morvane_test_support.h"
#include "platform/com/type_info.h"

namespace morvane::testing {
namespace {

std::string narrow(BSTR text) {
    const std::u16string_view view = com::bstrView(text);
    return {view.begin(), view.end()};
}

// How the tables name a type; a byte array travels as a VARIANT.
std::string tableTypeName(const TypeRef& type) {
    switch (type.type) {
        case AutomationType::Boolean: return "Boolean";
        case AutomationType::Integer: return "Integer";
        case AutomationType::Long: return "Long";
        case AutomationType::String: return "String";
        case AutomationType::ByteArray: return "Variant";
        case AutomationType::Unknown: return "Unknown";
        case AutomationType::Enumeration: return std::string(enumeration(type.enumeration).name);
    }
    return "?";
}

// How the type information names it; "&" marks a by-reference parameter.
std::string typeInfoTypeName(ITypeInfo* info, const TYPEDESC& type) {
    switch (type.vt) {
        case VT_PTR: return typeInfoTypeName(info, *type.lptdesc) + "&";
        case VT_USERDEFINED: {
            com::ComPtr<ITypeInfo> referenced;
            BSTR name = nullptr;
            if (FAILED(info->GetRefTypeInfo(type.hreftype, referenced.put())) ||
                FAILED(referenced->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)))
                return "?";
            std::string text = narrow(name);
            SysFreeString(name);
            return text;
        }
        case VT_BOOL: return "Boolean";
        case VT_I2: return "Integer";
        case VT_I4: return "Long";
        case VT_BSTR: return "String";
        case VT_VARIANT: return "Variant";
        case VT_UNKNOWN: return "Unknown";
        case VT_VOID: return "";
        default: return "vt" + std::to_string(type.vt);
    }
}

// One function of a type info as plain data, read through the API only.
struct Function {
    INVOKEKIND kind;
    std::string name;
    std::vector<std::string> paramNames;
    std::vector<std::string> paramTypes;
    std::string result;
    std::string help;
    DWORD helpContext;
    bool hidden;
};

std::multimap<MEMBERID, Function> functionsOf(ITypeInfo* info) {
    std::multimap<MEMBERID, Function> found;
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
    if (attr == nullptr) return found;
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        EXPECT_EQ(info->GetFuncDesc(i, &desc), S_OK);
        if (desc == nullptr) continue;
        Function f{desc->invkind,
                   {},
                   {},
                   {},
                   typeInfoTypeName(info, desc->elemdescFunc.tdesc),
                   {},
                   0,
                   (desc->wFuncFlags & FUNCFLAG_FHIDDEN) != 0};
        std::vector<BSTR> names(static_cast<std::size_t>(desc->cParams) + 1, nullptr);
        UINT given = 0;
        EXPECT_EQ(info->GetNames(desc->memid, names.data(), static_cast<UINT>(names.size()), &given), S_OK);
        for (UINT k = 0; k < given; ++k) {
            (k == 0 ? f.name : f.paramNames.emplace_back()) = narrow(names[k]);
            SysFreeString(names[k]);
        }
        for (SHORT p = 0; p < desc->cParams; ++p)
            f.paramTypes.push_back(typeInfoTypeName(info, desc->lprgelemdescParam[p].tdesc));
        BSTR doc = nullptr;
        EXPECT_EQ(info->GetDocumentation(desc->memid, nullptr, &doc, &f.helpContext, nullptr), S_OK);
        f.help = narrow(doc);
        SysFreeString(doc);
        found.emplace(desc->memid, std::move(f));
        info->ReleaseFuncDesc(desc);
    }
    return found;
}

const Function* find(const std::multimap<MEMBERID, Function>& functions, MEMBERID id, INVOKEKIND kind) {
    const Function* hit = nullptr;
    for (auto [at, end] = functions.equal_range(id); at != end; ++at) {
        if (at->second.kind != kind) continue;
        EXPECT_EQ(hit, nullptr) << "two functions of DISPID " << id << " and kind " << kind;
        hit = &at->second;
    }
    return hit;
}

class MorvaneTypeInfoTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        control_ = com::ComPtr<IDispatch>(create().get());
        ASSERT_TRUE(control_);
        ASSERT_EQ(control_->GetTypeInfo(0, LOCALE_USER_DEFAULT, dispatch_.put()), S_OK);
        auto provider = control_.as<IProvideClassInfo2>();
        ASSERT_TRUE(provider);
        com::ComPtr<ITypeInfo> cls;
        ASSERT_EQ(provider->GetClassInfo(cls.put()), S_OK);
        // The events are the class's default source, as a host finds them.
        for (UINT i = 0; i < 2; ++i) {
            INT flags = 0;
            ASSERT_EQ(cls->GetImplTypeFlags(i, &flags), S_OK);
            if (!(flags & IMPLTYPEFLAG_FSOURCE)) continue;
            HREFTYPE ref = 0;
            ASSERT_EQ(cls->GetRefTypeOfImplType(i, &ref), S_OK);
            ASSERT_EQ(cls->GetRefTypeInfo(ref, events_.put()), S_OK);
        }
        ASSERT_TRUE(events_);
    }
    com::ComPtr<IDispatch> control_;
    com::ComPtr<ITypeInfo> dispatch_;
    com::ComPtr<ITypeInfo> events_;
};

TEST_F(MorvaneTypeInfoTest, EveryPropertyHasAGetAndAPutOfItsTypeAndIndex) {
    const auto functions = functionsOf(dispatch_.get());
    ASSERT_EQ(properties().size(), 53u);
    for (const PropertyDescription& p : properties()) {
        SCOPED_TRACE(std::string(p.name));
        std::u16string name(p.name.begin(), p.name.end());
        LPOLESTR names[] = {name.data()};
        MEMBERID id = 0;
        ASSERT_EQ(dispatch_->GetIDsOfNames(names, 1, &id), S_OK);
        EXPECT_EQ(id, p.dispid);
        const Function* get = find(functions, p.dispid, INVOKE_PROPERTYGET);
        const Function* put = find(functions, p.dispid, INVOKE_PROPERTYPUT);
        ASSERT_TRUE(get && put);
        const std::vector<std::string> index =
            p.indexName.empty() ? std::vector<std::string>{} : std::vector<std::string>{std::string(p.indexName)};
        const std::string type = tableTypeName(p.type);
        EXPECT_EQ(get->name, p.name);
        EXPECT_EQ(get->paramNames, index);
        EXPECT_EQ(get->paramTypes, std::vector<std::string>(index.size(), "Integer"));
        EXPECT_EQ(get->result, type);
        EXPECT_EQ(put->paramTypes.size(), index.size() + 1);
        EXPECT_EQ(put->paramTypes.back(), type);
        EXPECT_EQ(put->result, "");
        for (const Function* f : {get, put}) {
            EXPECT_FALSE(f->hidden);
            EXPECT_NE(f->help.find(std::string(p.name)), std::string::npos) << f->help;
            EXPECT_NE(f->helpContext, 0u);
        }
        const bool readOnly = p.access == PropertyAccess::ReadOnly;
        EXPECT_EQ(get->help.starts_with("Returns ") && !get->help.starts_with("Returns or sets"), readOnly)
            << get->help;
    }
}

TEST_F(MorvaneTypeInfoTest, EveryMethodHasItsParametersAndResult) {
    const auto functions = functionsOf(dispatch_.get());
    ASSERT_EQ(methods().size(), 11u);
    auto check = [&](const MethodDescription& m, bool hidden) {
        SCOPED_TRACE(std::string(m.name));
        const Function* f = find(functions, m.dispid, INVOKE_FUNC);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->name, m.name);
        EXPECT_EQ(f->hidden, hidden);
        std::vector<std::string> names, types;
        for (const auto& parameter : m.parameters) {
            names.emplace_back(parameter.name);
            types.push_back(tableTypeName(parameter.type));
        }
        EXPECT_EQ(f->paramNames, names);
        EXPECT_EQ(f->paramTypes, types);
        EXPECT_EQ(f->result, m.result ? tableTypeName(*m.result) : "");
        EXPECT_NE(f->help.find(std::string(m.name)), std::string::npos) << f->help;
    };
    for (const MethodDescription& m : methods()) check(m, false);
    for (const MethodDescription& m : pageHostingMethods()) check(m, true);
    // Nothing but the members of the tables.
    EXPECT_EQ(functions.size(), 2 * properties().size() + methods().size() + pageHostingMethods().size());
}

TEST_F(MorvaneTypeInfoTest, EveryEventPassesItsParametersByReference) {
    const auto functions = functionsOf(events_.get());
    ASSERT_EQ(events().size(), 11u);
    EXPECT_EQ(functions.size(), events().size());
    for (const EventDescription& e : events()) {
        SCOPED_TRACE(std::string(e.name));
        const Function* f = find(functions, e.dispid, INVOKE_FUNC);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->name, e.name);
        std::vector<std::string> names, types;
        for (const auto& parameter : e.parameters) {
            names.emplace_back(parameter.name);
            types.push_back(tableTypeName(parameter.type) + "&");
            if (parameter.readBack) {
                EXPECT_NE(f->help.find(std::string(parameter.name)), std::string::npos) << f->help;
            }
        }
        EXPECT_EQ(f->paramNames, names);
        EXPECT_EQ(f->paramTypes, types);
        EXPECT_EQ(f->result, "");
    }
}

TEST_F(MorvaneTypeInfoTest, LibraryHoldsTheNineTypesOfMorvaneLib) {
    UINT count = 0;
    ASSERT_EQ(control_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    com::ComPtr<ITypeLib> library;
    ASSERT_EQ(dispatch_->GetContainingTypeLib(library.put(), nullptr), S_OK);
    ASSERT_EQ(library->GetTypeInfoCount(), 9u);
    std::map<TYPEKIND, int> kinds;
    for (UINT i = 0; i < 9; ++i) {
        TYPEKIND kind{};
        ASSERT_EQ(library->GetTypeInfoType(i, &kind), S_OK);
        ++kinds[kind];
    }
    EXPECT_EQ(kinds, (std::map<TYPEKIND, int>{{TKIND_ENUM, 6}, {TKIND_DISPATCH, 2}, {TKIND_COCLASS, 1}}));
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_MORVANELib);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    library->ReleaseTLibAttr(attr);
    BSTR name = nullptr, file = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, &file), S_OK);
    EXPECT_EQ(narrow(name), "MORVANELib");
    EXPECT_EQ(narrow(file), "quillonws.chm");
    SysFreeString(name);
    SysFreeString(file);

    // Every enumeration constant, with its value.
    for (const EnumerationDescription& e : enumerations()) {
        SCOPED_TRACE(std::string(e.name));
        std::u16string wide(e.name.begin(), e.name.end());
        ITypeInfo* found[1] = {};
        MEMBERID ids[1] = {};
        USHORT room = 1;
        ASSERT_EQ(library->FindName(wide.data(), 0, found, ids, &room), S_OK);
        ASSERT_EQ(room, 1);
        com::ComPtr<ITypeInfo> type = com::ComPtr<ITypeInfo>::attach(found[0]);
        for (UINT v = 0; v < e.members.size(); ++v) {
            VARDESC* var = nullptr;
            ASSERT_EQ(type->GetVarDesc(v, &var), S_OK);
            EXPECT_EQ(var->lpvarValue->lVal, e.members[v].value);
            BSTR constant = nullptr;
            ASSERT_EQ(type->GetDocumentation(var->memid, &constant, nullptr, nullptr, nullptr), S_OK);
            EXPECT_EQ(narrow(constant), e.members[v].name);
            SysFreeString(constant);
            type->ReleaseVarDesc(var);
        }
    }
}

TEST_F(MorvaneTypeInfoTest, InvokeThroughTheTypeInfoReachesTheControl) {
    com::Variant value(SHORT{30});
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    auto morvane = control_.as<IMorvane>();
    ASSERT_EQ(dispatch_->Invoke(morvane.get(), findProperty("Timeout")->dispid, DISPATCH_PROPERTYPUT, &put, nullptr,
                                nullptr, nullptr),
              S_OK);
    EXPECT_EQ(Client(control_).get(u"Timeout").value.iVal, 30);
}

TEST_F(MorvaneTypeInfoTest, ClassInfoNamesTheClassAndItsEventInterface) {
    auto provider = control_.as<IProvideClassInfo2>();
    com::ComPtr<ITypeInfo> cls;
    ASSERT_EQ(provider->GetClassInfo(cls.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, CLSID_Morvane);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    cls->ReleaseTypeAttr(attr);
    GUID guid{};
    EXPECT_EQ(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
    EXPECT_EQ(guid, DIID__IMorvaneEvents);
    EXPECT_EQ(provider->GetGUID(2, &guid), E_INVALIDARG);
    EXPECT_EQ(guid, GUID{});
    EXPECT_EQ(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
    EXPECT_EQ(provider->GetClassInfo(nullptr), E_POINTER);
    ASSERT_EQ(events_->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, DIID__IMorvaneEvents);
    events_->ReleaseTypeAttr(attr);
    // IProvideClassInfo is the same object, and the first part of the same vtable.
    auto plain = control_.as<IProvideClassInfo>();
    EXPECT_EQ(static_cast<IUnknown*>(plain.get()), static_cast<IUnknown*>(provider.get()));
}

HRESULT canUnloadNow() {
    void* library = ::dlopen(MORVANE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return E_FAIL;
    auto function = reinterpret_cast<HRESULT (*)()>(::dlsym(library, "DllCanUnloadNow"));
    const HRESULT hr = function ? function() : E_FAIL;
    ::dlclose(library);
    return hr;
}

TEST_F(MorvaneTypeInfoTest, TypeInformationKeepsTheLibraryLoaded) {
    control_.reset();
    events_.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the type info reads the library's tables
    dispatch_.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ControlTest, ClassInfoOfAnAggregatedControlDelegatesToTheOuterObject) {
    com::testing::AggregatingOuter outer;
    ASSERT_EQ(CoCreateInstance(CLSID_Morvane, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    for (const IID& iid : {IID_IProvideClassInfo, IID_IProvideClassInfo2}) {
        com::ComPtr<IProvideClassInfo> provider;
        ASSERT_EQ(outer.QueryInterface(iid, provider.putVoid()), S_OK);
        EXPECT_EQ(outer.references, 2u);
        com::ComPtr<IUnknown> identity;
        ASSERT_EQ(provider->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        identity.reset();
        com::ComPtr<ITypeInfo> cls;
        ASSERT_EQ(provider->GetClassInfo(cls.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->guid, CLSID_Morvane);
        cls->ReleaseTypeAttr(attr);
    }
    EXPECT_EQ(outer.references, 1u);
    outer.inner->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// DllRegisterServer's type library entries, in the hive the scope picks,
// and DllUnregisterServer taking them away again.
TEST(MorvaneTypeLibraryRegistration, RoundTripInEitherHive) {
    const std::string version = "TypeLib\\" + com::formatGuid(LIBID_MORVANELib) + "\\1.0";
    const std::string folder = std::filesystem::path(MORVANE_LIBRARY).parent_path().string();
    for (const bool perUser : {false, true}) {
        SCOPED_TRACE(perUser ? "per user" : "machine-wide");
        TemporaryRegistry registry;
        ASSERT_EQ(callExport("DllRegisterServer", perUser), S_OK) << com::registry::lastError();
        auto hive = com::registry::Hive::load(perUser ? registry.userHive() : registry.machineHive());
        ASSERT_TRUE(hive);
        EXPECT_EQ(hive->queryString(version), "MORVANELib");
        EXPECT_EQ(hive->queryString(version + "\\409\\linux64"), MORVANE_LIBRARY);
        EXPECT_EQ(hive->queryString(version + "\\FLAGS"), "0");
        EXPECT_EQ(hive->queryString(version + "\\HELPDIR"), folder);
        for (const IID& iid : {IID_IMorvane, DIID__IMorvaneEvents}) {
            const std::string key = "Interface\\" + com::formatGuid(iid) + "\\TypeLib";
            EXPECT_EQ(hive->queryString(key), com::formatGuid(LIBID_MORVANELib));
            EXPECT_EQ(hive->queryString(key, "Version"), "1.0");
        }
        ASSERT_EQ(callExport("DllUnregisterServer", perUser), S_OK);
        hive = com::registry::Hive::load(perUser ? registry.userHive() : registry.machineHive());
        ASSERT_TRUE(hive);
        EXPECT_FALSE(hive->keyExists("TypeLib\\" + com::formatGuid(LIBID_MORVANELib)));
        EXPECT_FALSE(hive->keyExists("Interface\\" + com::formatGuid(DIID__IMorvaneEvents)));
    }
}

}  // namespace
}  // namespace morvane::testing
