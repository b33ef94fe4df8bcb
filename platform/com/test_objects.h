// Small hand-written objects the runtime's tests pass around.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/client_site.h"
#include "platform/com/dispatch.h"
#include "platform/com/ole_control.h"

namespace com::testing {

// An IDispatch whose value property (DISPID 0) is a fixed variant, and which
// counts its references so tests can see AddRef/Release balance.
class ValueObject final : public com::UntypedDispatch {
public:
    explicit ValueObject(VARIANT value) : value_(value) {}
    ~ValueObject() { VariantClear(&value_); }
    ValueObject(const ValueObject&) = delete;
    ValueObject& operator=(const ValueObject&) = delete;

    ULONG references() const { return count_; }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override { return --count_; }  // lives on the test's stack
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (member != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        return result ? VariantCopy(result, &value_) : S_OK;
    }

private:
    VARIANT value_;
    ULONG count_ = 0;
};

// A container's client site with the ambient UserMode: `ambient` is 1 or 0,
// or -1 for a site without ambient properties at all (no IDispatch); with
// `knowsUserMode` false the property is missing. Counts its references.
class ContainerSite final : public IOleClientSite, public UntypedDispatch {
public:
    explicit ContainerSite(bool userMode = true) : ambient(userMode ? 1 : 0) {}
    void setUserMode(bool userMode) { ambient = userMode ? 1 : 0; }

    int ambient;
    bool knowsUserMode = true;
    ULONG references = 0;

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (riid == IID_IDispatch && ambient >= 0) {
            *object = static_cast<IDispatch*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IOleContainer**) override { return E_NOTIMPL; }
    HRESULT ShowObject() override { return S_OK; }
    HRESULT OnShowWindow(BOOL) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (member != DISPID_AMBIENT_USERMODE || !knowsUserMode || !(flags & DISPATCH_PROPERTYGET)) {
            return DISP_E_MEMBERNOTFOUND;
        }
        result->vt = VT_BOOL;
        result->boolVal = ambient ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
};

// An outer object that aggregates another: it answers IUnknown itself, hands
// out the inner object's interfaces as its own, and counts the references
// that reach it, so a test can see that the inner object delegates them.
class AggregatingOuter final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, object) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }

    IUnknown* inner = nullptr;
    ULONG references = 1;
};

// An advise sink that records what it is told ("view <aspect> <index>",
// "rename", "save", "close"); lives on the test's stack. `onClose` runs
// inside OnClose, for tests that act from within the notice.
class RecordingAdviseSink final : public IAdviseSink {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IAdviseSink) {
            *object = static_cast<IAdviseSink*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void OnViewChange(DWORD aspect, LONG index) override {
        seen.push_back("view " + std::to_string(aspect) + " " + std::to_string(index));
    }
    void OnRename(IMoniker*) override { seen.push_back("rename"); }
    void OnSave() override { seen.push_back("save"); }
    void OnClose() override {
        seen.push_back("close");
        if (onClose) onClose();
    }

    ULONG references = 0;
    std::vector<std::string> seen;
    std::function<void()> onClose;
};

}  // namespace com::testing
