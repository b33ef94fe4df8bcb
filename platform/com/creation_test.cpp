#include "platform/com/creation.h"

#include <gtest/gtest.h>

#include "platform/com/error_info.h"
#include "platform/com/testdata/widget_fixture.h"

namespace com::testing {
namespace {

using CreationTest = WidgetTest;

TEST_F(CreationTest, RegistrationWritesClassProgIdsAndTypeLibrary) {
    auto machine = registry::Hive::load(registry_.machineHive());
    ASSERT_TRUE(machine);
    const std::string key = "CLSID\\" + formatGuid(CLSID_TestWidget);
    EXPECT_EQ(machine->queryString(key + "\\InprocServer32"), std::string(TEST_WIDGET_LIBRARY));
    EXPECT_EQ(machine->queryString(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(machine->queryString(key + "\\ProgID"), kTestWidgetProgId);
    EXPECT_EQ(machine->queryString(key + "\\VersionIndependentProgID"), kTestWidgetIndependentProgId);
    EXPECT_TRUE(machine->keyExists(key + "\\Programmable"));
    EXPECT_EQ(machine->queryString(std::string(kTestWidgetOtherProgId) + "\\CurVer"), kTestWidgetProgId);
    EXPECT_FALSE(machine->keyExists(std::string(kTestWidgetProgId) + "\\CurVer"));
    const std::string typeLib = "TypeLib\\" + formatGuid(LIBID_TestWidgetLib) + "\\1.0";
    EXPECT_EQ(machine->queryString(typeLib + "\\0\\linux64"), std::string(TEST_WIDGET_LIBRARY));
    EXPECT_EQ(machine->queryString("Interface\\" + formatGuid(IID_ITestWidget) + "\\TypeLib"),
              formatGuid(LIBID_TestWidgetLib));
    EXPECT_FALSE(std::filesystem::exists(registry_.userHive()));

    ASSERT_EQ(callWidgetExport("DllUnregisterServer"), S_OK);
    machine = registry::Hive::load(registry_.machineHive());
    EXPECT_FALSE(machine->keyExists(key));
    EXPECT_FALSE(machine->keyExists(kTestWidgetOtherProgId));
    EXPECT_FALSE(machine->keyExists("TypeLib\\" + formatGuid(LIBID_TestWidgetLib)));
    EXPECT_TRUE(machine->keyExists("CLSID"));  // the shared root stays
}

TEST_F(CreationTest, EveryProgIdLeadsToTheClass) {
    for (const char* name : {kTestWidgetProgId, kTestWidgetIndependentProgId, kTestWidgetOtherProgId}) {
        CLSID clsid{};
        EXPECT_EQ(classIdOf(name, clsid), S_OK) << name;
        EXPECT_EQ(clsid, CLSID_TestWidget);
        EXPECT_TRUE(create()) << name;
    }
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TestWidget, &progId), S_OK);
    EXPECT_EQ(std::u16string_view(progId), u"TaltrixTest.Widget.1");
    CoTaskMemFree(progId);
    ComPtr<ITestWidget> byClsid;
    EXPECT_EQ(createInstance(formatGuid(CLSID_TestWidget), byClsid), S_OK);
}

TEST_F(CreationTest, FailuresSayWhatIsMissing) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(createInstance("No.Such.Class", object), CO_E_CLASSSTRING);
    EXPECT_EQ(createInstance("{00000000-1111-2222-3333-444444444444}", object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(createInstance("{malformed}", object), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.putVoid()),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(registry::updateHive(registry::Scope::user,
                                   [](registry::Hive& h) {
                                       return h.setString("CLSID\\" + formatGuid(CLSID_TestWidget) + "\\InprocServer32",
                                                          "", "/nonexistent/libgone.so");
                                   }),
              S_OK);
    EXPECT_EQ(createInstance(kTestWidgetProgId, object), CO_E_DLLNOTFOUND);
    EXPECT_NE(lastLoadError().find("libgone.so"), std::string::npos);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Bad\\Name", &clsid), CO_E_CLASSSTRING);
}

TEST_F(CreationTest, CurVerLoopsEndAtTheirLimit) {
    ASSERT_EQ(registry::updateHive(registry::Scope::machine,
                                   [](registry::Hive& h) {
                                       h.setString("Loop.A\\CurVer", "", "Loop.B");
                                       h.setString("Loop.A\\CLSID", "", formatGuid(CLSID_TestWidget));
                                       h.setString("Loop.B\\CurVer", "", "Loop.A");
                                       h.setString("Loop.B\\CLSID", "", formatGuid(CLSID_TestWidget));
                                       return true;
                                   }),
              S_OK);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestWidget);
}

TEST(PerUserRegistration, WritesOnlyTheUsersHiveAndWinsOverTheMachine) {
    TemporaryRegistry temporary;
    ASSERT_EQ(callWidgetExport("DllRegisterServer", true), S_OK) << registry::lastError();
    auto user = registry::Hive::load(temporary.userHive());
    ASSERT_TRUE(user);
    EXPECT_TRUE(user->keyExists("CLSID\\" + formatGuid(CLSID_TestWidget)));
    for (const char* name : {kTestWidgetProgId, kTestWidgetIndependentProgId, kTestWidgetOtherProgId}) {
        EXPECT_TRUE(user->keyExists(name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(temporary.machineHive()));
    ComPtr<ITestWidget> widget;
    EXPECT_EQ(createInstance(kTestWidgetIndependentProgId, widget), S_OK);
    widget.reset();
    ASSERT_EQ(callWidgetExport("DllUnregisterServer", true), S_OK);
    EXPECT_EQ(createInstance(kTestWidgetIndependentProgId, widget), CO_E_CLASSSTRING);
}

TEST_F(CreationTest, TheLibraryStaysWhileAnythingHoldsIt) {
    CoFreeUnusedLibraries();
    auto widget = create();
    ASSERT_TRUE(widget);
    EXPECT_EQ(widgetLockCount(), 1);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    EXPECT_EQ(widgetLockCount(), 2);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    widget.reset();
    EXPECT_EQ(widgetLockCount(), 1);
    CoFreeUnusedLibraries();
    EXPECT_EQ(widgetLockCount(), 1);  // still loaded: the server lock holds it
    // Unlock through a fresh factory (which itself holds the module while alive).
    ASSERT_EQ(CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(widgetLockCount(), 0);
    CoFreeUnusedLibraries();
    EXPECT_EQ(widgetLockCount(), -1);  // unloaded
    EXPECT_TRUE(create());             // and loaded again on demand
}

// An outer object that aggregates the widget: it answers IUnknown itself and
// hands out the widget's interfaces as its own.
class Outer final : public IUnknown {
public:
    ComPtr<IUnknown> inner;
    ULONG count = 1;
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, object);
    }
    ULONG AddRef() override { return ++count; }
    ULONG Release() override { return --count; }
};

TEST_F(CreationTest, AggregatedWidgetSharesTheOuterIdentity) {
    Outer outer;
    ComPtr<ITestWidget> refused;
    EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, &outer, CLSCTX_INPROC_SERVER, IID_ITestWidget, refused.putVoid()),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, outer.inner.putVoid()),
              S_OK);
    EXPECT_EQ(outer.count, 1u);
    {
        ComPtr<ITestWidget> widget;
        ASSERT_EQ(outer.QueryInterface(IID_ITestWidget, widget.putVoid()), S_OK);
        EXPECT_EQ(outer.count, 2u);  // the widget's references are the outer object's
        ComPtr<IUnknown> identity;
        ASSERT_EQ(widget->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        LONG value = 0;
        widget->put_Count(5);
        widget->get_Count(&value);
        EXPECT_EQ(value, 5);
    }
    EXPECT_EQ(outer.count, 1u);
    outer.inner.reset();  // destroys the widget
    EXPECT_EQ(widgetLockCount(), 0);
}

}  // namespace
}  // namespace com::testing
