// libmorvane.so as an in-process server: registration in both hives, the
// three ProgIDs, the class factory with and without an outer object, and
// when the library may be unloaded.
#include <gtest/gtest.h>

#include <cstdio>

#include "control/com/morvane_test_support.h"
#include "platform/com/type_description.h"

namespace morvane::testing {
namespace {

const std::string classKey = "CLSID\\" + com::formatGuid(CLSID_Morvane);
const std::string typeLibraryKey = "TypeLib\\" + com::formatGuid(LIBID_MORVANELib);

HRESULT canUnloadNow() {
    void* library = ::dlopen(MORVANE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return E_FAIL;
    auto function = reinterpret_cast<HRESULT (*)()>(::dlsym(library, "DllCanUnloadNow"));
    const HRESULT hr = function ? function() : E_FAIL;
    ::dlclose(library);
    return hr;
}

void expectRegistered(const com::registry::Hive& hive) {
    const std::string path = MORVANE_LIBRARY;
    EXPECT_EQ(hive.queryString(classKey), "QuillonWS Morvane WebSocket Control");
    EXPECT_EQ(hive.queryString(classKey + "\\ProgID"), "QuillonWS.Morvane.1");
    EXPECT_EQ(hive.queryString(classKey + "\\VersionIndependentProgID"), "QuillonWS.Morvane");
    for (const char* flag : {"Programmable", "Control", "Insertable"})
        EXPECT_TRUE(hive.keyExists(classKey + "\\" + flag));
    EXPECT_EQ(hive.queryString(classKey + "\\InprocServer32"), path);
    EXPECT_EQ(hive.queryString(classKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(hive.queryString(classKey + "\\ToolboxBitmap32"), path + ", 101");
    EXPECT_EQ(hive.queryString(classKey + "\\MiscStatus"), "0");
    EXPECT_EQ(hive.queryString(classKey + "\\MiscStatus\\1"), "132497");
    EXPECT_EQ(hive.queryString(classKey + "\\TypeLib"), com::formatGuid(LIBID_MORVANELib));
    EXPECT_EQ(hive.queryString(classKey + "\\Version"), "1.0");
    for (const char* progId : {"QuillonWS.Morvane", "QuillonWS.Morvane.1", "QuillonWS16.Morvane"}) {
        EXPECT_EQ(hive.queryString(progId), "QuillonWS Morvane WebSocket Control") << progId;
        EXPECT_EQ(hive.queryString(std::string(progId) + "\\CLSID"), com::formatGuid(CLSID_Morvane)) << progId;
        EXPECT_EQ(hive.queryString(std::string(progId) + "\\CurVer"), "QuillonWS.Morvane.1") << progId;
    }
    EXPECT_EQ(hive.queryString(typeLibraryKey + "\\1.0"), "MORVANELib");
    EXPECT_EQ(hive.queryString(typeLibraryKey + "\\1.0\\409\\linux64"), path);
    EXPECT_EQ(hive.queryString("Interface\\" + com::formatGuid(IID_IMorvane)), "IMorvane");
    EXPECT_EQ(hive.queryString("Interface\\" + com::formatGuid(DIID__IMorvaneEvents) + "\\TypeLib"),
              com::formatGuid(LIBID_MORVANELib));
}

void expectUnregistered(const com::registry::Hive& hive) {
    EXPECT_FALSE(hive.keyExists(classKey));
    for (const char* progId : {"QuillonWS.Morvane", "QuillonWS.Morvane.1", "QuillonWS16.Morvane"}) {
        EXPECT_FALSE(hive.keyExists(progId)) << progId;
    }
    EXPECT_FALSE(hive.keyExists(typeLibraryKey));
    EXPECT_FALSE(hive.keyExists("Interface\\" + com::formatGuid(IID_IMorvane)));
}

TEST(MorvaneRegistration, MachineWideAndPerUserRegistrationUseTheirOwnHive) {
    for (const bool perUser : {false, true}) {
        TemporaryRegistry registry;
        ASSERT_EQ(callExport("DllRegisterServer", perUser), S_OK) << com::registry::lastError();
        const std::string written = perUser ? registry.userHive() : registry.machineHive();
        const std::string untouched = perUser ? registry.machineHive() : registry.userHive();
        auto hive = com::registry::Hive::load(written);
        ASSERT_TRUE(hive);
        expectRegistered(*hive);
        EXPECT_FALSE(std::filesystem::exists(untouched)) << perUser;

        // Registered either way, the class is created by every name.
        for (const char* name : {"QuillonWS.Morvane", "QuillonWS.Morvane.1", "QuillonWS16.Morvane"}) {
            CLSID clsid{};
            EXPECT_EQ(com::classIdOf(name, clsid), S_OK) << name;
            EXPECT_EQ(clsid, CLSID_Morvane) << name;
            com::ComPtr<IDispatch> control;
            EXPECT_EQ(com::createInstance(name, control), S_OK) << name << com::lastLoadError();
            EXPECT_EQ(Client(control).get(u"Timeout").value.iVal, 60);
        }
        LPOLESTR progId = nullptr;
        ASSERT_EQ(ProgIDFromCLSID(CLSID_Morvane, &progId), S_OK);
        EXPECT_EQ(std::u16string_view(progId), u"QuillonWS.Morvane.1");
        CoTaskMemFree(progId);

        ASSERT_EQ(callExport("DllUnregisterServer", perUser), S_OK);
        hive = com::registry::Hive::load(written);
        ASSERT_TRUE(hive);
        expectUnregistered(*hive);
        EXPECT_TRUE(hive->keyExists("CLSID"));  // the shared root stays
        com::ComPtr<IDispatch> gone;
        EXPECT_EQ(com::createInstance("QuillonWS.Morvane", gone), CO_E_CLASSSTRING);
    }
}

// What the platform's registration program does with the library.
std::string runComreg(const std::string& arguments) {
    std::string output;
    FILE* pipe = ::popen((std::string(COMREG_PROGRAM) + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return "cannot start comreg";
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = ::pclose(pipe);
    return status == 0 ? output : "comreg failed: " + output;
}

TEST(MorvaneRegistration, ComregRegistersListsAndUnregistersTheLibrary) {
    TemporaryRegistry registry;
    const std::string library = MORVANE_LIBRARY;
    EXPECT_EQ(runComreg("register --user " + library), "Registered " + library + " for the current user\n");
    const std::string listed = runComreg("list");
    EXPECT_NE(listed.find(com::formatGuid(CLSID_Morvane) + " (user) QuillonWS Morvane WebSocket Control"),
              std::string::npos)
        << listed;
    EXPECT_NE(listed.find("ProgIDs: QuillonWS.Morvane.1 QuillonWS.Morvane QuillonWS16.Morvane"), std::string::npos)
        << listed;
    com::ComPtr<IDispatch> control;
    EXPECT_EQ(com::createInstance("QuillonWS16.Morvane", control), S_OK);
    control.reset();
    EXPECT_EQ(runComreg("unregister --user " + library), "Unregistered " + library + " for the current user\n");
    EXPECT_EQ(runComreg("list"), "");
}

using MorvaneServerTest = ControlTest;

TEST_F(MorvaneServerTest, TheLibraryStaysWhileAnythingHoldsIt) {
    com::ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Morvane, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the factory itself
    com::ComPtr<IDispatch> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, control.putVoid()), S_OK);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the instance
    control.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);

    ASSERT_EQ(CoGetClassObject(CLSID_Morvane, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the explicit lock
    ASSERT_EQ(CoGetClassObject(CLSID_Morvane, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    // An interface the class lacks: no object is left behind.
    com::ComPtr<IUnknown> none;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, none.putVoid()), E_NOINTERFACE);
    EXPECT_FALSE(none);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(MorvaneServerTest, OnlyTheMorvaneClassIsServed) {
    void* library = ::dlopen(MORVANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    auto getClassObject =
        reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(::dlsym(library, "DllGetClassObject"));
    ASSERT_NE(getClassObject, nullptr);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(IID_IMorvane, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    // The library describes MORVANELib to whoever asks.
    auto describe = reinterpret_cast<const com::TypeLibraryDescription* (*)()>(::dlsym(library, kTypeLibraryExport));
    ASSERT_NE(describe, nullptr);
    const com::TypeLibraryDescription& lib = *describe();
    EXPECT_EQ(lib.name, "MORVANELib");
    EXPECT_EQ(lib.lcid, 0x409u);
    EXPECT_EQ(lib.interfaces.size(), 2u);
    ASSERT_EQ(lib.enums.size(), 6u);
    const com::EnumDescription* stores = lib.findEnum("CertStoreTypes");
    ASSERT_NE(stores, nullptr);
    EXPECT_EQ(stores->values.size(), 18u);
    EXPECT_EQ(stores->values.back(), (std::pair<std::string, LONG>{"cstXMLBlob", 17}));
    ::dlclose(library);
}

TEST_F(MorvaneServerTest, AggregatedInstancesDelegateToTheirOuterObject) {
    com::testing::AggregatingOuter outer;
    com::ComPtr<IDispatch> refused;
    EXPECT_EQ(CoCreateInstance(CLSID_Morvane, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch, refused.putVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(canUnloadNow(), S_OK);

    ASSERT_EQ(CoCreateInstance(CLSID_Morvane, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    EXPECT_EQ(outer.references, 1u);  // the inner unknown is counted on its own
    {
        com::ComPtr<IDispatch> dispatch;
        ASSERT_EQ(outer.QueryInterface(IID_IDispatch, dispatch.putVoid()), S_OK);
        EXPECT_EQ(outer.references, 2u);  // the interface's reference went to the outer object
        com::ComPtr<IUnknown> identity;
        ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        Client client(dispatch);
        EXPECT_EQ(client.put(u"Timeout", com::Variant(SHORT{15})).hr, S_OK);
        EXPECT_EQ(client.get(u"Timeout").value.iVal, 15);
    }
    EXPECT_EQ(outer.references, 1u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    outer.inner->Release();
    outer.inner = nullptr;
    EXPECT_EQ(canUnloadNow(), S_OK);
}

}  // namespace
}  // namespace morvane::testing
