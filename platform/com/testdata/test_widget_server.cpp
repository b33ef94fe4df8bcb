// A component built only for the runtime's tests.
#include <string>

#include "platform/com/connection_point.h"
#include "platform/com/error_info.h"
#include "platform/com/invoke.h"
#include "platform/com/server.h"
#include "platform/com/server_registration.h"
#include "platform/com/testdata/test_widget.h"
#include "platform/com/type_info.h"

namespace {

using com::MemberKind;

const com::TypeLibraryDescription& library() {
    static const com::TypeLibraryDescription lib{
        .name = "TestWidgetLib",
        .libid = LIBID_TestWidgetLib,
        .majorVersion = 1,
        .minorVersion = 0,
        .lcid = 0,
        .helpFile = "widget.chm",
        .interfaces =
            {
                {"ITestWidget",
                 IID_ITestWidget,
                 true,
                 {
                     {"Count", dispidCount, MemberKind::propertyGet, {}, VT_I4},
                     {"Count", dispidCount, MemberKind::propertyPut, {{"newValue", VT_I4}}},
                     {"Name", dispidName, MemberKind::propertyGet, {}, VT_BSTR},
                     {"Name", dispidName, MemberKind::propertyPut, {{"newValue", VT_BSTR}}},
                     {"Item", dispidItem, MemberKind::propertyGet, {{"Index", VT_I2}}, VT_BSTR},
                     {"Color", dispidColor, MemberKind::propertyGet, {}, VT_I4, "WidgetColors"},
                     {"Color",
                      dispidColor,
                      MemberKind::propertyPut,
                      {{"newValue", VT_I4, false, "WidgetColors"}},
                      VT_EMPTY,
                      {},
                      kWidgetHelpContext},
                     {"Add", dispidAdd, MemberKind::method, {{"Amount", VT_I4}, {"Times", VT_VARIANT, true}}, VT_I4},
                     {"Fail", dispidFail, MemberKind::method, {{"Message", VT_BSTR}}},
                     {"Ping", dispidPing, MemberKind::method, {{"Text", VT_BSTR}}, VT_BOOL},
                     {"Swap", dispidSwap, MemberKind::method, {{"A", VT_BYREF | VT_I4}, {"B", VT_BYREF | VT_I4}}},
                 }},
                {"TestWidgetEvents",
                 DIID_TestWidgetEvents,
                 false,
                 {{"Pinged",
                   dispidPinged,
                   MemberKind::method,
                   {{"Text", VT_BYREF | VT_BSTR}, {"Accept", VT_BYREF | VT_BOOL}}}}},
            },
        .enums = {{"WidgetColors", {{"wcRed", 0}, {"wcGreen", 1}, {"wcBlue", 2}}}},
        .classes = {{"TestWidget", CLSID_TestWidget, "ITestWidget", "TestWidgetEvents"}},
    };
    return lib;
}

class Widget final
    : public com::Object<com::DispatchImpl<ITestWidget>, com::ConnectionPointContainerImpl, ISupportErrorInfo> {
public:
    Widget() { addConnectionPoint(DIID_TestWidgetEvents); }

    HRESULT get_Count(LONG* value) override {
        if (value == nullptr) return E_POINTER;
        *value = count_;
        return S_OK;
    }
    HRESULT put_Count(LONG value) override {
        count_ = value;
        return S_OK;
    }
    HRESULT get_Name(BSTR* value) override {
        if (value == nullptr) return E_POINTER;
        *value = com::allocBstr(name_);
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT put_Name(BSTR value) override {
        name_ = com::bstrView(value);
        return S_OK;
    }
    HRESULT get_Item(SHORT index, BSTR* value) override {
        if (value == nullptr) return E_POINTER;
        if (index < 0 || index >= 3) return error(kWidgetBadIndex, u"Invalid array index.", 0);
        *value = com::allocBstr(std::u16string(u"item") + static_cast<char16_t>(u'0' + index));
        return S_OK;
    }
    HRESULT get_Color(LONG* value) override {
        if (value == nullptr) return E_POINTER;
        *value = color_;
        return S_OK;
    }
    HRESULT put_Color(LONG value) override {
        if (value < 0 || value > 2) return error(kWidgetBadIndex, u"Value is out of range.", kWidgetHelpContext);
        color_ = value;
        return S_OK;
    }
    HRESULT Add(LONG amount, VARIANT times, LONG* total) override {
        LONG factor = 1;
        if (!(times.vt == VT_ERROR && times.scode == DISP_E_PARAMNOTFOUND)) {
            com::Variant n;
            const HRESULT hr = VariantChangeType(&n, &times, 0, VT_I4);
            if (FAILED(hr)) return hr;
            factor = n.lVal;
        }
        count_ += amount * factor;
        if (total) *total = count_;
        return S_OK;
    }
    HRESULT Fail(BSTR message) override {
        return error(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 1001), com::bstrView(message), 42);
    }
    HRESULT Ping(BSTR text, VARIANT_BOOL* accepted) override {
        com::Variant args[2];
        args[0] = com::Variant(com::bstrView(text));
        args[1] = com::Variant::fromBool(false);
        com::fireEvent(*connectionPoint(DIID_TestWidgetEvents), dispidPinged, args);
        if (accepted) *accepted = args[1].boolVal ? VARIANT_TRUE : VARIANT_FALSE;
        lastPingText_ = com::bstrView(args[0].bstrVal);
        return S_OK;
    }
    HRESULT Swap(LONG* a, LONG* b) override {
        if (a == nullptr || b == nullptr) return E_POINTER;
        std::swap(*a, *b);
        return S_OK;
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override { return riid == IID_ITestWidget ? S_OK : S_FALSE; }

private:
    IUnknown* findInterface(REFIID iid) override {
        if (iid == IID_ITestWidget || iid == IID_IDispatch) return static_cast<ITestWidget*>(this);
        if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
        if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
        return nullptr;
    }

    const com::InterfaceDescription& dispatchType() const override { return library().interfaces[0]; }
    HRESULT loadTypeLibrary(ITypeLib** lib) override {
        return com::createTypeLibrary(library(), lib, std::make_shared<com::ModuleReference>());
    }

    HRESULT invokeMember(const com::MemberDescription& m, com::InvokeArguments& a) override {
        VARIANT& r = a.result();
        const bool get = m.kind == MemberKind::propertyGet;
        switch (m.id) {
            case dispidCount:
                if (!get) return put_Count(a[0].lVal);
                r.vt = VT_I4;
                return get_Count(&r.lVal);
            case dispidName:
                if (!get) return put_Name(a[0].bstrVal);
                r.vt = VT_BSTR;
                return get_Name(&r.bstrVal);
            case dispidItem: r.vt = VT_BSTR; return get_Item(a[0].iVal, &r.bstrVal);
            case dispidColor:
                if (!get) return put_Color(a[0].lVal);
                r.vt = VT_I4;
                return get_Color(&r.lVal);
            case dispidAdd: r.vt = VT_I4; return Add(a[0].lVal, a[1], &r.lVal);
            case dispidFail: return Fail(a[0].bstrVal);
            case dispidPing: r.vt = VT_BOOL; return Ping(a[0].bstrVal, &r.boolVal);
            case dispidSwap: return Swap(a[0].plVal, a[1].plVal);
            default: return DISP_E_MEMBERNOTFOUND;
        }
    }

    HRESULT error(HRESULT hr, std::u16string_view description, DWORD helpContext) {
        com::ErrorRecord record;
        record.iid = IID_ITestWidget;
        record.source = u"TaltrixTest.Widget";
        record.description = description;
        if (helpContext != 0) record.helpFile = u"widget.chm";
        record.helpContext = helpContext;
        return com::raiseError(hr, record);
    }

    com::ModuleReference module_;
    LONG count_ = 0;
    LONG color_ = 0;
    std::u16string name_;
    std::u16string lastPingText_;
};

const com::ClassEntry kClasses[] = {{CLSID_TestWidget, &com::createObject<Widget>}};

com::ClassRegistration registration() {
    com::ClassRegistration r;
    r.clsid = CLSID_TestWidget;
    r.description = "Taltrix test widget";
    r.progId = kTestWidgetProgId;
    r.versionIndependentProgId = kTestWidgetIndependentProgId;
    r.otherProgIds = {kTestWidgetOtherProgId};
    r.typeLibrary = LIBID_TestWidgetLib;
    r.version = "1.0";
    r.flagKeys = {"Programmable"};
    return r;
}

com::TypeLibraryRegistration typeLibraryRegistration() {
    com::TypeLibraryRegistration r;
    r.libid = LIBID_TestWidgetLib;
    r.name = "TestWidgetLib";
    r.interfaces = {{IID_ITestWidget, "ITestWidget"}, {DIID_TestWidgetEvents, "TestWidgetEvents"}};
    return r;
}

}  // namespace

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return com::getClassObject(kClasses, clsid, iid, object);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return com::ServerModule::instance().canUnloadNow(); }

COM_EXPORT HRESULT DllRegisterServer() {
    const std::string path = com::ServerModule::instance().path();
    const HRESULT hr = com::registerClass(registration(), path);
    if (FAILED(hr)) return hr;
    return com::registerTypeLibrary(typeLibraryRegistration(), path);
}

COM_EXPORT HRESULT DllUnregisterServer() {
    const HRESULT hr = com::unregisterTypeLibrary(typeLibraryRegistration());
    if (FAILED(hr)) return hr;
    return com::unregisterClass(registration());
}

// For the tests: the number of locks this library holds.
COM_EXPORT LONG TestWidgetLockCount() { return com::ServerModule::instance().lockCount(); }
