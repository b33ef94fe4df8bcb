// Test scaffolding: a registry in a temporary folder, the test widget
// registered in it, and an event sink to connect to the widget.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/connection_point.h"
#include "platform/com/creation.h"
#include "platform/com/registry.h"
#include "platform/com/testdata/test_widget.h"

namespace com::testing {

class TemporaryRegistry {
public:
    TemporaryRegistry() {
        std::string pattern = (std::filesystem::temp_directory_path() / "taltrix-com-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        ::setenv(registry::kMachineHiveVariable, machineHive().c_str(), 1);
        ::setenv(registry::kUserHiveVariable, userHive().c_str(), 1);
    }
    TemporaryRegistry(const TemporaryRegistry&) = delete;
    TemporaryRegistry& operator=(const TemporaryRegistry&) = delete;
    ~TemporaryRegistry() {
        ::unsetenv(registry::kMachineHiveVariable);
        ::unsetenv(registry::kUserHiveVariable);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string folder() const { return folder_; }
    std::string machineHive() const { return folder_ + "/machine/classes.reg"; }
    std::string userHive() const { return folder_ + "/user/classes.reg"; }

private:
    std::string folder_;
};

// Runs one of the widget library's exported functions, as a registration
// tool would.
inline HRESULT callWidgetExport(const char* name, bool perUser = false) {
    void* library = ::dlopen(TEST_WIDGET_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return CO_E_DLLNOTFOUND;
    auto function = reinterpret_cast<HRESULT (*)()>(::dlsym(library, name));
    registry::setPerUserRegistration(perUser);
    const HRESULT hr = function ? function() : CO_E_ERRORINDLL;
    registry::setPerUserRegistration(false);
    ::dlclose(library);
    return hr;
}

// The widget library's lock count, or -1 when it is not loaded.
inline LONG widgetLockCount() {
    void* library = ::dlopen(TEST_WIDGET_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return -1;
    auto count = reinterpret_cast<LONG (*)()>(::dlsym(library, "TestWidgetLockCount"));
    const LONG result = count ? count() : -2;
    ::dlclose(library);
    return result;
}

class WidgetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(callWidgetExport("DllRegisterServer"), S_OK) << registry::lastError(); }
    ComPtr<ITestWidget> create() {
        ComPtr<ITestWidget> widget;
        EXPECT_EQ(createInstance(kTestWidgetProgId, widget), S_OK) << lastLoadError();
        return widget;
    }
    TemporaryRegistry registry_;
};

// A sink for the widget's events; `onPinged` sees the by-reference arguments.
class EventSink final : public com::UntypedDispatch {
public:
    std::function<void(BSTR* text, VARIANT_BOOL* accept)> onPinged;
    std::vector<std::u16string> seen;
    ULONG references = 0;
    bool answerEvents = true;

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || (answerEvents && riid == DIID_TestWidgetEvents)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        EXPECT_EQ(riid, IID_NULL);
        EXPECT_EQ(lcid, LOCALE_USER_DEFAULT);
        EXPECT_EQ(flags, DISPATCH_METHOD);
        if (member != dispidPinged) return DISP_E_MEMBERNOTFOUND;
        // Reverse order: Accept first, then Text.
        EXPECT_EQ(params->cArgs, 2u);
        EXPECT_EQ(params->rgvarg[0].vt, VT_BYREF | VT_BOOL);
        EXPECT_EQ(params->rgvarg[1].vt, VT_BYREF | VT_BSTR);
        seen.emplace_back(bstrView(*params->rgvarg[1].pbstrVal));
        if (onPinged) onPinged(params->rgvarg[1].pbstrVal, params->rgvarg[0].pboolVal);
        return S_OK;
    }
};

}  // namespace com::testing
