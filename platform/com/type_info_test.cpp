#include "platform/com/type_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/invoke.h"
#include "platform/com/testdata/widget_fixture.h"

namespace com::testing {
namespace {

std::string narrow(BSTR text) {
    const std::u16string_view view = bstrView(text);
    return {view.begin(), view.end()};
}

std::string nameOf(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr))) return "?";
    std::string result = narrow(name);
    SysFreeString(name);
    return result;
}

std::string typeText(ITypeInfo* info, const TYPEDESC& type) {
    switch (type.vt) {
        case VT_PTR: return typeText(info, *type.lptdesc) + "*";
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> referenced;
            if (FAILED(info->GetRefTypeInfo(type.hreftype, referenced.put()))) return "?";
            return nameOf(referenced.get());
        }
        case VT_VOID: return "void";
        case VT_I2: return "short";
        case VT_I4: return "long";
        case VT_BSTR: return "BSTR";
        case VT_BOOL: return "bool";
        case VT_VARIANT: return "VARIANT";
        default: return "vt" + std::to_string(type.vt);
    }
}

// A function as one line: "get Item(in Index:short) -> BSTR".
std::string signature(ITypeInfo* info, UINT index) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(index, &desc))) return "missing";
    BSTR names[8] = {};
    UINT count = 0;
    info->GetNames(desc->memid, names, 8, &count);
    static const char* kinds[] = {"", "call", "get", "", "put"};
    std::string text = std::string(kinds[desc->invkind]) + " " + narrow(names[0]) + "(";
    for (SHORT p = 0; p < desc->cParams; ++p) {
        const USHORT flags = desc->lprgelemdescParam[p].paramdesc.wParamFlags;
        if (p > 0) text += ", ";
        if (flags & PARAMFLAG_FOPT) text += "opt ";
        text += (flags & PARAMFLAG_FOUT) ? "inout " : "in ";
        text += (static_cast<UINT>(p) + 1 < count ? narrow(names[p + 1]) : "?") + ":" +
                typeText(info, desc->lprgelemdescParam[p].tdesc);
    }
    text += ") -> " + typeText(info, desc->elemdescFunc.tdesc) + " #" + std::to_string(desc->memid);
    EXPECT_EQ(desc->funckind, FUNC_DISPATCH);
    for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);
    info->ReleaseFuncDesc(desc);
    return text;
}

class TypeInfoTest : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        widget_ = create();
        ASSERT_TRUE(widget_);
        UINT count = 0;
        ASSERT_EQ(widget_->GetTypeInfoCount(&count), S_OK);
        ASSERT_EQ(count, 1u);
        ASSERT_EQ(widget_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info_.put()), S_OK);
        UINT index = 99;
        ASSERT_EQ(info_->GetContainingTypeLib(library_.put(), &index), S_OK);
        EXPECT_EQ(index, 0u);
    }
    ComPtr<ITypeInfo> typeOf(REFGUID guid) {
        ComPtr<ITypeInfo> result;
        EXPECT_EQ(library_->GetTypeInfoOfGuid(guid, result.put()), S_OK);
        return result;
    }
    ComPtr<ITestWidget> widget_;
    ComPtr<ITypeInfo> info_;
    ComPtr<ITypeLib> library_;
};

// GetNames answers per DISPID, with the names of the first function of
// that ID: a put's new value has no name of its own ("?").
TEST_F(TypeInfoTest, DispatchInterfaceListsEveryMemberWithItsSignature) {
    const std::vector<std::string> expected = {
        "get Count() -> long #1",
        "put Count(in ?:long) -> void #1",
        "get Name() -> BSTR #2",
        "put Name(in ?:BSTR) -> void #2",
        "get Item(in Index:short) -> BSTR #3",
        "get Color() -> WidgetColors #4",
        "put Color(in ?:WidgetColors) -> void #4",
        "call Add(in Amount:long, opt in Times:VARIANT) -> long #10",
        "call Fail(in Message:BSTR) -> void #11",
        "call Ping(in Text:BSTR) -> bool #12",
        "call Swap(inout A:long*, inout B:long*) -> void #13",
    };
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info_->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_ITestWidget);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE), TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
    ASSERT_EQ(attr->cFuncs, expected.size());
    EXPECT_EQ(attr->cVars, 0);
    info_->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < expected.size(); ++i) EXPECT_EQ(signature(info_.get(), i), expected[i]) << i;
    FUNCDESC* desc = nullptr;
    EXPECT_EQ(info_->GetFuncDesc(static_cast<UINT>(expected.size()), &desc), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(desc, nullptr);
}

TEST_F(TypeInfoTest, DocumentationAndNameLookup) {
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    DWORD context = 0;
    ASSERT_EQ(info_->GetDocumentation(dispidColor, &name, &doc, &context, &file), S_OK);
    EXPECT_EQ(narrow(name), "Color");
    EXPECT_EQ(narrow(file), "widget.chm");
    EXPECT_EQ(context, 0u);  // the get's context: the first member of that DISPID
    for (BSTR s : {name, doc, file}) SysFreeString(s);
    EXPECT_EQ(nameOf(info_.get()), "ITestWidget");
    EXPECT_EQ(info_->GetDocumentation(999, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);

    std::u16string add = u"ADD", times = u"times";
    LPOLESTR names[] = {add.data(), times.data()};
    MEMBERID ids[2] = {};
    EXPECT_EQ(info_->GetIDsOfNames(names, 2, ids), S_OK);
    EXPECT_EQ(ids[0], dispidAdd);
    EXPECT_EQ(ids[1], 1);

    BSTR few[1] = {};
    UINT count = 0;
    ASSERT_EQ(info_->GetNames(dispidSwap, few, 1, &count), S_OK);  // only as many as asked for
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(narrow(few[0]), "Swap");
    SysFreeString(few[0]);
    EXPECT_EQ(info_->GetNames(999, few, 1, &count), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(count, 0u);
}

TEST_F(TypeInfoTest, LibraryHoldsInterfacesClassAndEnumeration) {
    ASSERT_EQ(library_->GetTypeInfoCount(), 4u);
    const TYPEKIND kinds[] = {TKIND_DISPATCH, TKIND_DISPATCH, TKIND_COCLASS, TKIND_ENUM};
    const char* names[] = {"ITestWidget", "TestWidgetEvents", "TestWidget", "WidgetColors"};
    for (UINT i = 0; i < 4; ++i) {
        TYPEKIND kind{};
        EXPECT_EQ(library_->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, kinds[i]) << i;
        BSTR name = nullptr;
        EXPECT_EQ(library_->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(narrow(name), names[i]);
        SysFreeString(name);
    }
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(library_->GetTypeInfo(4, none.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(library_->GetTypeInfoOfGuid(IID_IDispatch, none.put()), TYPE_E_ELEMENTNOTFOUND);

    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library_->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_TestWidgetLib);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    library_->ReleaseTLibAttr(attr);
    BSTR name = nullptr, file = nullptr;
    ASSERT_EQ(library_->GetDocumentation(-1, &name, nullptr, nullptr, &file), S_OK);
    EXPECT_EQ(narrow(name), "TestWidgetLib");
    EXPECT_EQ(narrow(file), "widget.chm");
    SysFreeString(name);
    SysFreeString(file);

    std::u16string ping = u"ping";
    BOOL found = FALSE;
    EXPECT_EQ(library_->IsName(ping.data(), 0, &found), S_OK);
    EXPECT_TRUE(found);
    std::u16string missing = u"Pong";
    EXPECT_EQ(library_->IsName(missing.data(), 0, &found), S_OK);
    EXPECT_FALSE(found);
    ITypeInfo* holder[2] = {};
    MEMBERID ids[2] = {};
    USHORT room = 2;
    std::u16string blue = u"wcBlue";
    ASSERT_EQ(library_->FindName(blue.data(), 0, holder, ids, &room), S_OK);
    ASSERT_EQ(room, 1);
    EXPECT_EQ(nameOf(holder[0]), "WidgetColors");
    EXPECT_EQ(nameOf(holder[0], ids[0]), "wcBlue");
    holder[0]->Release();
}

TEST_F(TypeInfoTest, ClassNamesItsDefaultAndSourceInterfaces) {
    ComPtr<ITypeInfo> cls = typeOf(CLSID_TestWidget);
    ASSERT_TRUE(cls);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(attr->cImplTypes, 2);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    cls->ReleaseTypeAttr(attr);
    const struct {
        INT flags;
        GUID iid;
    } expected[] = {{IMPLTYPEFLAG_FDEFAULT, IID_ITestWidget},
                    {IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, DIID_TestWidgetEvents}};
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> itf;
        ASSERT_EQ(cls->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, expected[i].flags);
        ASSERT_EQ(cls->GetRefTypeOfImplType(i, &ref), S_OK);
        ASSERT_EQ(cls->GetRefTypeInfo(ref, itf.put()), S_OK);
        ASSERT_EQ(itf->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->guid, expected[i].iid);
        itf->ReleaseTypeAttr(attr);
    }
    HREFTYPE ref = 0;
    EXPECT_EQ(cls->GetRefTypeOfImplType(2, &ref), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info_->GetRefTypeOfImplType(0, &ref), TYPE_E_ELEMENTNOTFOUND);

    // The class's type info creates the class, through the registry.
    ComPtr<ITestWidget> made;
    ASSERT_EQ(cls->CreateInstance(nullptr, IID_ITestWidget, made.putVoid()), S_OK);
    EXPECT_NE(made.get(), widget_.get());
    EXPECT_EQ(info_->CreateInstance(nullptr, IID_ITestWidget, made.putVoid()), TYPE_E_BADMODULEKIND);
}

TEST_F(TypeInfoTest, EnumerationConstantsAndEventParameters) {
    ComPtr<ITypeInfo> colors;
    ASSERT_EQ(library_->GetTypeInfo(3, colors.put()), S_OK);
    const std::pair<const char*, LONG> expected[] = {{"wcRed", 0}, {"wcGreen", 1}, {"wcBlue", 2}};
    for (UINT i = 0; i < 3; ++i) {
        VARDESC* desc = nullptr;
        ASSERT_EQ(colors->GetVarDesc(i, &desc), S_OK);
        EXPECT_EQ(desc->varkind, VAR_CONST);
        EXPECT_EQ(desc->lpvarValue->vt, VT_I4);
        EXPECT_EQ(desc->lpvarValue->lVal, expected[i].second);
        EXPECT_EQ(nameOf(colors.get(), desc->memid), expected[i].first);
        colors->ReleaseVarDesc(desc);
    }
    VARDESC* none = nullptr;
    EXPECT_EQ(colors->GetVarDesc(3, &none), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info_->GetVarDesc(0, &none), TYPE_E_ELEMENTNOTFOUND);

    ComPtr<ITypeInfo> events = typeOf(DIID_TestWidgetEvents);
    ASSERT_TRUE(events);
    EXPECT_EQ(signature(events.get(), 0), "call Pinged(inout Text:BSTR*, inout Accept:bool*) -> void #1");
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(events->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->wTypeFlags & TYPEFLAG_FDUAL, 0);
    events->ReleaseTypeAttr(attr);
}

TEST_F(TypeInfoTest, InvokeCallsTheInstanceThroughItsDispatchInterface) {
    Variant value(LONG{41});
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(info_->Invoke(static_cast<ITestWidget*>(widget_.get()), dispidCount, DISPATCH_PROPERTYPUT, &put, nullptr,
                            nullptr, nullptr),
              S_OK);
    LONG count = 0;
    ASSERT_EQ(widget_->get_Count(&count), S_OK);
    EXPECT_EQ(count, 41);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(info_->Invoke(nullptr, dispidCount, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              E_INVALIDARG);
}

TEST_F(TypeInfoTest, TypeInformationKeepsTheServerLoaded) {
    const LONG withWidget = widgetLockCount();
    widget_.reset();
    EXPECT_EQ(widgetLockCount(), withWidget - 1);  // the type info still holds one
    info_.reset();
    EXPECT_EQ(widgetLockCount(), withWidget - 1);  // and so does the library
    library_.reset();
    EXPECT_EQ(widgetLockCount(), withWidget - 2);
}

TEST(TypeInfo, ObjectWithoutLibraryOffersNoTypeInformation) {
    struct Plain final : DispatchImpl<IDispatch> {
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 1; }
        ULONG Release() override { return 1; }
        const InterfaceDescription& dispatchType() const override { return type; }
        HRESULT invokeMember(const MemberDescription&, InvokeArguments&) override { return S_OK; }
        InterfaceDescription type{"IPlain", IID_IDispatch, true, {}};
    } plain;
    UINT count = 7;
    EXPECT_EQ(plain.GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(&count);
    EXPECT_EQ(plain.GetTypeInfo(0, 0, &info), E_NOTIMPL);
    EXPECT_EQ(info, nullptr);
}

TEST_F(TypeInfoTest, OnlyIndexZeroIsTheObjectsTypeInfo) {
    ComPtr<ITypeInfo> other;
    EXPECT_EQ(widget_->GetTypeInfo(1, 0, other.put()), DISP_E_BADINDEX);
    EXPECT_FALSE(other);
}

}  // namespace
}  // namespace com::testing
