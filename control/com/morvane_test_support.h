// Test scaffolding for the control as a host sees it: a registry in a
// temporary folder with libmorvane.so registered in it, creation by ProgID,
// a late-binding caller that resolves names to DISPIDs, a client site with a
// chosen UserMode, and an event sink that records what it is given.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "control/include/morvane.h"
#include "platform/com/client_site.h"
#include "platform/com/connection_point.h"
#include "platform/com/creation.h"
#include "platform/com/error_info.h"
#include "platform/com/registry.h"
#include "platform/com/safearray.h"
#include "platform/com/test_objects.h"

namespace morvane::testing {

class TemporaryRegistry {
public:
    TemporaryRegistry() {
        std::string pattern = (std::filesystem::temp_directory_path() / "morvane-com-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        ::setenv(com::registry::kMachineHiveVariable, machineHive().c_str(), 1);
        ::setenv(com::registry::kUserHiveVariable, userHive().c_str(), 1);
    }
    TemporaryRegistry(const TemporaryRegistry&) = delete;
    TemporaryRegistry& operator=(const TemporaryRegistry&) = delete;
    ~TemporaryRegistry() {
        ::unsetenv(com::registry::kMachineHiveVariable);
        ::unsetenv(com::registry::kUserHiveVariable);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string machineHive() const { return folder_ + "/machine/classes.reg"; }
    std::string userHive() const { return folder_ + "/user/classes.reg"; }

private:
    std::string folder_;
};

// Runs one of the library's exported functions, as a registration tool does.
inline HRESULT callExport(const char* name, bool perUser = false) {
    void* library = ::dlopen(MORVANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return CO_E_DLLNOTFOUND;
    auto function = reinterpret_cast<HRESULT (*)()>(::dlsym(library, name));
    com::registry::setPerUserRegistration(perUser);
    const HRESULT hr = function ? function() : CO_E_ERRORINDLL;
    com::registry::setPerUserRegistration(false);
    ::dlclose(library);
    return hr;
}

// The outcome of one late-bound call.
struct Outcome {
    HRESULT hr = S_OK;
    com::Variant value;
    HRESULT error = S_OK;  // the EXCEPINFO's code when hr is DISP_E_EXCEPTION
    std::u16string description;
    std::u16string helpFile;
    std::u16string source;
    DWORD helpContext = 0;
};

// A late-binding host: every member is found by name, then invoked.
class Client {
public:
    explicit Client(com::ComPtr<IDispatch> object) : object_(std::move(object)) {}

    IDispatch* get() const { return object_.get(); }

    DISPID dispid(std::u16string_view name) const { return com::dispidOfName(object_.get(), name); }

    Outcome get(std::u16string_view name, std::vector<com::Variant> args = {}) {
        return invoke(name, DISPATCH_PROPERTYGET, std::move(args));
    }
    Outcome put(std::u16string_view name, com::Variant value, std::vector<com::Variant> index = {}) {
        index.push_back(std::move(value));
        return invoke(name, DISPATCH_PROPERTYPUT, std::move(index));
    }
    Outcome call(std::u16string_view name, std::vector<com::Variant> args = {}) {
        return invoke(name, DISPATCH_METHOD, std::move(args));
    }
    // Config(text), with the text it returns.
    Outcome config(std::u16string_view text) { return call(u"Config", {com::Variant(text)}); }

    Outcome invoke(std::u16string_view name, WORD flags, std::vector<com::Variant> args) {
        Outcome outcome;
        const DISPID id = dispid(name);
        EXPECT_NE(id, DISPID_UNKNOWN) << std::string(name.begin(), name.end());
        com::ExcepInfo exception;
        outcome.hr = com::invoke(object_.get(), id, flags, std::span<com::Variant>(args), &outcome.value, &exception);
        if (outcome.hr == DISP_E_EXCEPTION) {
            outcome.error = exception.error();
            outcome.description = com::bstrView(exception.bstrDescription);
            outcome.helpFile = com::bstrView(exception.bstrHelpFile);
            outcome.source = com::bstrView(exception.bstrSource);
            outcome.helpContext = exception.dwHelpContext;
        }
        return outcome;
    }

private:
    com::ComPtr<IDispatch> object_;
};

inline std::u16string text(const com::Variant& value) {
    return value.vt == VT_BSTR ? std::u16string(com::bstrView(value.bstrVal)) : u"<not a string>";
}

inline std::vector<std::uint8_t> bytes(const VARIANT& value) {
    EXPECT_EQ(value.vt, VT_ARRAY | VT_UI1);
    if (value.vt != (VT_ARRAY | VT_UI1)) return {};
    EXPECT_EQ(SafeArrayGetDim(value.parray), 1u);
    LONG lower = -1;
    SafeArrayGetLBound(value.parray, 1, &lower);
    EXPECT_EQ(lower, 0);
    const auto* data = static_cast<const std::uint8_t*>(value.parray->pvData);
    return {data, data + value.parray->rgsabound[0].cElements};
}

inline com::Variant byteArray(std::vector<std::uint8_t> content) {
    return com::Variant::fromArray(VT_UI1, com::byteArrayFrom(content));
}

using Site = com::testing::ContainerSite;

// One event as a sink saw it: its DISPID and its arguments in declaration
// order, as values (the by-reference variants dereferenced).
struct SeenEvent {
    DISPID id;
    std::vector<com::Variant> args;
    std::vector<VARTYPE> types;  // the VARTYPEs as passed, VT_BYREF included
};

class EventSink final : public com::UntypedDispatch {
public:
    // Runs inside the event with the by-reference arguments in declaration
    // order, so that it may change them (Accept) or call the control.
    std::function<void(DISPID id, std::vector<VARIANT*>& args)> handler;
    std::vector<SeenEvent> seen;
    ULONG references = 0;

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IMorvaneEvents) {
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
        SeenEvent event{member, {}, {}};
        std::vector<VARIANT*> byReference;
        // DISPPARAMS holds the arguments last to first.
        for (UINT i = params->cArgs; i-- > 0;) {
            VARIANT& arg = params->rgvarg[i];
            event.types.push_back(arg.vt);
            com::Variant value;
            VariantCopyInd(&value, &arg);
            event.args.push_back(std::move(value));
            byReference.push_back(&arg);
        }
        seen.push_back(std::move(event));
        if (handler) handler(member, byReference);
        return S_OK;
    }
};

// Connects a sink to the control's event interface for the scope.
class Advised {
public:
    Advised(IDispatch* control, IUnknown* sink) {
        com::ComPtr<IDispatch> holder(control);
        auto container = holder.as<IConnectionPointContainer>();
        EXPECT_TRUE(container);
        if (!container) return;
        EXPECT_EQ(container->FindConnectionPoint(DIID__IMorvaneEvents, point_.put()), S_OK);
        if (point_) {
            EXPECT_EQ(point_->Advise(sink, &cookie_), S_OK);
        }
    }
    Advised(const Advised&) = delete;
    Advised& operator=(const Advised&) = delete;
    ~Advised() {
        if (point_) point_->Unadvise(cookie_);
    }

private:
    com::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Registers the library in a temporary registry and creates controls from it.
class ControlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(callExport("DllRegisterServer"), S_OK) << com::registry::lastError(); }

    Client create(const char* progId = kProgId) {
        com::ComPtr<IDispatch> object;
        EXPECT_EQ(com::createInstance(progId, object), S_OK) << com::lastLoadError();
        return Client(std::move(object));
    }

    TemporaryRegistry registry_;
};

}  // namespace morvane::testing
